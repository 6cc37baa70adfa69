#include "report/record_format.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace kaven::rec {
namespace {

std::string stars(int w) { return std::string(static_cast<std::size_t>(w > 0 ? w : 0), '*'); }

std::string right(int w, const std::string& s) {
  if (static_cast<int>(s.size()) > w) return stars(w);
  return std::string(static_cast<std::size_t>(w) - s.size(), ' ') + s;
}

// |v| lies exactly halfway between two multiples of 10^-decimals: 2 |v| 10^decimals
// is an odd integer. The product is exact when its rounding error (by fma) is zero; an
// integer below 2^52 always is. Larger products are not judged (nullopt).
std::optional<bool> decimal_tie(double a, int decimals) {
  static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                      1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (decimals < 0 || decimals > 21) return std::nullopt;
  const double m = 2 * kPow10[decimals];
  const double p = a * m;
  if (!(p < 0x1p52)) return std::nullopt;
  return std::fma(a, m, -p) == 0 && std::fmod(p, 2.0) == 1.0;
}

// The same digits from the exact decimal expansion, rounded by hand.
void round_fixed_by_hand(double v, int decimals, std::string& int_part, std::string& frac_part);

// Decimal digits of |v| rounded to `decimals` places, ties away from zero.
// Returns integer-part digits and fraction digits separately.
void round_fixed(double v, int decimals, std::string& int_part, std::string& frac_part) {
  const double a = std::fabs(v);
  // printf rounds the exact binary value correctly, but to even on a tie.
  const std::optional<bool> tie = decimal_tie(a, decimals);
  if (!tie || *tie) {
    round_fixed_by_hand(v, decimals, int_part, frac_part);
    return;
  }
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, a);
  const std::string_view s(buf);
  const std::size_t dot = s.find('.');
  int_part = std::string(s.substr(0, dot));
  frac_part = dot == std::string_view::npos ? std::string() : std::string(s.substr(dot + 1));
  std::size_t nz = int_part.find_first_not_of('0');
  int_part = nz == std::string::npos ? std::string() : int_part.substr(nz);
}

void round_fixed_by_hand(double v, int decimals, std::string& int_part, std::string& frac_part) {
  // glibc prints the exact binary value for large precisions; round by hand on it.
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.80f", std::fabs(v));
  std::string s(buf);
  std::size_t dot = s.find('.');
  std::string ip = s.substr(0, dot);
  std::string fp = s.substr(dot + 1);
  bool up = fp.size() > static_cast<std::size_t>(decimals) && fp[decimals] >= '5';
  std::string digits = ip + fp.substr(0, decimals);
  if (up) {
    int i = static_cast<int>(digits.size()) - 1;
    while (i >= 0) {
      if (digits[i] == '9') {
        digits[i] = '0';
        --i;
      } else {
        ++digits[i];
        break;
      }
    }
    if (i < 0) digits.insert(digits.begin(), '1');
  }
  std::size_t n_int = digits.size() - static_cast<std::size_t>(decimals);
  int_part = digits.substr(0, n_int);
  frac_part = digits.substr(n_int);
  // strip leading zeros of the integer part, keeping an empty string for zero
  std::size_t nz = int_part.find_first_not_of('0');
  int_part = nz == std::string::npos ? std::string() : int_part.substr(nz);
}

}  // namespace

std::string I(int w, long long v) { return right(w, std::to_string(v)); }

std::string F(int w, int d, double v) {
  if (!std::isfinite(v)) return stars(w);
  std::string ip, fp;
  round_fixed(v, d, ip, fp);
  std::string sign = std::signbit(v) ? "-" : "";
  std::string body = ip + "." + fp;
  if (ip.empty()) {
    // Leading zero only when it fits.
    if (static_cast<int>(sign.size() + body.size()) + 1 <= w) body = "0" + body;
  }
  return right(w, sign + body);
}

std::string E(int w, int d, double v) {
  if (!std::isfinite(v)) return stars(w);
  std::string sign = std::signbit(v) ? "-" : "";
  const double a = std::fabs(v);
  const std::size_t n = static_cast<std::size_t>(d > 0 ? d : 0);
  int exp10 = 0;  // |v| = 0.mant x 10^exp10
  std::string mant(n, '0');
  if (a != 0.0) {
    // The exact decimal digits of |v| (a double has at most 767 significant digits),
    // rounded to d digits here: ties away from zero, on the exact value. Scaling |v| by
    // a power of ten first would round in binary and could move a tie to either side.
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
  char ex[16];
  int ae = std::abs(exp10);
  if (ae <= 99)
    std::snprintf(ex, sizeof ex, "E%c%02d", exp10 < 0 ? '-' : '+', ae);
  else if (ae <= 999)
    std::snprintf(ex, sizeof ex, "%c%03d", exp10 < 0 ? '-' : '+', ae);
  else
    return stars(w);
  std::string body = "." + mant + ex;
  if (static_cast<int>(sign.size() + body.size()) + 1 <= w) body = "0" + body;
  return right(w, sign + body);
}

std::string A(int w, std::string_view s) {
  if (static_cast<int>(s.size()) >= w) return std::string(s.substr(0, static_cast<std::size_t>(w)));
  return std::string(static_cast<std::size_t>(w) - s.size(), ' ') + std::string(s);
}

std::string X(int n) { return std::string(static_cast<std::size_t>(n > 0 ? n : 0), ' '); }

}  // namespace kaven::rec
