#include "report/record_format.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "core/number_text.hpp"

namespace kaven::rec {
namespace {

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

void append_stars(std::string& out, int w) { out.append(static_cast<std::size_t>(std::max(w, 0)), '*'); }

// s right-justified in w columns, or w asterisks when it is wider.
void append_right(std::string& out, int w, std::string_view s) {
  if (static_cast<int>(s.size()) > w) return append_stars(out, w);
  out.append(static_cast<std::size_t>(w) - s.size(), ' ');
  out.append(s);
}

// |v| rounded to `decimals` places, ties away from zero, as text: the integer digits
// without leading zeros (none for zero) and the fraction digits.
struct FixedDigits {
  char buf[400];  // a double has at most 309 integer digits; 80 fraction digits at most
  std::string_view int_part, frac_part;
};

void split_fixed(const char* begin, const char* end, FixedDigits& f) {
  const char* dot = std::find(begin, end, '.');
  const char* first = begin;
  while (first < dot && *first == '0') ++first;
  f.int_part = std::string_view(first, static_cast<std::size_t>(dot - first));
  f.frac_part = dot == end ? std::string_view() : std::string_view(dot + 1, static_cast<std::size_t>(end - dot - 1));
}

// For the values decimal_count does not take (10^decimals |v| from 2^52 on, or more
// than 21 decimals): the exact decimal expansion (80 places hold it for every value not
// far below 1), rounded here; b[0] is kept for a carry into a new digit.
void round_fixed(double a, int decimals, FixedDigits& f) {
  char* const b = f.buf;
  char* const e = f.buf + sizeof f.buf;
  const auto r = std::to_chars(b + 1, e, a, std::chars_format::fixed, 80);
  char* const dot = std::find(b + 1, r.ptr, '.');
  const int kept = std::clamp(decimals, 0, 80);
  char* const cut = dot + 1 + kept;  // the first digit dropped
  char* start = b + 1;
  if (kept < 80 && *cut >= '5') {
    char* p = cut - 1;
    for (; p >= b + 1; --p) {
      if (*p == '.') continue;
      if (*p == '9') {
        *p = '0';
      } else {
        ++*p;
        break;
      }
    }
    if (p < b + 1) *--start = '1';
  }
  split_fixed(start, kept > 0 ? cut : dot, f);
}

// 2 a 10^s is an odd integer: a lies exactly halfway between two multiples of 10^-s.
// Judged exactly while the integer stays below 2^53 (where doubles are exact integers).
bool decimal_tie_at(double a, int s) {
  if (s >= 0) {
    if (s > 22) return false;
    const double m = 2 * kPow10[s];
    const double p = a * m;
    return p < 0x1p53 && std::fma(a, m, -p) == 0 && std::fmod(p, 2.0) == 1.0;
  }
  if (-s > 22) return false;
  const double q = kPow10[-s], two_a = 2 * a;
  const double p = two_a / q;
  return p < 0x1p53 && std::fma(p, q, -two_a) == 0 && std::fmod(p, 2.0) == 1.0;
}

// Ew.d mantissa digits (d of them) and decimal exponent of |v| = 0.mant x 10^exp10,
// rounded to nearest with ties away from zero. From the exact decimal expansion of |v|
// (a double has at most 767 significant digits).
void exponent_digits_exact(double a, std::size_t n, std::string& mant, int& exp10) {
  char buf[1024];
  std::snprintf(buf, sizeof buf, "%.800e", a);
  const std::string s(buf);
  const std::size_t e = s.find('e');
  const std::string digits = s.substr(0, 1) + s.substr(2, e - 2);
  exp10 = std::atoi(s.c_str() + e + 1) + 1;
  mant = digits.substr(0, n);
  if (digits[n] >= '5') {
    std::size_t i = n;
    while (i > 0 && mant[i - 1] == '9') mant[--i] = '0';
    if (i > 0) {
      ++mant[i - 1];
    } else {  // 0.99..95 became 1.00..0: one more power of ten
      if (n > 0) mant[0] = '1';
      ++exp10;
    }
  }
}

// The same from to_chars: correctly rounded, and a tie (which needs at most n + 1
// significant digits, exact) rounded away from zero here. For 1 <= n <= 15, where the
// tie test is exact.
void exponent_digits(double a, std::size_t n, std::string& mant, int& exp10) {
  char t[64];
  auto exponent_of = [&](const char* end) {
    int x = 0;
    const char* ep = std::find(static_cast<const char*>(t), end, 'e');
    std::from_chars(ep + (ep[1] == '+' ? 2 : 1), end, x);
    return x;
  };
  // the decimal exponent of |v| itself (17 digits do not round up to the next power)
  const int e = exponent_of(std::to_chars(t, t + sizeof t, a, std::chars_format::scientific, 16).ptr);
  const bool tie = decimal_tie_at(a, static_cast<int>(n) - 1 - e);
  const auto r = std::to_chars(t, t + sizeof t, a, std::chars_format::scientific, static_cast<int>(tie ? n : n - 1));
  mant.assign(1, t[0]);
  if (n > 1 || tie) mant.append(t + 2, std::find(t, r.ptr, 'e'));
  exp10 = exponent_of(r.ptr) + 1;
  if (!tie) return;
  mant.pop_back();  // the 5 of the tie
  std::size_t i = n;
  while (i > 0 && mant[i - 1] == '9') mant[--i] = '0';
  if (i > 0) {
    ++mant[i - 1];
  } else {
    mant[0] = '1';
    ++exp10;
  }
}

}  // namespace

void append_I(std::string& out, int w, long long v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  append_right(out, w, std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
}

void append_F(std::string& out, int w, int d, double v) {
  if (!std::isfinite(v)) return append_stars(out, w);
  const bool negative = std::signbit(v);
  if (d <= 21 && w > 0 && w <= 40) {
    if (const std::optional<std::uint64_t> count = decimal_count(std::fabs(v), d, Ties::away_from_zero)) {
      // the field formed in place at the end of `out`, right to left
      const std::size_t start = out.size();
      out.resize(start + static_cast<std::size_t>(w));
      char buf[48];
      char* const end = buf + sizeof buf;
      char* p = put_decimal_count(end, *count, d);
      // the leading zero only when it fits
      if (*p == '.' && static_cast<int>(end - p) + negative + 1 <= w) *--p = '0';
      if (negative) *--p = '-';
      const auto n = static_cast<std::size_t>(end - p);
      char* const field = out.data() + start;
      if (n > static_cast<std::size_t>(w)) {
        std::fill(field, field + w, '*');
      } else {
        std::fill(field, field + (static_cast<std::size_t>(w) - n), ' ');
        std::copy(p, end, field + (static_cast<std::size_t>(w) - n));
      }
      return;
    }
  }
  FixedDigits f;
  round_fixed(std::fabs(v), d, f);
  // sign, leading zero (only when it fits), integer digits, point, fraction
  std::string body = negative ? "-" : "";
  if (f.int_part.empty() && static_cast<int>(body.size() + f.frac_part.size()) + 2 <= w) body += '0';
  body += f.int_part;
  body += '.';
  body += f.frac_part;
  append_right(out, w, body);
}

void append_E(std::string& out, int w, int d, double v) {
  if (!std::isfinite(v)) return append_stars(out, w);
  const double a = std::fabs(v);
  const std::size_t n = static_cast<std::size_t>(d > 0 ? d : 0);
  int exp10 = 0;  // |v| = 0.mant x 10^exp10
  std::string mant(n, '0');
  if (a != 0.0) {
    if (n >= 1 && n <= 15)
      exponent_digits(a, n, mant, exp10);
    else
      exponent_digits_exact(a, n, mant, exp10);
  }
  char ex[8];
  const int ae = std::abs(exp10);
  if (ae > 999) return append_stars(out, w);
  std::size_t m = 0;
  if (ae <= 99) ex[m++] = 'E';
  ex[m++] = exp10 < 0 ? '-' : '+';
  if (ae > 99) ex[m++] = static_cast<char>('0' + ae / 100);
  ex[m++] = static_cast<char>('0' + ae / 10 % 10);
  ex[m++] = static_cast<char>('0' + ae % 10);
  std::string body = std::signbit(v) ? "-" : "";
  const std::size_t rest = 1 + mant.size() + m;
  if (static_cast<int>(body.size() + rest) + 1 <= w) body += '0';
  body += '.';
  body += mant;
  body.append(ex, m);
  append_right(out, w, body);
}

std::string I(int w, long long v) {
  std::string s;
  append_I(s, w, v);
  return s;
}

std::string F(int w, int d, double v) {
  std::string s;
  append_F(s, w, d, v);
  return s;
}

std::string E(int w, int d, double v) {
  std::string s;
  append_E(s, w, d, v);
  return s;
}

std::string A(int w, std::string_view s) {
  if (static_cast<int>(s.size()) >= w) return std::string(s.substr(0, static_cast<std::size_t>(w)));
  return std::string(static_cast<std::size_t>(w) - s.size(), ' ') + std::string(s);
}

std::string X(int n) { return std::string(static_cast<std::size_t>(n > 0 ? n : 0), ' '); }

}  // namespace kaven::rec
