#include "report/record_format.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kaven::rec {
namespace {

std::string stars(int w) { return std::string(static_cast<std::size_t>(w > 0 ? w : 0), '*'); }

std::string right(int w, const std::string& s) {
  if (static_cast<int>(s.size()) > w) return stars(w);
  return std::string(static_cast<std::size_t>(w) - s.size(), ' ') + s;
}

// Decimal digits of |v| rounded to `decimals` places, ties away from zero.
// Returns integer-part digits and fraction digits separately.
void round_fixed(double v, int decimals, std::string& int_part, std::string& frac_part) {
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
  std::string sign = std::signbit(v) && v != 0.0 ? "-" : "";
  std::string body = ip + "." + fp;
  if (ip.empty()) {
    // Leading zero only when it fits.
    if (static_cast<int>(sign.size() + body.size()) + 1 <= w) body = "0" + body;
  }
  return right(w, sign + body);
}

std::string E(int w, int d, double v) {
  if (!std::isfinite(v)) return stars(w);
  std::string sign = std::signbit(v) && v != 0.0 ? "-" : "";
  double a = std::fabs(v);
  int exp10 = 0;
  std::string mant;
  if (a != 0.0) {
    // Normalise to 0.1 <= m < 1 with exactly d digits after rounding.
    exp10 = static_cast<int>(std::floor(std::log10(a))) + 1;
    for (int attempt = 0; attempt < 3; ++attempt) {
      double scaled = a / std::pow(10.0, exp10);
      std::string ip, fp;
      round_fixed(scaled, d, ip, fp);
      if (!ip.empty()) {  // rounded up to 1.000: move the exponent
        ++exp10;
        continue;
      }
      if (d > 0 && fp[0] == '0') {  // log10 overestimated the magnitude
        --exp10;
        continue;
      }
      mant = fp;
      break;
    }
    if (mant.empty()) mant = std::string(static_cast<std::size_t>(d), '0');
  } else {
    mant = std::string(static_cast<std::size_t>(d), '0');
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
