// Reading the input file the way its format is defined: fixed-column fields and
// free-format (list-directed) value lists.
//
// Free format: a read starts on a new line; values are separated by blanks, tabs or
// commas; a read takes as many lines as its list needs and ignores the rest of its last
// line; a slash ends the list early and leaves the remaining items unchanged; two
// commas in a row leave an item unchanged; r*v repeats a value. An integer item must
// be written without a decimal point; a real beyond the range of single precision is
// malformed, as is a line longer than kMaxLineLength characters that a free read
// takes values from. Status: 0 success, positive for a malformed value, negative when
// the file ends before the list is complete.
#pragma once
#include <istream>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kaven {

inline constexpr int kStatusMalformed = 1;
inline constexpr int kStatusEndOfFile = -1;

// No text line of an input or scan file is longer; the characters beyond are dropped
// as the line is read (and the line is marked), so that a file without line ends cannot
// make a reader take its whole size into memory.
inline constexpr std::size_t kMaxLineLength = std::size_t{1} << 20;

// One item of a free-format list: where to store a real or an integer.
using FreeItem = std::variant<float*, int*>;

// A source of input lines (the input file, or a single internal record).
class LineSource {
 public:
  explicit LineSource(std::istream& is) : is_(&is) {}
  explicit LineSource(std::string single_record) : lines_{std::move(single_record)} {}
  // The next line without its end-of-line characters, at most kMaxLineLength of them;
  // false at the end of the file.
  bool next(std::string& line);
  // The last line was longer than kMaxLineLength: its end was dropped.
  bool overlong() const { return overlong_; }
  int line_number() const { return line_number_; }

 private:
  std::istream* is_ = nullptr;
  std::vector<std::string> lines_;
  std::size_t pos_ = 0;
  int line_number_ = 0;
  bool overlong_ = false;
};

// Fixed read of a text field of `width` columns (blank-padded or cut). `cut`, when
// given, tells whether characters other than blanks stood beyond the field.
int read_text(LineSource& src, std::size_t width, std::string& out, bool* cut = nullptr);

// One free-format read whose item list is taken in parts (a count read first decides
// how many items follow): the parts continue on the same line; what follows the last
// needed value on the last line is ignored when the read is over.
class FreeRead {
 public:
  explicit FreeRead(LineSource& src) : src_(src) {}
  int read(std::span<const FreeItem> items);

 private:
  // A value of the line; r*v stands for r values v (r* for r null values), kept as its
  // count so that a large repeat takes no memory: what the list does not need of it
  // is left for the next part.
  struct Token {
    std::string text;
    bool null = false;
    bool counted = false;  // the repeat count is split off
    long repeat = 1;       // values still to be taken
  };
  LineSource& src_;
  std::vector<Token> pending_;  // values of the current line not yet taken
  std::size_t next_ = 0;
  bool slash_ = false;  // a slash ended the list
};

// Free-format read of the items.
int read_free(LineSource& src, std::span<const FreeItem> items);

// Numeric field of a fixed-column record (Fw.d input): blanks are ignored, an all-blank
// field reads 0, and without a decimal point the last d digits are decimals.
int parse_fixed_real(std::string_view field, int decimals, float& out);
// Integer field of a fixed-column record (Iw input): blanks are ignored, an all-blank
// field reads 0.
int parse_fixed_integer(std::string_view field, int& out);

// A single free-format value.
int parse_real(std::string_view token, float& out);
int parse_integer(std::string_view token, int& out);

}  // namespace kaven
