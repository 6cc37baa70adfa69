#include "simulation/scan_simulation.hpp"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "core/constants.hpp"
#include "core/parallel.hpp"

namespace kaven {
namespace {

// Single-precision constants of the profile, promoted.
const double kSigmaPerHwhm = double(0.8493218f);  // 1/sqrt(2 ln 2)
const double kGaussPeak = double(0.46971848f);    // sqrt(ln 2/pi)
const double kLorentzPeak = double(0.3183099f);   // 1/pi

// Beyond 40 sigma exp(-x^2/(2 sigma^2)) <= exp(-800), which is 0 in double: there the
// Gaussian part is left out without changing a single value.
constexpr double kGaussReach = 40.0;

// One side of a crossing's profile.
struct Side {
  double w = 0;        // half width (degrees)
  double lead = 1;     // factor that joins the two halves at the peak
  double lorentz = 0;  // lead eta_m/(pi w)
  double gauss = 0;    // lead (1 - eta_m) sqrt(ln2/pi)/w
  double inv_w = 0;
  double inv_two_sigma_sq = 0;
  double sigma = 0;
  double s = 0;        // nnn sigma: the psi scale of the interference phase
  double inv_s = 0;
  bool plateau = false;  // inner side without width
  double plateau_value = 0;
};

// What the simulation needs of one crossing, prepared once.
struct Shape {
  double psi = 0;   // psi_e (degrees)
  double sgn = 1;   // x = sgn (psi_i - psi_e): +1 first crossing, -1 second
  long ne = 0;      // step of the crossing: the sides split after it
  bool first = true;
  double beta = 0;  // inner cut (degrees)
  double ikaven = 0, iaufhe = 0, ip = 0, k = 0, kk = 0;
  double sin_phi = 0, cos_phi = 0, phi = 0, c_int = 0;
  Side inner, outer;
  bool adds = true;  // false: no outer width, the profile cannot be formed
};

double peak_height(double eta, double w) {
  return eta * kLorentzPeak / w + (1 - eta) * kGaussPeak / w;
}

Shape prepare(const RunParameters& par, const ScanCrossing& c) {
  Shape s;
  s.psi = c.psi;
  s.first = c.crossing == Crossing::first;
  s.sgn = s.first ? 1.0 : -1.0;
  s.ne = std::lround((double(c.psi) - par.psia) * double(par.zsw));
  s.beta = c.beta;
  s.ikaven = c.ikaven;
  s.iaufhe = c.iaufhe;
  s.k = c.k_block;
  s.kk = s.k * s.k;
  s.ip = double(c.iprim) / s.k;
  s.phi = c.triplet;
  s.sin_phi = std::sin(s.phi);
  s.cos_phi = std::cos(s.phi);
  s.c_int = c.c_int;
  const double eta = c.eta_m;
  const double w_out = c.w_out, w_in = c.w_in;
  // A profile needs an outer width; an inner side without width (or with a negative
  // one) is the plateau of height P(w_out).
  if (!(w_out > 0)) {
    s.adds = false;
    return s;
  }
  const double p_out = peak_height(eta, w_out);
  const bool has_inner = w_in > 0;
  const double p_in = has_inner ? peak_height(eta, w_in) : p_out;
  auto side = [&](double w, double lead) {
    Side sd;
    sd.w = w;
    sd.lead = lead;
    sd.lorentz = lead * eta * kLorentzPeak / w;
    sd.gauss = lead * (1 - eta) * kGaussPeak / w;
    sd.inv_w = 1 / w;
    sd.sigma = kSigmaPerHwhm * w;
    sd.inv_two_sigma_sq = 1 / (2 * sd.sigma * sd.sigma);
    sd.s = sd.sigma * par.nnn;
    sd.inv_s = sd.s != 0 ? 1 / sd.s : 0.0;
    return sd;
  };
  s.outer = side(w_out, 2 * p_in / (p_in + p_out));
  if (has_inner) {
    s.inner = side(w_in, 2 * p_out / (p_in + p_out));
  } else {
    s.inner.plateau = true;
    s.inner.plateau_value = p_out;
  }
  return s;
}

// cos(Phi + pi/2 + atan(x/s)) without trigonometry: -(sin Phi + cos Phi t)/sqrt(1 + t^2)
// with t = x/s. Without a psi scale (s = 0, an inner side without width) the angle
// atan(x/s) is -pi/2 on the inner side of the crossing (x <= 0) and pi/2 beyond.
inline double phase_cos(const Shape& c, const Side& sd, double x) {
  if (sd.s == 0) return x <= 0 ? c.cos_phi : -c.cos_phi;
  const double t = x * sd.inv_s;
  return -(c.sin_phi + c.cos_phi * t) / std::sqrt(1 + t * t);
}

// What the crossing adds at a step with profile value f, distance x.
inline double contribution(const Shape& c, const Side& sd, int nnn, double f, double x) {
  const double u = c.ikaven * f;
  const double d = c.iaufhe * f;
  if (nnn == 0) return c.kk * (u - d);
  if (c.ip <= d) return c.kk * (u - c.ip);  // no more removed than the beam carries
  const double j = 2 * std::sqrt((c.ip - d) * u) * phase_cos(c, sd, x) * c.c_int;
  return c.k * j + c.kk * (u - d);
}

// Adds one side of a crossing on the steps lo..hi (inclusive) of the tile that starts
// at step t0 (acc and psi hold the tile). kNear: the Gaussian part is evaluated; kCut:
// the inner cut at BETA is tested.
template <bool kNear, bool kCut>
void add_side(double* acc, const double* psi, long t0, long lo, long hi, const Shape& c,
              const Side& sd, int nnn) {
  if (!kNear && !kCut && !sd.plateau && nnn == 0) {
    // The far outer side without interference, where nearly all the work lies: the
    // same arithmetic as below with the loop-invariant tests taken out, so that the
    // compiler can keep the loop free of branches.
    const double sgn = c.sgn, psi_e = c.psi, inv_w = sd.inv_w, lorentz = sd.lorentz;
    const double ikaven = c.ikaven, iaufhe = c.iaufhe, kk = c.kk;
    for (long i = lo - t0; i <= hi - t0; ++i) {
      const double xw = sgn * (psi[i] - psi_e) * inv_w;
      const double f = lorentz / (1 + xw * xw);
      acc[i] += kk * (ikaven * f - iaufhe * f);
    }
    return;
  }
  for (long i = lo - t0; i <= hi - t0; ++i) {
    const double x = c.sgn * (psi[i] - c.psi);
    if constexpr (kCut) {
      if (std::fabs(x) > c.beta) continue;
    }
    double f;
    if (sd.plateau) {
      f = sd.plateau_value;
    } else {
      const double xw = x * sd.inv_w;
      f = sd.lorentz / (1 + xw * xw);
      if constexpr (kNear) f += sd.gauss * std::exp(-(x * x) * sd.inv_two_sigma_sq);
    }
    acc[i] += contribution(c, sd, nnn, f, x);
  }
}

// Step range [first, last] whose psi lies within psi_e +- reach, widened by a step on
// each side (the exact tests are made per step).
struct StepRange {
  long first, last;
};
StepRange steps_within(const RunParameters& par, double psi_e, double reach) {
  const double z = par.zsw;
  const double a = std::floor((psi_e - reach - par.psia) * z) - 1;
  const double b = std::ceil((psi_e + reach - par.psia) * z) + 1;
  const double lim = 4.0e18;
  return {static_cast<long>(std::clamp(a, -lim, lim)), static_cast<long>(std::clamp(b, -lim, lim))};
}

// One crossing on the tile of steps t0..t1 (inclusive).
void add_crossing(double* acc, const double* psi, long t0, long t1, const RunParameters& par,
                  const Shape& c) {
  if (!c.adds) return;
  const long n = par.nstep;
  // First crossing: inner side on 0..ne, outer on ne+1..n; second: the other way round.
  const long in_lo = c.first ? 0 : c.ne + 1, in_hi = c.first ? c.ne : n;
  const long out_lo = c.first ? c.ne + 1 : 0, out_hi = c.first ? n : c.ne;
  const int nnn = par.nnn;
  // Inner side, cut at BETA.
  {
    const StepRange r = steps_within(par, c.psi, c.beta);
    const long lo = std::max({in_lo, t0, r.first}), hi = std::min({in_hi, t1, r.last});
    if (lo <= hi) add_side<true, true>(acc, psi, t0, lo, hi, c, c.inner, nnn);
  }
  // Outer side: the Gaussian only near the crossing.
  long lo = std::max(out_lo, t0), hi = std::min(out_hi, t1);
  if (lo > hi) return;
  if (c.outer.gauss == 0) {
    add_side<false, false>(acc, psi, t0, lo, hi, c, c.outer, nnn);
    return;
  }
  const StepRange near = steps_within(par, c.psi, kGaussReach * c.outer.sigma);
  const long nlo = std::max(lo, near.first), nhi = std::min(hi, near.last);
  if (nlo > nhi) {
    add_side<false, false>(acc, psi, t0, lo, hi, c, c.outer, nnn);
    return;
  }
  if (lo < nlo) add_side<false, false>(acc, psi, t0, lo, nlo - 1, c, c.outer, nnn);
  add_side<true, false>(acc, psi, t0, nlo, nhi, c, c.outer, nnn);
  if (nhi < hi) add_side<false, false>(acc, psi, t0, nhi + 1, hi, c, c.outer, nnn);
}

// The extremes of the stored profile (the later step wins a tie).
void find_extremes(const RunParameters& par, ScanProfile& p) {
  for (std::size_t i = 0; i < p.intensity.size(); ++i) {
    const float v = p.intensity[i];
    const float psi = static_cast<float>(step_psi(par, static_cast<long>(i)));
    if (v >= p.max) p.max = v, p.psi_max = psi;
    if (v <= p.min) p.min = v, p.psi_min = psi;
  }
}

}  // namespace

ScanProfile simulate_scan(const RunParameters& par, const std::vector<ScanCrossing>& crossings,
                          float iprim_total, const ScanOptions& opt) {
  const long n_steps = static_cast<long>(par.nstep) + 1;
  ScanProfile profile;
  profile.iprim_total = iprim_total;
  profile.entered = static_cast<long>(crossings.size());
  profile.intensity.assign(static_cast<std::size_t>(n_steps), 0.0f);
  std::vector<Shape> shapes;
  if (par.zsw > 0) {
    shapes.reserve(crossings.size());
    for (const ScanCrossing& c : crossings) shapes.push_back(prepare(par, c));
  }

  // The steps are cut into tiles that the threads take one at a time; every step
  // sums its crossings in their order, whichever thread holds its tile.
  int threads = thread_count(opt.threads);
  const long tile = std::clamp<long>(n_steps / (8L * threads) + 1, 256, 8192);
  const long n_tiles = (n_steps + tile - 1) / tile;
  threads = static_cast<int>(std::min<long>(threads, n_tiles));
  std::atomic<long> next{0};
  std::mutex progress_mutex;
  long tiles_done = 0;
  auto work = [&]() {
    std::vector<double> acc(static_cast<std::size_t>(tile)), psi(static_cast<std::size_t>(tile));
    for (long t = next.fetch_add(1); t < n_tiles; t = next.fetch_add(1)) {
      if (opt.cancel && opt.cancel->load(std::memory_order_relaxed)) break;
      const long t0 = t * tile, t1 = std::min(n_steps, t0 + tile) - 1;
      for (long i = t0; i <= t1; ++i) {
        acc[static_cast<std::size_t>(i - t0)] = 0;
        psi[static_cast<std::size_t>(i - t0)] = step_psi(par, i);
      }
      for (const Shape& c : shapes) add_crossing(acc.data(), psi.data(), t0, t1, par, c);
      for (long i = t0; i <= t1; ++i)
        profile.intensity[static_cast<std::size_t>(i)] =
            static_cast<float>(acc[static_cast<std::size_t>(i - t0)] + double(iprim_total));
      if (opt.progress) {
        std::lock_guard<std::mutex> lock(progress_mutex);
        opt.progress(double(++tiles_done) / double(n_tiles));
      }
    }
  };
  run_on_threads(threads, work);
  find_extremes(par, profile);
  return profile;
}

std::vector<double> step_contributions(const RunParameters& par,
                                       const std::vector<ScanCrossing>& crossings, long step) {
  std::vector<double> out(crossings.size(), 0.0);
  if (!(par.zsw > 0) || step < 0 || step > par.nstep) return out;
  const double psi = step_psi(par, step);
  for (std::size_t i = 0; i < crossings.size(); ++i)
    add_crossing(&out[i], &psi, step, step, par, prepare(par, crossings[i]));
  return out;
}

ScanProfile simulate_scan_plain(const RunParameters& par,
                                const std::vector<ScanCrossing>& crossings, float iprim_total) {
  const long n = par.nstep;
  std::vector<double> acc(static_cast<std::size_t>(n + 1), 0.0);
  for (const ScanCrossing& c : crossings) {
    if (!(par.zsw > 0)) break;
    const double eta = c.eta_m, w_in = c.w_in, w_out = c.w_out;
    if (!(w_out > 0)) continue;
    auto peak = [&](double w) { return eta * kLorentzPeak / w + (1 - eta) * kGaussPeak / w; };
    const double sig_in = kSigmaPerHwhm * w_in, sig_out = kSigmaPerHwhm * w_out;
    const double p_out = peak(w_out);
    const double p_in = w_in > 0 ? peak(w_in) : p_out;
    const double k = c.k_block, ip = double(c.iprim) / k;
    const long ne = std::lround((double(c.psi) - par.psia) * double(par.zsw));
    for (long i = 0; i <= n; ++i) {
      const double psi_i = step_psi(par, i);
      const bool inner = c.crossing == Crossing::first ? i <= ne : i > ne;
      const double x = c.crossing == Crossing::first ? psi_i - c.psi : c.psi - psi_i;
      double f;
      if (inner) {
        if (std::fabs(x) > c.beta) continue;
        if (w_in > 0) {
          f = 2 * p_out / (p_in + p_out) *
              (eta * kLorentzPeak / w_in / (1 + (x / w_in) * (x / w_in)) +
               (1 - eta) * (kGaussPeak / w_in) * std::exp(-x * x / (2 * sig_in * sig_in)));
        } else {
          f = p_out;
        }
      } else {
        f = 2 * p_in / (p_in + p_out) *
            (eta * kLorentzPeak / w_out / (1 + (x / w_out) * (x / w_out)) +
             (1 - eta) * (kGaussPeak / w_out) * std::exp(-x * x / (2 * sig_out * sig_out)));
      }
      const double u = c.ikaven * f;
      double d = c.iaufhe * f;
      double j = 0;
      if (par.nnn != 0) {
        if (ip <= d) {
          d = ip;
        } else {
          const double s = (inner ? sig_in : sig_out) * par.nnn;
          const double angle = s != 0 ? std::atan(x / s) : (x <= 0 ? -kPi / 2 : kPi / 2);
          j = 2 * std::sqrt((ip - d) * u) * std::cos(double(c.triplet) + kPi / 2 + angle) *
              c.c_int;
        }
      }
      acc[static_cast<std::size_t>(i)] += k * j + k * k * (u - d);
    }
  }
  ScanProfile profile;
  profile.iprim_total = iprim_total;
  profile.entered = static_cast<long>(crossings.size());
  profile.intensity.resize(acc.size());
  for (std::size_t i = 0; i < acc.size(); ++i)
    profile.intensity[i] = static_cast<float>(acc[i] + double(iprim_total));
  find_extremes(par, profile);
  return profile;
}

}  // namespace kaven
