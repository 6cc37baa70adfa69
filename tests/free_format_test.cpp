// The input file is read with list-directed (free-format) reads and fixed-column
// fields. These rules decide which of two slightly different inputs a run accepts and
// what it makes of them, so each rule is checked on the smallest text showing it.
#include "input/free_format.hpp"

#include <gtest/gtest.h>

#include <sstream>

using namespace kaven;

namespace {

// A free read of reals from `text` into items preset to 9.
struct Reals {
  explicit Reals(std::size_t n) : v(n, 9.0f) {}
  std::vector<float> v;
  int read(LineSource& src) {
    std::vector<FreeItem> items;
    for (float& x : v) items.push_back(&x);
    return read_free(src, items);
  }
};

}  // namespace

TEST(FreeFormat, SeparatorsLinesAndTheRestOfTheLastLine) {
  // blanks, commas, tabs, blanks around commas; blank lines before and inside the list
  std::istringstream is("\n   \n1 2,3 , 4\t5\n\n6\n7 8 ignored text\nnext line\n");
  LineSource src(is);
  Reals r(8);
  EXPECT_EQ(r.read(src), 0);
  EXPECT_EQ(r.v, (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8}));
  // the next read starts on a new line: the rest of "7 8 ignored text" is gone
  std::string rest;
  EXPECT_EQ(read_text(src, 9, rest), 0);
  EXPECT_EQ(rest, "next line");
}

TEST(FreeFormat, SlashAndNullValuesLeaveItemsUnchanged) {
  {
    // values before the slash are taken, the rest keep their values
    std::istringstream is("1 2 / 3 4\n5\n");
    LineSource src(is);
    Reals r(4);
    EXPECT_EQ(r.read(src), 0);
    EXPECT_EQ(r.v, (std::vector<float>{1, 2, 9, 9}));
    std::string next;
    EXPECT_EQ(read_text(src, 1, next), 0);
    EXPECT_EQ(next, "5");
  }
  {
    // a slash on a line of its own, after the list has spanned a line
    std::istringstream is("1\n/\n");
    LineSource src(is);
    Reals r(3);
    EXPECT_EQ(r.read(src), 0);
    EXPECT_EQ(r.v, (std::vector<float>{1, 9, 9}));
  }
  {
    // two commas in a row, a leading comma, blanks between commas: null values
    std::istringstream is(",2,,4, ,6\n");
    LineSource src(is);
    Reals r(6);
    EXPECT_EQ(r.read(src), 0);
    EXPECT_EQ(r.v, (std::vector<float>{9, 2, 9, 4, 9, 6}));
  }
  {
    // a comma at the end of a line is only a separator
    std::istringstream is("1,2,\n3\n");
    LineSource src(is);
    Reals r(3);
    EXPECT_EQ(r.read(src), 0);
    EXPECT_EQ(r.v, (std::vector<float>{1, 2, 3}));
  }
}

TEST(FreeFormat, NumberForms) {
  std::istringstream is("1.5d2 -2.5D-1 3e1 +4. .5 6 7.25E+01\n");
  LineSource src(is);
  Reals r(7);
  EXPECT_EQ(r.read(src), 0);
  EXPECT_EQ(r.v, (std::vector<float>{150, -0.25f, 30, 4, 0.5f, 6, 72.5f}));

  int n = 0, m = 0;
  float x = 0;
  std::istringstream ints("-24 +3 1.5\n");
  LineSource isrc(ints);
  const FreeItem items[] = {&n, &m, &x};
  EXPECT_EQ(read_free(isrc, items), 0);
  EXPECT_EQ(n, -24);
  EXPECT_EQ(m, 3);
  EXPECT_FLOAT_EQ(x, 1.5f);
}

TEST(FreeFormat, MalformedValuesAndEndOfFile) {
  // a decimal point or an exponent where an integer is expected
  for (const char* text : {"3.\n", "3.0\n", "3e1\n", "x\n", "1-\n"}) {
    std::istringstream is(text);
    LineSource src(is);
    int n = 7;
    const FreeItem items[] = {&n};
    EXPECT_GT(read_free(src, items), 0) << text;
  }
  for (const char* text : {"1.2.3\n", "abc\n", "1e\n", "--1\n", "CU\n"}) {
    std::istringstream is(text);
    LineSource src(is);
    Reals r(1);
    EXPECT_GT(r.read(src), 0) << text;
  }
  {
    // the file ends before the list is complete: negative, the values read are kept
    std::istringstream is("1 2\n\n3\n");
    LineSource src(is);
    Reals r(5);
    EXPECT_LT(r.read(src), 0);
    EXPECT_EQ(r.v, (std::vector<float>{1, 2, 3, 9, 9}));
  }
  {
    std::istringstream is("");
    LineSource src(is);
    std::string s;
    EXPECT_LT(read_text(src, 80, s), 0);
  }
}

TEST(FreeFormat, RepeatCountsAreTakenAsFarAsTheListNeedsThem) {
  // The largest count a file can write costs no more than the values the list takes.
  {
    std::istringstream is("2147483647*1.5\nnext\n");
    LineSource src(is);
    Reals r(6);
    EXPECT_EQ(r.read(src), 0);
    EXPECT_EQ(r.v, std::vector<float>(6, 1.5f));
    std::string next;
    EXPECT_EQ(read_text(src, 4, next), 0);
    EXPECT_EQ(next, "next");
  }
  {
    // a repeat that spans the parts of one list, and null values by count
    std::istringstream is("3*2 5 2* 7\n");
    LineSource src(is);
    FreeRead list(src);
    std::vector<float> a(2, 9), b(5, 9);
    std::vector<FreeItem> ia{&a[0], &a[1]}, ib;
    for (float& x : b) ib.push_back(&x);
    ASSERT_EQ(list.read(ia), 0);
    ASSERT_EQ(list.read(ib), 0);
    EXPECT_EQ(a, (std::vector<float>{2, 2}));
    EXPECT_EQ(b, (std::vector<float>{2, 5, 9, 9, 7}));
  }
  for (const char* text : {"0*1\n", "-2*1\n", "2147483648*1\n", "x*1\n", "2*x\n", "2*3*4\n"}) {
    std::istringstream is(text);
    LineSource src(is);
    Reals r(3);
    EXPECT_GT(r.read(src), 0) << text;
  }
}

TEST(FreeFormat, ValuesBeyondSinglePrecisionAndNonNumbersAreMalformed) {
  // A real is kept in single precision: an overflow is a malformed value, never an
  // infinity; NaN and infinity are no numbers of the file.
  for (const char* text : {"1e39", "-1e39", "3.5e38", "1d300", "nan", "NaN", "inf", "-Infinity",
                           "1e99999", "0x10"}) {
    float v = 7;
    EXPECT_GT(parse_real(text, v), 0) << text;
    EXPECT_EQ(v, 7.0f) << text;
    EXPECT_GT(parse_fixed_real(text, 0, v), 0) << text;
  }
  float v = 0;
  EXPECT_EQ(parse_real("3.4e38", v), 0);
  EXPECT_FLOAT_EQ(v, 3.4e38f);
  EXPECT_EQ(parse_real("1e-60", v), 0);  // below the smallest number: zero
  EXPECT_EQ(v, 0.0f);
  EXPECT_EQ(parse_fixed_real("  3.4e38", 0, v), 0);
  int n = 0;
  EXPECT_GT(parse_integer("99999999999999999999", n), 0);
  EXPECT_EQ(parse_integer("-2147483648", n), 0);
  EXPECT_EQ(n, -2147483647 - 1);
}

TEST(FreeFormat, LinesBeyondTheLongestAreCutAndMarked) {
  // A line of 100 000 characters is read whole; one beyond kMaxLineLength is cut there,
  // marked, and a free read of it fails as malformed; the next line reads as usual.
  std::string values;
  while (values.size() < 100000) values += "1 ";
  std::string huge(kMaxLineLength + 10, '2');
  std::istringstream is(values + "\n" + huge + "\n3 4\n" + huge);
  LineSource src(is);
  Reals r(2);
  EXPECT_EQ(r.read(src), 0);
  EXPECT_FALSE(src.overlong());
  EXPECT_EQ(r.read(src), kStatusMalformed);
  EXPECT_TRUE(src.overlong());
  EXPECT_EQ(r.read(src), 0);
  EXPECT_EQ(r.v, (std::vector<float>{3, 4}));
  std::string text;
  bool cut = false;
  EXPECT_EQ(read_text(src, 72, text, &cut), 0);  // a fixed read takes its columns
  EXPECT_EQ(text, std::string(72, '2'));
  EXPECT_TRUE(cut);
  EXPECT_LT(read_text(src, 72, text, &cut), 0);
  // blanks beyond the field cut nothing
  std::istringstream names("yig.ps" + std::string(100, ' ') + "\n" + std::string(72, 'a') + "b\n");
  LineSource nsrc(names);
  EXPECT_EQ(read_text(nsrc, 72, text, &cut), 0);
  EXPECT_FALSE(cut);
  EXPECT_EQ(read_text(nsrc, 72, text, &cut), 0);
  EXPECT_TRUE(cut);
}

TEST(FreeFormat, OneListReadInParts) {
  // a count read first decides how many values follow; the values continue on the
  // same line, and the rest of the last line is dropped only when the list is over
  std::istringstream is("2 3 10 20\n30 40 50 60 99\nnext\n");
  LineSource src(is);
  FreeRead list(src);
  int ic = 0, ns = 0;
  const FreeItem head[] = {&ic, &ns};
  ASSERT_EQ(list.read(head), 0);
  EXPECT_EQ(ic, 2);
  EXPECT_EQ(ns, 3);
  std::vector<float> v(static_cast<std::size_t>(2 * ns), 0);
  std::vector<FreeItem> items;
  for (float& x : v) items.push_back(&x);
  ASSERT_EQ(list.read(items), 0);
  EXPECT_EQ(v, (std::vector<float>{10, 20, 30, 40, 50, 60}));
  std::string next;
  EXPECT_EQ(read_text(src, 4, next), 0);
  EXPECT_EQ(next, "next");
}

TEST(FixedFields, TextWidthAndImpliedDecimals) {
  std::istringstream is("Siva 0.0522    0.0431\n\tab\n" + std::string(90, 'x') + "\n");
  LineSource src(is);
  std::string s;
  ASSERT_EQ(read_text(src, 24, s), 0);
  EXPECT_EQ(s, "Siva 0.0522    0.0431   ");
  ASSERT_EQ(read_text(src, 4, s), 0);
  EXPECT_EQ(s, " ab ");  // a tab is a blank
  ASSERT_EQ(read_text(src, 80, s), 0);
  EXPECT_EQ(s, std::string(80, 'x'));

  // F10.4: columns of the element line
  float v = 9;
  EXPECT_EQ(parse_fixed_real(" 0.0522   ", 4, v), 0);
  EXPECT_FLOAT_EQ(v, 0.0522f);
  EXPECT_EQ(parse_fixed_real("       522", 4, v), 0);  // no point: four implied decimals
  EXPECT_FLOAT_EQ(v, 0.0522f);
  EXPECT_EQ(parse_fixed_real("  -12345  ", 4, v), 0);
  EXPECT_FLOAT_EQ(v, -1.2345f);
  EXPECT_EQ(parse_fixed_real("    1.5   ", 4, v), 0);  // a written point wins
  EXPECT_FLOAT_EQ(v, 1.5f);
  EXPECT_EQ(parse_fixed_real("   0.5d1  ", 4, v), 0);
  EXPECT_FLOAT_EQ(v, 5.0f);
  v = 9;
  EXPECT_EQ(parse_fixed_real("          ", 4, v), 0);  // a blank field reads 0
  EXPECT_EQ(v, 0.0f);
  EXPECT_GT(parse_fixed_real("  0.05x   ", 4, v), 0);
  EXPECT_GT(parse_fixed_real("  1.2.3   ", 4, v), 0);
}
