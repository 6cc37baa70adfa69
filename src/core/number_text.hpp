// Numbers as text for files that programs read back: the shortest decimal form that
// reads back as the same value ("0.25", "1e-05", "-65.98"). A float is written as the
// float it is, not as the double it widens to (0.1f gives "0.1", not
// "0.10000000149011612"). Zero is written "0", also when it is -0.
//
// And the digits of fixed-point fields with few decimals in integer arithmetic, the
// common case of the listing, the calculated scan and the plot files.
#pragma once
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace kaven {

// How an exact tie between two decimals is rounded: away from zero (the listing's
// fields) or to the even one (printf, to_chars).
enum class Ties { away_from_zero, to_even };

// a >= 0 rounded to `decimals` places, as a count of units of 10^-decimals: the exact
// binary value rounded correctly. The product p = a 10^decimals is rounded once (by at
// most half a unit in its last place); where p lies that close to a halfway point
// k +- 1/2, the exact sign of a 10^decimals - (k +- 1/2), which fma forms without
// rounding, decides. nullopt when the count would reach 2^52 or decimals lies outside
// 0..22 (10^decimals is then no longer exact).
inline std::optional<std::uint64_t> decimal_count(double a, int decimals, Ties ties) {
  static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                      1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (decimals < 0 || decimals > 22 || !(a >= 0)) return std::nullopt;
  const double m = kPow10[decimals];
  const double p = a * m;
  if (!(p < 0x1p52)) return std::nullopt;
  // the nearest integer of p (p + 1/2 is exact below 2^52; truncation is floor here)
  auto k = static_cast<std::uint64_t>(p + 0.5);
  const double dk = static_cast<double>(k);
  const double margin = p * 0x1p-50 + 0x1p-1000;  // beyond the rounding of p
  if (p - (dk - 0.5) > margin && (dk + 0.5) - p > margin) return k;
  const double below = std::fma(a, m, -(dk - 0.5)), above = std::fma(a, m, -(dk + 0.5));
  const bool k_even = (k & 1) == 0;
  if (below < 0) {
    k -= 1;
  } else if (above > 0) {
    k += 1;
  } else if (above == 0) {  // halfway between k and k + 1
    if (ties == Ties::away_from_zero || !k_even) k += 1;
  } else if (below == 0) {  // halfway between k - 1 and k
    if (ties == Ties::to_even && !k_even) k -= 1;
  }
  return k;
}

// A count of units of 10^-decimals written backwards from `end`: the integer digits
// (none when the integer part is 0), the point, the fraction digits ("12.50", ".05",
// "3."). Returns the first character written; at most 17 + decimals of them.
inline char* put_decimal_count(char* end, std::uint64_t count, int decimals) {
  char* p = end;
  for (int i = 0; i < decimals; ++i) {
    *--p = static_cast<char>('0' + count % 10);
    count /= 10;
  }
  *--p = '.';
  while (count > 0) {
    *--p = static_cast<char>('0' + count % 10);
    count /= 10;
  }
  return p;
}

// The shortest form appended to a text. Locale-independent: to_chars and from_chars
// know no decimal comma.
inline void append_shortest(std::string& out, float v) {
  if (v == 0) {
    out += '0';
    return;
  }
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  // A reader that converts through double would round a form right at a float rounding
  // boundary the other way; such a value is written with nine digits instead.
  double back = 0;
  std::from_chars(buf, res.ptr, back);
  if (static_cast<float>(back) != v) res = std::to_chars(buf, buf + sizeof buf, double(v), std::chars_format::general, 9);
  out.append(buf, res.ptr);
}

inline void append_shortest(std::string& out, double v) {
  if (v == 0) {
    out += '0';
    return;
  }
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, res.ptr);
}

inline std::string shortest(float v) {
  std::string s;
  append_shortest(s, v);
  return s;
}

inline std::string shortest(double v) {
  std::string s;
  append_shortest(s, v);
  return s;
}

}  // namespace kaven
