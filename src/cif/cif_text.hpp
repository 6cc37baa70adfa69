// A CIF as structure databases and visualisers write it, made into the strict CIF 1.1
// text that gemmi's parser reads, with the places of the file kept for messages.
//
// Two steps. The characters: a UTF-8 byte-order mark is dropped, bytes that are not
// UTF-8 are read as Latin-1 characters (with a warning), a no-break space is a blank.
// Lines and columns stay those of the file. Then the words, with a warning naming
// the line for each mend:
//  - a tag without a value (the next tag or the end follows) gets '?', unknown;
//  - words after the value of a tag on its line are joined with it into one quoted
//    value ("_symmetry_space_group_name_H-M P 21/c"), or, after a number, left out
//    ("_cell_length_a 5.4309 A");
//  - a symmetry operator written with blanks in a loop ("x, y, z") is one value;
//  - an unquoted value holding non-ASCII characters ("Görgeyit") is quoted, since
//    CIF 1.1 allows them only in quoted values, text fields and comments (no warning:
//    the value is read as written).
// Tags that appear twice are left to the block reader (cif_block.cpp), which keeps
// the first. Nothing here parses the CIF: the words are only told apart (tags,
// reserved words, values, quotes, text fields, comments) so as to mend them.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kaven {

struct CifText {
  std::string file;  // the file's characters as UTF-8: the lines and columns of messages
  std::string text;  // what gemmi parses
  // Offsets (text, file) where the mends begin and end, ascending: between two
  // anchors the two texts run alike.
  std::vector<std::pair<std::size_t, std::size_t>> anchors;
  std::vector<std::string> warnings;  // "line 12: ..."
};

CifText mend_cif_text(std::string_view raw);

// Where an offset of the mended text stands in the file: line and column (characters,
// both from 1) and the word there (up to a blank, at most 30 characters; control
// characters written as U+00XX). An empty word is the end of the file.
struct CifPlace {
  std::size_t line = 1, column = 1;
  std::string word;
  std::size_t offset = 0;  // in `file`
};
CifPlace place_in_file(const CifText& cif, std::size_t text_offset);

// A loop whose values do not fill its rows: where it begins, its tags, its values.
struct CifLoopCount {
  std::size_t line = 0;
  std::vector<std::string> tags;
  std::size_t values = 0;
};

// A parse error of gemmi's (its message and the offset it names) in words a user
// understands: "line 12, column 5: ...". `loop` describes the loop of a "Wrong number
// of values" error.
std::string cif_parse_error(const CifText& cif, std::string_view message, std::size_t offset,
                            const CifLoopCount* loop = nullptr);

}  // namespace kaven
