#include "simulation/scale_factor.hpp"

#include <algorithm>
#include <cmath>

namespace kaven {

ScaleFactor scale_factor(const RunParameters& par, const MeasuredScan& scan, bool file_read) {
  ScaleFactor s;
  if (scan.nref >= 1) {
    s.source = ScaleSource::references;
    s.i0 = static_cast<float>(double(scan.refsum) / scan.nref);
    return s;
  }
  s.source = file_read ? ScaleSource::no_references : ScaleSource::default_i0;
  s.i0 = par.i0;
  if (par.dname1.rfind("znwo4", 0) == 0) {
    s.znwo4 = true;
    s.i0 = static_cast<float>(double(s.i0) * 5.0);
  }
  return s;
}

ScanReduction reduce_measured_scan(const RunParameters& par, MeasuredScan& scan) {
  ScanReduction r;
  r.background = scan.background;
  const bool tube = par.isyn == 0;
  const double b = scan.background;
  std::vector<float>& v = scan.intensity;
  const long n = static_cast<long>(v.size()) - 1;

  // The measured I-prim: the mean over the measured steps of psi1..psi2.
  const long i1 = par.npsi1, i2 = par.npsi2;
  if (i1 >= 0 && i1 <= n && i2 >= 0 && i2 <= n) {
    double sum = 0;
    long count = 0;
    for (long i = i1; i <= i2; ++i) {
      const float m = v[static_cast<std::size_t>(i)];
      if (m >= kNoMeasurement) continue;
      sum += tube ? m - b : double(m);
      ++count;
    }
    r.imeas = count > 0 ? static_cast<float>(sum / double(count)) : 0.0f;
  }

  // Every measured step above the background, cut at 0; the extremes.
  for (long i = 0; i <= n; ++i) {
    float& m = v[static_cast<std::size_t>(i)];
    if (m >= kNoMeasurement) continue;
    double x = tube ? m - b : double(m);
    if (x < 0) x = 0;
    m = static_cast<float>(x);
    const float psi = static_cast<float>(step_psi(par, i));
    if (m >= r.mmax) r.mmax = m, r.psi_mmax = psi;
    if (m <= r.mmin) r.mmin = m, r.psi_mmin = psi;
  }

  // Counting errors; a variance that comes out negative (a measured I-prim below the
  // background) gives no error rather than a NaN.
  const double c = tube ? double(0.1291f) : 1.0;
  auto err = [c](double variance) { return static_cast<float>(c * std::sqrt(std::max(0.0, variance))); };
  const double mmax = r.mmax, mmin = r.mmin, imeas = r.imeas;
  r.s_max = err(2 * b + mmax);
  r.s_min = err(2 * b + mmin);
  r.s_b = err(b);
  r.s_i = err(2 * b + imeas);
  r.s_maxi = err(mmax + 4 * b + imeas);
  r.s_mini = err(4 * b + mmin + imeas);
  return r;
}

MeasuredShare measured_share(const RunParameters& par, const ScanReduction& red, int pass) {
  MeasuredShare s{red.imeas, red.s_i};
  if (par.isyn != 0) return s;
  // K-alpha1 with weight 1 and K-alpha2 with weight 0.5 share the measured intensity.
  const float first = 2.0f / 3.0f;
  s.intensity *= first;
  s.error *= first;
  if (pass >= 1) {
    s.intensity *= 0.5f;
    s.error *= 0.5f;
  }
  return s;
}

Deviation find_deviation(const RunParameters& par, const MeasuredScan& scan,
                         const ScanReduction& red, const ScanProfile& calc) {
  Deviation d;
  if (calc.max <= 0 || !(par.zsw > 0)) return d;  // nothing to compare with
  d.searched = true;
  const std::vector<float>& meas = scan.intensity;
  const std::vector<float>& sim = calc.intensity;
  const long n = static_cast<long>(std::min(meas.size(), sim.size())) - 1;
  const double f = double(red.mmax) / calc.max;
  const long width = par.zsw > 5 ? std::lround(double(par.zsw)) : 10;
  const double strong = double(0.8f) * red.mmax;
  double best = 1.0e8;
  long best_j = 0;
  for (long j = -width; j <= width; ++j) {
    double e = 0, w = 0;
    for (long m = std::max(0L, -j); m <= n && m + j <= n; ++m) {
      const double v = meas[static_cast<std::size_t>(m)];
      if (!(v < strong) || v >= kNoMeasurement) continue;
      e += std::fabs(v - f * sim[static_cast<std::size_t>(m + j)]);
      w += std::fabs(v);
    }
    if (w == 0) continue;  // no usable measured step: this shift cannot win
    const double r = e / w;
    if (r < best) best = r, best_j = j;
  }
  d.best_r = static_cast<float>(best);
  d.found = static_cast<int>(best_j);
  d.shift = d.found;
  d.dev = static_cast<float>(double(best_j) / par.zsw);
  if (std::fabs(d.dev) >= 0.1f) d.dev = 0, d.shift = 0;
  return d;
}

}  // namespace kaven
