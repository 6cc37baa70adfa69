// Reading CIFs as structure databases and visualisers write them: each quirk must give
// what the clean file gives, with a warning naming its line; what cannot be read is
// one message naming the line, the column and the text found there.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "cif/cif_structure.hpp"
#include "cif/cif_text.hpp"
#include "cif/input_from_cif.hpp"
#include "tests/run_fixture.hpp"

using namespace kaven_test;

namespace {

std::string file_text(const fs::path& p) {
  std::ifstream is(p, std::ios::binary);
  std::stringstream ss;
  ss << is.rdbuf();
  return ss.str();
}

std::string data(const std::string& name) { return file_text(source_path("tests/data/cif/" + name)); }

// The input file of a structure for copper radiation, primary 2 0 0, fixed names.
std::string input_text(const kaven::CifStructure& st) {
  kaven::CifRunOptions o;
  o.hkl = {2, 0, 0};
  o.tube = "Cu";
  o.plot_file = "nacl.ps";
  o.title = "NaCl";
  return kaven::input_file_text(kaven::input_from_cif(st, o).deck);
}

std::string error_of(const std::string& text, const std::string& block = {}) {
  try {
    kaven::cif_structure_from_text(text, block);
  } catch (const kaven::CifError& e) {
    return e.what();
  }
  return "(read)";
}

}  // namespace

TEST(CifReading, AnExportWithEveryQuirkReadsAsTheCleanFile) {
  // Byte-order mark, CRLF line ends, tags given twice (the first value is taken: the
  // second a is 5.7), several words without quotes, units after numbers, a tag without
  // a value, non-ASCII text outside quotes and operators written with blanks.
  const kaven::CifStructure clean = kaven::cif_structure_from_text(data("nacl.cif"));
  const kaven::CifStructure quirks = kaven::cif_structure_from_text(data("nacl-quirks.cif"));
  EXPECT_TRUE(clean.warnings.empty());
  EXPECT_EQ(quirks.cell, clean.cell);
  EXPECT_EQ(quirks.formula, "Cl Na");
  EXPECT_EQ(quirks.space_group_name, "F m -3 m");
  EXPECT_EQ(input_text(quirks), input_text(clean));
  const std::vector<std::string> want = {
      "line 9: _journal_coden_ASTM has no value; it is read as unknown (?)",
      "line 11: _chemical_formula_sum appears again (first on line 10); the first value is taken",
      "line 13: the text 'A' after the value 5.6402 of _cell_length_b is left out",
      "line 15: _cell_length_a appears again (first on line 12); the first value is taken",
      "line 17: the text 'deg' after the value 90.0 of _cell_angle_beta is left out",
      "line 19: the words after _symmetry_space_group_name_H-M are read as one value, 'F m -3 m' "
      "(a value of several words belongs in quotes)",
      "line 22: the symmetry operators written with blanks ('x, y, z' and 7 more) are read as one "
      "value each",
  };
  EXPECT_EQ(quirks.warnings, want);

  // A repeated loop column is left out, the first loop kept whole; a pair that repeats
  // a loop's tag is dropped as well.
  std::string twice = data("nacl.cif");
  twice += "_atom_site_label X\nloop_\n_atom_site_aniso_label\n_atom_site_fract_x\n_atom_site_aniso_U_11\n"
           "Na1 0.3 0.02\nCl1 0.3 0.02\n";
  const kaven::CifStructure t = kaven::cif_structure_from_text(twice);
  ASSERT_EQ(t.sites.size(), 2u);
  EXPECT_EQ(t.sites[0].fract[0], 0.0);
  EXPECT_EQ(t.sites[0].label, "Na1");
  EXPECT_EQ(t.warnings,
            (std::vector<std::string>{
                "line 25: _atom_site_label appears again (first on line 15); the first value is taken",
                "line 26: the loop there repeats _atom_site_fract_x (first on line 15); its column is left out"}));
}

TEST(CifReading, SeveralBlocksTheFirstWithAtomsOrTheOneNamed) {
  const std::string two = data("two-structures.cif");
  const kaven::CifStructure first = kaven::cif_structure_from_text(two);
  EXPECT_EQ(first.block_name, "NaCl");
  EXPECT_EQ(first.warnings, std::vector<std::string>{
                                "the file holds 2 data blocks with atom sites (NaCl, KCl): the first, "
                                "'NaCl', is read (--block NAME reads another)"});
  const kaven::CifStructure kcl = kaven::cif_structure_from_text(two, "kcl");  // names without case
  EXPECT_EQ(kcl.block_name, "KCl");
  EXPECT_FLOAT_EQ(static_cast<float>(kcl.cell[0]), 6.2931f);
  EXPECT_TRUE(kcl.warnings.empty());
  EXPECT_EQ(error_of(two, "global"), "the CIF gives no cell: _cell_length_a is missing");
  EXPECT_EQ(error_of(two, "NaBr"), "the file holds no data block named 'NaBr' (its blocks: global, NaCl, KCl)");

  // A block of publication data and one structure: a note says which block was read.
  const std::string one = two.substr(0, two.find("data_KCl"));
  const kaven::CifStructure nacl = kaven::cif_structure_from_text(one);
  EXPECT_TRUE(nacl.warnings.empty());
  ASSERT_FALSE(nacl.notes.empty());
  EXPECT_EQ(nacl.notes[0], "the structure is read from data block 'NaCl', the one of the file's 2 blocks "
                           "with atom sites");
}

TEST(CifReading, CharactersBeyondAsciiAreReadOrNamed) {
  const std::string nacl = data("nacl.cif");
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string t = nacl;
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  // A label in UTF-8 outside quotes is read as written and named in messages.
  const kaven::CifStructure utf8 = kaven::cif_structure_from_text(replaced("Na1 Na+", "Naα1 Na+"));
  EXPECT_EQ(utf8.sites[0].label, "Naα1");
  EXPECT_TRUE(utf8.warnings.empty());
  EXPECT_EQ(error_of(replaced("Na1 Na+", "Naα1 Xq")), "(read)");
  try {
    input_text(kaven::cif_structure_from_text(replaced("Na1 Na+", "Naα1 Xq")));
    ADD_FAILURE();
  } catch (const kaven::CifError& e) {
    EXPECT_EQ(std::string(e.what()),
              "atom site 'Naα1': the type symbol 'Xq' names no element of the scattering-factor table");
  }
  // A Latin-1 byte (an export in the old encoding) is its Latin-1 character, once warned.
  const kaven::CifStructure latin1 =
      kaven::cif_structure_from_text(replaced("Na1 Na+", "Na\xE9 Na+").insert(0, "# M\xFCller\n"));
  EXPECT_EQ(latin1.sites[0].label, "Naé");
  EXPECT_EQ(latin1.warnings, std::vector<std::string>{
                                 "line 1: the byte 0xFC is no UTF-8; bytes that are not are read as "
                                 "Latin-1 characters"});
  // A byte-order mark and a no-break space (copied from a word processor) are blanks.
  const kaven::CifStructure marked =
      kaven::cif_structure_from_text("\xEF\xBB\xBF" + replaced("_cell_length_a 5.6402", "_cell_length_a\xC2\xA0" "5.6402"));
  EXPECT_FLOAT_EQ(static_cast<float>(marked.cell[0]), 5.6402f);
  EXPECT_EQ(input_text(marked), input_text(kaven::cif_structure_from_text(nacl)));
}

TEST(CifReading, ParseErrorsNameTheLineTheColumnAndTheText) {
  const std::pair<std::string, std::string> cases[] = {
      {"data_x\n_a 'abc\n", "line 2, column 4: the value opened by ' is not closed on its line (a quote "
                            "closes a value only where a blank or the end of the line follows it)"},
      {"data_x\n_a\n;\ntext\n", "line 3: the text field opened by ';' at the start of this line is never "
                                "closed (a line beginning with ';' closes it)"},
      {"_cell_length_a 5\ndata_x\n", "line 1, column 1: '_cell_length_a' stands where the first data "
                                     "block should begin (a line data_NAME)"},
      {"\xEF\xBB\xBF  hello\n", "line 1, column 3: 'hello' stands where the first data block should "
                                "begin (a line data_NAME)"},
      {"data_x\n_a 1\n\n  stray words\n", "line 4, column 3: 'stray' stands where a tag (_name), loop_ or "
                                          "data_NAME was expected: a value without its tag, or a value of "
                                          "several words without quotes"},
      {"data_x\nloop_\n_a\n_b\n1 2\n3\n", "line 2: the loop of 2 tags (_a, _b) holds 3 values, which do "
                                          "not fill its rows: a value is missing or one too many (a value of "
                                          "several words belongs in quotes)"},
      {"data_x\n_tag_\xC3\xA9 1\n", "line 2, column 6: the character 'é' cannot stand in a tag, a block "
                                    "name or an unquoted value (a CIF 1.1 file holds other than ASCII "
                                    "characters only in quoted values, text fields and comments)"},
      {"data_x\n_a x\x01y\n", "line 2, column 5: the control character U+0001 cannot stand in a tag, a "
                              "block name or an unquoted value (a CIF 1.1 file holds other than ASCII "
                              "characters only in quoted values, text fields and comments)"},
      {"data_x\nloop_\n  1 2\n", "line 3, column 3: '1' follows loop_, which must be followed by its tags "
                                 "(_name)"},
  };
  for (const auto& [text, message] : cases) EXPECT_EQ(error_of(text), "cannot read the CIF: " + message) << text;

  // The places are those of the file, also after mends earlier on the line or before.
  const kaven::CifText mended = kaven::mend_cif_text("data_x\n_a b c\n_f Grüße x\n");
  EXPECT_EQ(mended.text, "data_x\n_a 'b c'\n_f 'Grüße x'\n");
  const kaven::CifPlace p = kaven::place_in_file(mended, mended.text.find("ße"));
  EXPECT_EQ(p.line, 3u);
  EXPECT_EQ(p.column, 7u);
  EXPECT_EQ(p.word, "ße");
}
