#include "analysis/scan_peaks.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kaven {

namespace {

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  const auto mid = v.begin() + static_cast<long>(v.size() / 2);
  std::nth_element(v.begin(), mid, v.end());
  double m = *mid;
  if (v.size() % 2 == 0) m = 0.5 * (m + *std::max_element(v.begin(), mid));
  return m;
}

// Prominence of the maximum at i of s: the lowest level on the way to a higher point (or
// the end) on either side; the higher of the two is the level the peak rises from.
double prominence_at(std::span<const double> psi, const std::vector<double>& s, std::size_t i,
                     double window) {
  const double top = s[i];
  const double reach = window > 0 ? window : std::numeric_limits<double>::infinity();
  double left = top;
  for (std::size_t j = i; j-- > 0 && psi[i] - psi[j] <= reach;) {
    if (s[j] > top) break;
    left = std::min(left, s[j]);
  }
  double right = top;
  for (std::size_t j = i + 1; j < s.size() && psi[j] - psi[i] <= reach; ++j) {
    if (s[j] > top) break;
    right = std::min(right, s[j]);
  }
  return top - std::max(left, right);
}

// Full width at top - prominence/2 of the maximum at i of s, interpolated linearly
// between the points where s crosses that level (the end of the series where it does not).
double width_at(std::span<const double> psi, const std::vector<double>& s, std::size_t i,
                double prominence) {
  const double half = s[i] - 0.5 * prominence;
  double lo = psi.front(), hi = psi.back();
  for (std::size_t j = i; j-- > 0;)
    if (s[j] <= half) {
      lo = psi[j] + (psi[j + 1] - psi[j]) * (half - s[j]) / (s[j + 1] - s[j]);
      break;
    }
  for (std::size_t j = i + 1; j < s.size(); ++j)
    if (s[j] <= half) {
      hi = psi[j - 1] + (psi[j] - psi[j - 1]) * (s[j - 1] - half) / (s[j - 1] - s[j]);
      break;
    }
  return hi - lo;
}

// The maxima of s (y smoothed) with their prominence above the threshold; the minima
// are those of the negated series.
void collect(std::span<const double> psi, std::span<const double> y, const std::vector<double>& s,
             const FeatureOptions& opt, std::vector<ScanFeature>& out) {
  const std::size_t n = s.size();
  for (std::size_t i = 1; i + 1 < n; ++i) {
    // A maximum; on a plateau its first point.
    if (!(s[i] > s[i - 1] && s[i] >= s[i + 1])) continue;
    const double prom = prominence_at(psi, s, i, opt.window_deg);
    if (!(prom > opt.min_prominence)) continue;
    ScanFeature f;
    // The extreme of the series itself next to that of the smoothed one.
    std::size_t k = i;
    for (std::size_t j = i - 1; j <= i + 1; ++j)
      if (y[j] > y[k]) k = j;
    f.index = k;
    f.value = y[k];
    f.psi = psi[k];
    if (k > 0 && k + 1 < n) {
      const double a = y[k - 1], b = y[k], c = y[k + 1];
      const double d = a - 2 * b + c;
      if (d != 0) {
        const double t = std::clamp(0.5 * (a - c) / d, -0.5, 0.5);
        f.psi = psi[k] + t * (t < 0 ? psi[k] - psi[k - 1] : psi[k + 1] - psi[k]);
      }
    }
    f.prominence = prom;
    f.fwhm_deg = width_at(psi, s, i, prom);
    out.push_back(f);
  }
}

}  // namespace

double noise_from_scatter(std::span<const double> y) {
  if (y.size() < 3) return 0;
  std::vector<double> d;
  d.reserve(y.size() - 2);
  for (std::size_t i = 1; i + 1 < y.size(); ++i) d.push_back(y[i] - 0.5 * (y[i - 1] + y[i + 1]));
  const double m = median(d);
  for (double& v : d) v = std::fabs(v - m);
  // 1.4826 MAD is the deviation of a normal distribution; the second difference has
  // sqrt(3/2) times the deviation of one value.
  return 1.4826 * median(std::move(d)) / std::sqrt(1.5);
}

std::vector<ScanFeature> find_features(std::span<const double> psi, std::span<const double> y,
                                       const FeatureOptions& opt) {
  std::vector<ScanFeature> out;
  const std::size_t n = std::min(psi.size(), y.size());
  if (n < 3) return out;
  std::vector<double> s(y.begin(), y.begin() + static_cast<long>(n));
  if (opt.smooth)
    for (std::size_t i = 1; i + 1 < n; ++i) s[i] = 0.25 * y[i - 1] + 0.5 * y[i] + 0.25 * y[i + 1];
  collect(psi, y, s, opt, out);
  for (double& v : s) v = -v;
  std::vector<double> neg(y.begin(), y.begin() + static_cast<long>(n));
  for (double& v : neg) v = -v;
  std::vector<ScanFeature> dips;
  collect(psi, neg, s, opt, dips);
  for (ScanFeature& f : dips) {
    f.peak = false;
    f.value = -f.value;
    out.push_back(f);
  }
  std::sort(out.begin(), out.end(), [](const ScanFeature& a, const ScanFeature& b) { return a.psi < b.psi; });
  return out;
}

}  // namespace kaven
