#include "analysis/asymmetry.hpp"

#include <algorithm>
#include <cmath>

namespace kaven {

PeakWindows peak_windows(double centre, double fwhm, double neighbour) {
  PeakWindows w;
  w.centre = centre;
  w.inner = fwhm;
  // Half way to the next peak at most, so that its flank stays out.
  w.outer = std::min(3.0 * fwhm, 0.5 * neighbour);
  return w;
}

Asymmetry asymmetry(std::span<const double> psi, std::span<const double> y,
                    std::span<const double> bg, const PeakWindows& w, double height, double noise) {
  Asymmetry a;
  double sum_before = 0, sum_after = 0;
  int n_before = 0, n_after = 0;
  const std::size_t n = std::min({psi.size(), y.size(), bg.size()});
  // Points on the edges of the windows count on both sides alike, whatever the rounding
  // of their psi.
  const double eps = 1e-9 * std::max(1.0, std::fabs(w.centre));
  for (std::size_t i = 0; i < n; ++i) {
    const double d = psi[i] - w.centre;
    const double dist = std::fabs(d);
    if (dist < w.inner - eps || dist > w.outer + eps) continue;
    if (d < 0) sum_before += y[i] - bg[i], ++n_before;
    else sum_after += y[i] - bg[i], ++n_after;
  }
  if (n_before == 0 || n_after == 0 || !(height > 0)) return a;
  a.formed = true;
  a.value = (sum_after / n_after - sum_before / n_before) / height;
  a.sigma = noise * std::sqrt(1.0 / n_after + 1.0 / n_before) / height;
  const double floor = noise > 0 ? 2.0 * a.sigma : kAsymmetryFloor;
  a.sign = a.value > floor ? 1 : (a.value < -floor ? -1 : 0);
  return a;
}

const char* enhanced_side(int sign) {
  return sign > 0 ? "after" : (sign < 0 ? "before" : "none");
}

}  // namespace kaven
