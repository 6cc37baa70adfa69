#include "simulation/scan_simulation.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <mutex>

#include "core/constants.hpp"
#include "core/parallel.hpp"

namespace kaven {
namespace {

// Single-precision constants of the profile, promoted.
const double kSigmaPerHwhm = double(0.8493218f);  // 1/sqrt(2 ln 2)
const double kGaussPeak = double(0.46971848f);    // sqrt(ln 2/pi)
const double kLorentzPeak = double(0.3183099f);   // 1/pi

// Beyond 40 sigma exp(-x^2/(2 sigma^2)) <= exp(-800), which is 0 in double.
constexpr double kGaussReach = 40.0;
// A term smaller than 2^-54 of another is less than half a unit in the last place of
// their double sum: adding it leaves the sum as it is.
constexpr double kNegligible = 0x1p-54;

// The far field (see the header): degree of the interpolation in a block, separation
// of a block from a crossing in block lengths, distance of the far field from a
// crossing in radii of the singularities of its side.
constexpr int kInterpolationDegree = 19;
constexpr int kNodes = kInterpolationDegree + 1;
constexpr double kSeparation = 2;
constexpr double kSingularityRadii = 4;

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// One side of a crossing's profile.
struct Side {
  double w = 0;        // half width (degrees)
  double lead = 1;     // factor that joins the two halves at the peak
  double lorentz = 0;  // lead eta_m/(pi w): the Lorentzian part at the peak
  double gauss = 0;    // lead (1 - eta_m) sqrt(ln2/pi)/w
  double inv_w = 0;
  double inv_two_sigma_sq = 0;
  double sigma = 0;
  double s = 0;        // nnn sigma: the psi scale of the interference phase
  double inv_s = 0;
  bool plateau = false;  // inner side without width
  double plateau_value = 0;
  double gauss_reach = 0;       // |x| (degrees) beyond which the Gaussian part is negligible
  double far_from = kInfinity;  // |x| (degrees) from which the side may be interpolated
};

// The steps of one side: lo..hi (empty when lo > hi), all on one side of the crossing.
struct SideSteps {
  long lo = 0, hi = -1;
  bool rightward = true;  // the steps lie above the crossing
};

// What the simulation needs of one crossing, prepared once.
struct Shape {
  double psi = 0;   // psi_e (degrees)
  double te = 0;    // psi_e in steps: (psi_e - psia) zsw
  double sgn = 1;   // x = sgn (psi_i - psi_e): +1 first crossing, -1 second
  bool first = true;
  double beta = 0;  // inner cut (degrees)
  double ikaven = 0, iaufhe = 0, ip = 0, k = 0, kk = 0;
  double sin_phi = 0, cos_phi = 0, phi = 0, c_int = 0;
  Side inner, outer;
  SideSteps inner_steps, outer_steps;
  bool adds = true;     // false: no outer width, the profile cannot be formed
  bool regular = true;  // false: every step is evaluated with every test (values not finite,
                        // or outside the ranges the far field is made for)
};

double peak_height(double eta, double w) {
  return eta * kLorentzPeak / w + (1 - eta) * kGaussPeak / w;
}

// |x| beyond which the Gaussian part of a side cannot change the profile's double value:
// gauss exp(-x^2/(2 sigma^2)) below 2^-54 of the Lorentzian part lorentz/(1 + (x/w)^2);
// 40 sigma when there is no Lorentzian part.
double gauss_reach(const Side& sd) {
  if (!(sd.gauss > 0)) return 0;
  const double cap = kGaussReach * sd.sigma;
  if (!(sd.lorentz > 0)) return cap;
  auto negligible = [&](double x) {
    const double xw = x * sd.inv_w;
    return sd.gauss * std::exp(-(x * x) * sd.inv_two_sigma_sq) * (1 + xw * xw) <=
           kNegligible * sd.lorentz;
  };
  // x^2/(2 sigma^2) = ln(gauss/(2^-54 lorentz)) + ln(1 + (x/w)^2), a fixed point that the
  // iteration approaches from below; then widened until the test holds.
  const double c = std::log(sd.gauss / (kNegligible * sd.lorentz));
  double u2 = 0;  // (x/sigma)^2
  for (int it = 0; it < 6; ++it)
    u2 = std::max(0.0, 2 * (c + std::log1p(u2 * sd.sigma * sd.sigma * sd.inv_w * sd.inv_w)));
  double x = sd.sigma * std::sqrt(u2);
  for (int it = 0; it < 60 && x < cap && !negligible(x); ++it) x = x * 1.05 + 0.01 * sd.sigma;
  return x < cap && negligible(x) ? x : cap;
}

// Where the far field of a side may begin (see the header): beyond the Gaussian and
// kSingularityRadii times the radius of the singularities of its far function. Only for
// sides whose function keeps one branch of the contribution there.
double far_from(const Shape& c, const Side& sd, int nnn) {
  // a plateau: a constant, or with interference the phase of its (negative) width
  if (sd.plateau) return nnn != 0 && c.ip > 0 ? kSingularityRadii * std::fabs(sd.s) : 0;
  double rho = sd.w;
  if (nnn != 0 && c.ip > 0) {
    // the interference term: branch points of the phase at +-i nnn sigma, of the square
    // root where the removed intensity reaches Ip (Iaufhe lorentz w^2/(x^2 + w^2) = Ip)
    rho = std::max({rho, std::fabs(sd.s), sd.w * std::sqrt(std::fabs(c.iaufhe * sd.lorentz / c.ip - 1))});
  }
  const double d = std::max(sd.gauss_reach, kSingularityRadii * rho);
  return std::isfinite(d) ? d : kInfinity;
}

// The step range of psi_e +- reach, widened by a step on each side (the exact tests are
// made per step), clamped to what a long holds.
struct StepRange {
  long first, last;
};
StepRange steps_within(const RunParameters& par, double psi_e, double reach) {
  const double z = par.zsw;
  const double a = std::floor((psi_e - reach - par.psia) * z) - 1;
  const double b = std::ceil((psi_e + reach - par.psia) * z) + 1;
  const double lim = 4.0e18;
  if (!(a <= b)) return {1, 0};
  return {static_cast<long>(std::clamp(a, -lim, lim)), static_cast<long>(std::clamp(b, -lim, lim))};
}

// A real step coordinate as a step index, clamped to -2..n + 2 (v may be infinite; not
// a number gives -2, below every step).
long clamp_step(double v, long n) {
  if (!(v >= -2)) return -2;
  return static_cast<long>(std::min(v, double(n) + 2));
}

Shape prepare(const RunParameters& par, const ScanCrossing& c) {
  Shape s;
  const long n = par.nstep;
  s.psi = c.psi;
  s.te = (double(c.psi) - par.psia) * double(par.zsw);
  s.first = c.crossing == Crossing::first;
  s.sgn = s.first ? 1.0 : -1.0;
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
    // the phase scale of a width that is not positive: 0 for w_in = 0
    s.inner.sigma = kSigmaPerHwhm * w_in;
    s.inner.s = s.inner.sigma * par.nnn;
    s.inner.inv_s = s.inner.s != 0 ? 1 / s.inner.s : 0.0;
  }

  // The step of the crossing, n_e = ANINT(te), as far as it matters: below 0 every step
  // lies above it, beyond n every step below or at it.
  const long ne = clamp_step(std::round(s.te), n);
  const long split = std::clamp(ne, -1L, n);
  // First crossing: inner side on 0..ne, outer on ne+1..n; second: the other way round.
  s.inner_steps = s.first ? SideSteps{0, split, false} : SideSteps{split + 1, n, true};
  s.outer_steps = s.first ? SideSteps{split + 1, n, true} : SideSteps{0, split, false};

  // The far field is made for finite values, physical intensities and mixing, a
  // positive block factor and psi values that steps can still tell apart.
  const bool finite = std::isfinite(s.te) && std::isfinite(w_in) && std::isfinite(s.beta) && std::isfinite(s.ikaven) &&
                      std::isfinite(s.iaufhe) && std::isfinite(s.ip) && std::isfinite(s.kk) &&
                      std::isfinite(s.phi) && std::isfinite(s.c_int) && std::isfinite(p_out) &&
                      std::isfinite(p_in) && std::fabs(s.psi) < 1e6 && std::fabs(par.psia) < 1e6;
  s.regular = finite && eta >= 0 && eta <= 1 && s.ikaven >= 0 && s.iaufhe >= 0 && s.k > 0;
  if (!s.regular) return s;

  // The inner side ends at BETA: its steps narrowed to |x| <= BETA (x is monotonic in
  // the step, so they are one range).
  {
    SideSteps& in = s.inner_steps;
    const StepRange r = steps_within(par, s.psi, s.beta);
    in.lo = std::max(in.lo, r.first);
    in.hi = std::min(in.hi, r.last);
    auto outside = [&](long i) { return std::fabs(s.sgn * (step_psi(par, i) - s.psi)) > s.beta; };
    while (in.lo <= in.hi && outside(in.lo)) ++in.lo;
    while (in.hi >= in.lo && outside(in.hi)) --in.hi;
  }
  for (Side* sd : {&s.inner, &s.outer}) {
    sd->gauss_reach = gauss_reach(*sd);
    sd->far_from = far_from(s, *sd, par.nnn);
  }
  return s;
}

// cos(Phi + pi/2 + atan(x/s)) without trigonometry: -(sin Phi + cos Phi t)/sqrt(1 + t^2)
// with t = x/s. Without a psi scale (s = 0, an inner side without width) the angle
// atan(x/s) is -pi/2 on the inner side of the crossing (x <= 0) and pi/2 beyond.
inline double phase_cos(const Shape& c, const Side& sd, double x) {
  if (sd.s == 0) return x <= 0 ? c.cos_phi : -c.cos_phi;
  const double t = x * sd.inv_s;
  if (std::isinf(t)) return t > 0 ? -c.cos_phi : c.cos_phi;  // atan(t) = +-pi/2
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
    // Beyond the Gaussian without interference, most of the steps evaluated directly:
    // the same arithmetic as below with the loop-invariant tests taken out, so that the
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

// ---- the far field --------------------------------------------------------------

// Chebyshev points of the second kind on [-1, 1], u_k = cos(k pi/n), and the Lagrange
// basis at u in barycentric form (weights (-1)^k, halved at the two ends).
std::array<double, kNodes> chebyshev_points() {
  std::array<double, kNodes> u{};
  for (int k = 0; k < kNodes; ++k) u[k] = std::cos(k * kPi / kInterpolationDegree);
  return u;
}

std::array<double, kNodes> lagrange_row(const std::array<double, kNodes>& nodes, double u) {
  std::array<double, kNodes> r{};
  for (int k = 0; k < kNodes; ++k) {
    if (u == nodes[k]) {
      r[k] = 1;
      return r;
    }
  }
  double sum = 0;
  for (int k = 0; k < kNodes; ++k) {
    const double weight = (k % 2 ? -1.0 : 1.0) * (k == 0 || k == kInterpolationDegree ? 0.5 : 1.0);
    r[k] = weight / (u - nodes[k]);
    sum += r[k];
  }
  for (double& v : r) v /= sum;
  return r;
}

// The binary tree of step blocks. A block of level l holds leaf << l steps: block j the
// steps j S .. (j + 1) S - 1, interpolated over the interval j S - 1/2 .. (j + 1) S - 1/2
// of the step coordinate, so that its two halves are the blocks of level l - 1 below it
// and the same matrices carry every block's values down.
struct FarField {
  long n_steps = 0;
  long leaf = 32;  // steps per leaf block
  int top = 0;     // the level of one block holding every step
  std::vector<std::vector<double>> values;        // [level][block kNodes + point]
  std::vector<std::vector<unsigned char>> used;   // [level][block]: has values
  std::array<double, kNodes> u{};
  std::array<std::array<double, kNodes>, kNodes> lower{}, upper{};  // [half point][point]
  std::vector<std::array<double, kNodes>> at_step;                  // [leaf step][point]

  explicit FarField(long n) : n_steps(n) {
    // 32 steps a leaf; more for very long scans, so that the tree stays within about
    // 2^17 blocks (20 MB)
    while (n_steps / leaf > 65536) leaf *= 2;
    while ((leaf << top) < n_steps) ++top;
    values.resize(static_cast<std::size_t>(top) + 1);
    used.resize(static_cast<std::size_t>(top) + 1);
    for (int l = 0; l <= top; ++l) {
      values[static_cast<std::size_t>(l)].assign(static_cast<std::size_t>(blocks(l) * kNodes), 0.0);
      used[static_cast<std::size_t>(l)].assign(static_cast<std::size_t>(blocks(l)), 0);
    }
    u = chebyshev_points();
    for (int k = 0; k < kNodes; ++k) {
      lower[static_cast<std::size_t>(k)] = lagrange_row(u, (u[static_cast<std::size_t>(k)] - 1) / 2);
      upper[static_cast<std::size_t>(k)] = lagrange_row(u, (u[static_cast<std::size_t>(k)] + 1) / 2);
    }
    at_step.resize(static_cast<std::size_t>(leaf));
    for (long m = 0; m < leaf; ++m)
      at_step[static_cast<std::size_t>(m)] = lagrange_row(u, double(2 * m + 1) / double(leaf) - 1);
  }
  long size(int level) const { return leaf << level; }
  long blocks(int level) const { return (n_steps + size(level) - 1) / size(level); }
  double* block(int level, long j) {
    return values[static_cast<std::size_t>(level)].data() + j * kNodes;
  }
  // The block's values carried to its two halves.
  void push_down(int level, long j) {
    if (!used[static_cast<std::size_t>(level)][static_cast<std::size_t>(j)]) return;
    const double* v = block(level, j);
    for (long half = 0; half < 2; ++half) {
      const long child = 2 * j + half;
      if (child >= blocks(level - 1)) break;
      const auto& m = half == 0 ? lower : upper;
      double* cv = block(level - 1, child);
      for (int k = 0; k < kNodes; ++k) {
        double s = 0;
        for (int q = 0; q < kNodes; ++q) s += m[static_cast<std::size_t>(k)][static_cast<std::size_t>(q)] * v[q];
        cv[k] += s;
      }
      used[static_cast<std::size_t>(level - 1)][static_cast<std::size_t>(child)] = 1;
    }
  }
};

// One side of a crossing at the points of block j of a level.
void add_block(FarField& ff, int level, long j, const RunParameters& par, const Shape& c,
               const Side& sd, int nnn) {
  const double size = double(ff.size(level));
  const double start = double(j) * size - 0.5;
  double* v = ff.block(level, j);
  for (int k = 0; k < kNodes; ++k) {
    const double t = start + size * (ff.u[static_cast<std::size_t>(k)] + 1) / 2;
    const double x = c.sgn * (par.psia + t / par.zsw - c.psi);
    double f = sd.plateau_value;
    if (!sd.plateau) {
      const double xw = x * sd.inv_w;
      f = sd.lorentz / (1 + xw * xw);
    }
    v[k] += contribution(c, sd, nnn, f, x);
  }
  ff.used[static_cast<std::size_t>(level)][static_cast<std::size_t>(j)] = 1;
}

// The far steps lo..hi of one side (all above the crossing at step coordinate te, or
// all below it) outwards from the crossing: blocks of the tree that lie at least
// kSeparation of their lengths away from it, each as large as its place allows, and
// the runs of steps between them evaluated directly (up to the first leaf boundary far
// enough out, and at the end). Visits stop beyond step `limit`.
template <class OnBlock, class OnSteps>
void decompose(const FarField& ff, long lo, long hi, double te, bool rightward, long limit,
               OnBlock&& on_block, OnSteps&& on_steps) {
  const long b = ff.leaf;
  const double min_dist = kSeparation * double(b);
  // The largest level of a block that starts (or ends before) `edge`, holds at most
  // `len` steps and lies `dist` away; -1 if there is none.
  auto level_for = [&](long edge, long len, double dist) {
    if (edge % b != 0 || len < b || !(dist >= min_dist)) return -1;
    const auto q = static_cast<unsigned long>(edge / b);
    int l = q == 0 ? ff.top : std::countr_zero(q);
    l = std::min(l, static_cast<int>(std::bit_width(static_cast<unsigned long>(len / b))) - 1);
    const double r = dist / min_dist;
    const int ld = r >= 0x1p62 ? 62 : static_cast<int>(std::bit_width(static_cast<unsigned long>(r))) - 1;
    return std::min({l, ld, ff.top});
  };
  if (rightward) {
    long p = lo;
    while (p <= hi && p <= limit) {
      const int l = level_for(p, hi - p + 1, double(p) - 0.5 - te);
      if (l >= 0) {
        on_block(l, p / ff.size(l));
        p += ff.size(l);
        continue;
      }
      long next = clamp_step(std::max(double(p + 1), std::ceil(te + 0.5 + min_dist)), hi);
      next = (next + b - 1) / b * b;
      if (next > hi - b + 1) next = hi + 1;
      on_steps(p, next - 1);
      p = next;
    }
  } else {
    long q = hi;
    while (q >= lo && q >= limit) {
      const int l = level_for(q + 1, q - lo + 1, te - (double(q) + 0.5));
      if (l >= 0) {
        on_block(l, (q + 1) / ff.size(l) - 1);
        q -= ff.size(l);
        continue;
      }
      const long e = clamp_step(std::min(double(q - 1), std::floor(te - 0.5 - min_dist)), hi);
      long next = e + 1 >= 0 ? (e + 1) / b * b - 1 : -1;
      if (next - b + 1 < lo) next = lo - 1;
      on_steps(next + 1, q);
      q = next;
    }
  }
}

// The steps of a side from which on it is interpolated: lo..hi of `far`, the rest
// (towards the crossing) evaluated at every step.
SideSteps far_steps(const Shape& c, const Side& sd, const SideSteps& s, const RunParameters& par) {
  SideSteps far = s;
  if (!std::isfinite(sd.far_from))  // none: empty, at the far end
    return s.rightward ? SideSteps{s.hi + 1, s.hi, true} : SideSteps{s.lo, s.lo - 1, false};
  // the blocks' intervals reach half a step beyond their steps
  const double reach = sd.far_from * double(par.zsw) + 0.5;
  if (s.rightward)
    far.lo = std::max(s.lo, clamp_step(std::ceil(c.te + reach), par.nstep));
  else
    far.hi = std::min(s.hi, clamp_step(std::floor(c.te - reach), par.nstep));
  return far;
}

// The tiles of steps the threads take: blocks of one level of the tree.
struct Tiles {
  int level = 0;
  long size = 0, count = 0;
};
Tiles tiles_for(const FarField& ff, int threads) {
  Tiles t;
  const long want = std::clamp<long>(ff.n_steps / (8L * threads), 256, 16384);
  while (t.level < ff.top && ff.size(t.level + 1) <= want) ++t.level;
  t.size = ff.size(t.level);
  t.count = ff.blocks(t.level);
  return t;
}

// The side's steps evaluated directly on the tile t0..t1: its near part (with the
// Gaussian within its reach) and the runs between the blocks of its far part.
void add_side_direct(double* acc, const double* psi, long t0, long t1, const FarField& ff,
                     const RunParameters& par, const Shape& c, const Side& sd, const SideSteps& s) {
  const int nnn = par.nnn;
  const long lo = std::max(s.lo, t0), hi = std::min(s.hi, t1);
  if (lo > hi) return;
  if (!c.regular) {
    if (&sd == &c.inner)
      add_side<true, true>(acc, psi, t0, lo, hi, c, sd, nnn);
    else
      add_side<true, false>(acc, psi, t0, lo, hi, c, sd, nnn);
    return;
  }
  const SideSteps far = far_steps(c, sd, s, par);
  // the near part
  const long nlo = std::max(lo, s.rightward ? s.lo : std::max(s.lo, far.hi + 1));
  const long nhi = std::min(hi, s.rightward ? std::min(s.hi, far.lo - 1) : s.hi);
  if (nlo <= nhi) {
    const StepRange g = sd.gauss_reach > 0 ? steps_within(par, c.psi, sd.gauss_reach) : StepRange{1, 0};
    const long glo = std::max(nlo, g.first), ghi = std::min(nhi, g.last);
    if (glo > ghi) {
      add_side<false, false>(acc, psi, t0, nlo, nhi, c, sd, nnn);
    } else {
      if (nlo < glo) add_side<false, false>(acc, psi, t0, nlo, glo - 1, c, sd, nnn);
      add_side<true, false>(acc, psi, t0, glo, ghi, c, sd, nnn);
      if (ghi < nhi) add_side<false, false>(acc, psi, t0, ghi + 1, nhi, c, sd, nnn);
    }
  }
  // the runs of the far part
  if (far.lo > far.hi || far.hi < t0 || far.lo > t1) return;
  decompose(ff, far.lo, far.hi, c.te, far.rightward, far.rightward ? t1 : t0, [](int, long) {},
            [&](long a, long z) {
              a = std::max(a, t0), z = std::min(z, t1);
              if (a <= z) add_side<false, false>(acc, psi, t0, a, z, c, sd, nnn);
            });
}

// The side's far part on the blocks that start on the tile t0..t1.
void add_side_far(FarField& ff, long t0, long t1, const RunParameters& par, const Shape& c,
                  const Side& sd, const SideSteps& s) {
  if (!c.regular) return;
  const SideSteps far = far_steps(c, sd, s, par);
  if (far.lo > far.hi || far.hi < t0 || far.lo > t1) return;
  decompose(
      ff, far.lo, far.hi, c.te, far.rightward, far.rightward ? t1 : t0,
      [&](int level, long j) {
        const long start = j * ff.size(level);
        if (start >= t0 && start <= t1) add_block(ff, level, j, par, c, sd, par.nnn);
      },
      [](long, long) {});
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
    for (const ScanCrossing& c : crossings) {
      Shape s = prepare(par, c);
      if (s.adds) shapes.push_back(s);
    }
  }

  FarField ff(n_steps);
  int threads = thread_count(opt.threads);
  const Tiles tiles = tiles_for(ff, threads);
  threads = static_cast<int>(std::min<long>(threads, tiles.count));
  std::mutex progress_mutex;
  long done = 0;
  auto report = [&] {
    if (!opt.progress) return;
    std::lock_guard<std::mutex> lock(progress_mutex);
    opt.progress(double(++done) / double(2 * tiles.count));
  };
  auto cancelled = [&] { return opt.cancel && opt.cancel->load(std::memory_order_relaxed); };

  // 1. The far parts of the crossings at the points of their blocks; a tile holds the
  //    blocks that start on it, each summing its crossings in their order.
  std::atomic<long> next{0};
  auto far_work = [&] {
    for (long t = next.fetch_add(1); t < tiles.count && !cancelled(); t = next.fetch_add(1)) {
      const long t0 = t * tiles.size, t1 = std::min(n_steps, t0 + tiles.size) - 1;
      for (const Shape& c : shapes) {
        add_side_far(ff, t0, t1, par, c, c.inner, c.inner_steps);
        add_side_far(ff, t0, t1, par, c, c.outer, c.outer_steps);
      }
      report();
    }
  };
  run_on_threads(threads, far_work);
  if (cancelled()) return profile;

  // 2. The blocks above the tiles carried down to them.
  for (int level = ff.top; level > tiles.level; --level)
    for (long j = 0; j < ff.blocks(level); ++j) ff.push_down(level, j);

  // 3. Tile by tile: the direct parts of the crossings in their order, the far field
  //    carried down to the leaves and evaluated at the steps, I-prim total added.
  next = 0;
  auto step_work = [&] {
    std::vector<double> acc(static_cast<std::size_t>(tiles.size)), psi(static_cast<std::size_t>(tiles.size));
    for (long t = next.fetch_add(1); t < tiles.count && !cancelled(); t = next.fetch_add(1)) {
      const long t0 = t * tiles.size, t1 = std::min(n_steps, t0 + tiles.size) - 1;
      for (long i = t0; i <= t1; ++i) {
        acc[static_cast<std::size_t>(i - t0)] = 0;
        psi[static_cast<std::size_t>(i - t0)] = step_psi(par, i);
      }
      for (const Shape& c : shapes) {
        add_side_direct(acc.data(), psi.data(), t0, t1, ff, par, c, c.inner, c.inner_steps);
        add_side_direct(acc.data(), psi.data(), t0, t1, ff, par, c, c.outer, c.outer_steps);
      }
      for (int level = tiles.level; level > 0; --level) {
        const long per_tile = 1L << (tiles.level - level);
        for (long j = t * per_tile; j < std::min((t + 1) * per_tile, ff.blocks(level)); ++j)
          ff.push_down(level, j);
      }
      const long leaves = tiles.size / ff.leaf;
      for (long j = t * leaves; j < std::min((t + 1) * leaves, ff.blocks(0)); ++j) {
        if (!ff.used[0][static_cast<std::size_t>(j)]) continue;
        const double* v = ff.block(0, j);
        for (long m = 0; m < ff.leaf && j * ff.leaf + m <= t1; ++m) {
          const auto& row = ff.at_step[static_cast<std::size_t>(m)];
          double s = 0;
          for (int k = 0; k < kNodes; ++k) s += row[static_cast<std::size_t>(k)] * v[k];
          acc[static_cast<std::size_t>(j * ff.leaf + m - t0)] += s;
        }
      }
      for (long i = t0; i <= t1; ++i)
        profile.intensity[static_cast<std::size_t>(i)] =
            static_cast<float>(acc[static_cast<std::size_t>(i - t0)] + double(iprim_total));
      report();
    }
  };
  run_on_threads(threads, step_work);
  find_extremes(par, profile);
  return profile;
}

namespace {

// What crossing c adds at step i with the formula as written: its profile on the side
// the step lies (the inner side cut at beta), the intensities and the interference term
// with atan and cos. The plain scan sums it over every step and crossing.
double crossing_at_step(const RunParameters& par, const ScanCrossing& c, long i) {
  const double eta = c.eta_m, w_in = c.w_in, w_out = c.w_out;
  if (!(w_out > 0)) return 0;
  auto peak = [&](double w) { return eta * kLorentzPeak / w + (1 - eta) * kGaussPeak / w; };
  const double sig_in = kSigmaPerHwhm * w_in, sig_out = kSigmaPerHwhm * w_out;
  const double p_out = peak(w_out);
  const double p_in = w_in > 0 ? peak(w_in) : p_out;
  const double k = c.k_block, ip = double(c.iprim) / k;
  // n_e as a real (ANINT): a crossing any number of steps away splits the steps right
  const double ne = std::round((double(c.psi) - par.psia) * double(par.zsw));
  const double psi_i = step_psi(par, i);
  const bool below = double(i) <= ne;
  const bool inner = c.crossing == Crossing::first ? below : !below;
  const double x = c.crossing == Crossing::first ? psi_i - c.psi : c.psi - psi_i;
  double f;
  if (inner) {
    if (std::fabs(x) > c.beta) return 0;
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
  return k * j + k * k * (u - d);
}

}  // namespace

std::vector<double> step_contributions(const RunParameters& par,
                                       const std::vector<ScanCrossing>& crossings, long step) {
  std::vector<double> out(crossings.size(), 0.0);
  if (!(par.zsw > 0) || step < 0 || step > par.nstep) return out;
  for (std::size_t i = 0; i < crossings.size(); ++i) out[i] = crossing_at_step(par, crossings[i], step);
  return out;
}

ScanProfile simulate_scan_plain(const RunParameters& par,
                                const std::vector<ScanCrossing>& crossings, float iprim_total) {
  const long n = par.nstep;
  std::vector<double> acc(static_cast<std::size_t>(n + 1), 0.0);
  if (par.zsw > 0)
    for (const ScanCrossing& c : crossings)
      for (long i = 0; i <= n; ++i) acc[static_cast<std::size_t>(i)] += crossing_at_step(par, c, i);
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
