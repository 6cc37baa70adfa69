// The fixed-column fields are the listing's whole contract with its readers: a field
// that is one column too wide shifts every later column of the record.
#include "report/record_format.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "core/number_text.hpp"

using namespace kaven::rec;

TEST(RecordFields, IntegersFillOrOverflowTheirField) {
  EXPECT_EQ(I(3, 230), "230");
  EXPECT_EQ(I(4, -7), "  -7");
  EXPECT_EQ(I(3, 1000), "***");
  EXPECT_EQ(I(3, -100), "***");  // the sign needs a column too
  EXPECT_EQ(I(2, 0), " 0");
}

TEST(RecordFields, FixedPointRoundsToNearestAndKeepsTheSign) {
  EXPECT_EQ(F(8, 4, 0.0522), "  0.0522");
  EXPECT_EQ(F(10, 4, 12.38), "   12.3800");
  EXPECT_EQ(F(7, 2, -0.004), "  -0.00");   // negative values that round to zero
  EXPECT_EQ(F(7, 2, 0.004), "   0.00");
  EXPECT_EQ(F(6, 3, 0.125f), " 0.125");
  EXPECT_EQ(F(5, 2, 0.125f), " 0.13");     // an exact binary tie goes away from zero
  EXPECT_EQ(F(5, 2, -0.125f), "-0.13");
  EXPECT_EQ(F(5, 1, 99.95), "100.0");      // rounding carries into a new digit, still fits
  EXPECT_EQ(F(5, 1, 999.96), "*****");     // ... or no longer fits
  EXPECT_EQ(F(4, 3, 0.5), ".500");         // no room for the leading zero
  EXPECT_EQ(F(4, 3, 1.5), "****");
  EXPECT_EQ(F(5, 3, -0.5), "-.500");
  EXPECT_EQ(F(12, 2, 123456789.0), "123456789.00");
  EXPECT_EQ(F(4, 0, 1.0), "  1.");
  EXPECT_EQ(F(4, 0, -1.0), " -1.");
  EXPECT_EQ(F(6, 3, 0.333333f), " 0.333");
}

TEST(RecordFields, ExponentFormWithAndWithoutRoomForTheLeadingZero) {
  EXPECT_EQ(E(10, 4, 2e9 * 0.01), "0.2000E+08");
  EXPECT_EQ(E(10, 2, 0.01), "  0.10E-01");
  EXPECT_EQ(E(10, 4, -2e7), "-.2000E+08");  // no room for the zero with a sign
  EXPECT_EQ(E(11, 4, -2e7), "-0.2000E+08");
  EXPECT_EQ(E(10, 4, 0.0), "0.0000E+00");
  EXPECT_EQ(E(10, 4, 9.99996e7), "0.1000E+09");  // rounding moves the exponent
  EXPECT_EQ(E(10, 4, 1e-120), "0.1000-119");
  EXPECT_EQ(E(9, 4, 1e-120), ".1000-119");
  EXPECT_EQ(E(8, 4, 1e5), "********");
  // An exact decimal tie rounds away from zero, in the mantissa as in Fw.d.
  EXPECT_EQ(E(10, 4, 1542.5), "0.1543E+04");
  EXPECT_EQ(E(10, 4, -1542.5), "-.1543E+04");
  EXPECT_EQ(E(10, 4, 0.15425), "0.1542E+00");  // below the tie in binary
  EXPECT_EQ(E(10, 2, 99.5), "  0.10E+03");     // the tie carries into the exponent
}

TEST(RecordFields, TextsAndPadding) {
  EXPECT_EQ(A(5, "i-o"), "  i-o");
  EXPECT_EQ(A(4, "Fe3+x"), "Fe3+");
  EXPECT_EQ(X(3), "   ");
  EXPECT_EQ(pad("yig.ps", 8), "yig.ps  ");
  EXPECT_EQ(pad("abcdef", 3), "abc");
  EXPECT_EQ(rtrim("ab  "), "ab");
  EXPECT_EQ(rtrim("   "), "");
}

// gfortran's fields of many values in many formats (ties, negatives, zeros, overflow,
// three-digit exponents), written with rounding "compatible" by
// tools/fortran_format_table.f90: the formatter writes every one of them the same.
// Kind 4 values go through float as the listing's stored values do.
TEST(RecordFields, AgreeWithGfortransFields) {
  std::ifstream in(std::string(KAVEN_SOURCE_DIR) + "/tests/data/fortran_format_table.txt");
  ASSERT_TRUE(in) << "tests/data/fortran_format_table.txt";
  int compared = 0, differ = 0;
  std::map<char, int> per_letter;
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string kind, text, format;
    fields >> kind >> text >> format;
    const std::size_t bar = line.find('|');
    ASSERT_NE(bar, std::string::npos) << line;
    const std::string want = line.substr(bar + 1, line.size() - bar - 2);
    const char letter = format[0];
    const std::size_t dot = format.find('.');
    const int w = std::stoi(format.substr(1, dot == std::string::npos ? std::string::npos : dot - 1));
    const int d = dot == std::string::npos ? 0 : std::stoi(format.substr(dot + 1));
    ASSERT_EQ(static_cast<int>(want.size()), w) << line;
    std::string got;
    if (letter == 'I') {
      got = I(w, std::stoll(text));
    } else {
      const double v = kind == "4" ? double(std::strtof(text.c_str(), nullptr))
                                   : std::strtod(text.c_str(), nullptr);
      got = letter == 'E' ? E(w, d, v) : F(w, d, v);
    }
    ++compared;
    ++per_letter[letter];
    if (got != want && ++differ <= 20)
      ADD_FAILURE() << "kind " << kind << " value " << text << " " << format << ": gfortran |"
                    << want << "|, here |" << got << "|";
  }
  EXPECT_EQ(differ, 0);
  EXPECT_GT(per_letter['E'], 1000);
  EXPECT_GT(per_letter['F'], 1000);
  EXPECT_GT(per_letter['I'], 100);
  std::printf("      %d fields compared with gfortran's\n", compared);
}

// Fixed-point digits from integer arithmetic against the exact decimal expansion of the
// binary value (printf with enough places), rounded by hand: ties away from zero for
// the fields, to even as printf rounds. Values of every kind: exact binary ties,
// decimal fractions that are no ties, floats, large and tiny values.
TEST(RecordFields, FixedDigitsAgreeWithTheExactDecimalExpansion) {
  std::uint64_t state = 12345;
  auto next = [&] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return state >> 11;
  };
  auto rounded_up = [](std::string t) {  // the last digit raised by one, carrying
    std::size_t i = t.size();
    while (i > 0 && t[i - 1] == '9') t[--i] = '0';
    if (i > 0) ++t[i - 1];
    else t.insert(t.begin(), '1');
    return t;
  };
  static char exact[1400], printed[1400];
  for (int it = 0; it < 20000; ++it) {
    const int d = static_cast<int>(next() % 8);
    double v = 0;
    switch (next() % 5) {
      case 0: v = std::ldexp(double(next() % 100000), -static_cast<int>(next() % 16)); break;
      case 1: v = double(next() % 2000000) / std::pow(10.0, double(next() % 7)); break;
      case 2: v = double(std::ldexp(float(next() % (1 << 24)), -static_cast<int>(next() % 40))); break;
      case 3: v = std::ldexp(double(next() % (1ULL << 53)), static_cast<int>(next() % 40) - 60); break;
      default: v = std::ldexp(double(next() % 1000), static_cast<int>(next() % 2000) - 1000); break;
    }
    if (next() % 2) v = -v;
    std::snprintf(exact, sizeof exact, "%.1100f", std::fabs(v));
    const std::string s(exact);
    const std::size_t dot = s.find('.'), cut = dot + 1 + static_cast<std::size_t>(d);
    const std::string digits = s.substr(0, dot) + s.substr(dot + 1, static_cast<std::size_t>(d));
    const bool tie = s[cut] == '5' && s.find_first_not_of('0', cut + 1) == std::string::npos;
    const std::string away = s[cut] >= '5' ? rounded_up(digits) : digits;
    const std::size_t n_int = away.size() - static_cast<std::size_t>(d);
    std::string int_part = away.substr(0, n_int);
    int_part.erase(0, std::min(int_part.find_first_not_of('0'), int_part.size()));
    const std::string body = std::string(std::signbit(v) ? "-" : "") +
                             (int_part.empty() ? "0" : int_part) + "." + away.substr(n_int);
    EXPECT_EQ(F(static_cast<int>(body.size()) + 1, d, v), " " + body) << v << " to " << d << " places";
    const std::optional<std::uint64_t> count = kaven::decimal_count(std::fabs(v), d, kaven::Ties::to_even);
    if (!count) continue;  // 10^d |v| from 2^52 on
    char text[48];
    std::string mine(kaven::put_decimal_count(text + sizeof text, *count, d), text + sizeof text);
    if (mine[0] == '.') mine.insert(mine.begin(), '0');
    if (d == 0) mine.pop_back();  // printf writes no point without decimals
    std::snprintf(printed, sizeof printed, "%.*f", d, std::fabs(v));
    EXPECT_EQ(mine, printed) << v << " to " << d << " places" << (tie ? " (a tie)" : "");
  }
}
