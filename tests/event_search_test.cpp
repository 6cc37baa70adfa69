// The event search and the event intensities against an independent construction of
// the psi scan: the reciprocal basis from gemmi's UnitCell, each reciprocal-lattice
// point turned about the primary axis, and the psi positions where it meets the Ewald
// sphere found by sampling and bisection. Also the polarisation weighting of the
// source, the forbidden primary, the listing limits, the reference direction rules and
// the agreement of the serial, parallel and plain searches.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <numbers>
#include <tuple>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "crystal/centring.hpp"
#include "crystal/geometry.hpp"
#include "crystal/space_group.hpp"
#include "input/free_format.hpp"
#include "input/input_reader.hpp"
#include "report/event_listing.hpp"
#include "report/listing.hpp"
#include "scattering/sphere_tables.hpp"
#include "scattering/linear_absorption.hpp"
#include "scattering/polarisation.hpp"
#include "scattering/structure_factor.hpp"
#include "simulation/event_intensity.hpp"
#include "simulation/event_search.hpp"
#include "simulation/reference_direction.hpp"
#include "shell/run_driver.hpp"
#include "tests/run_fixture.hpp"

#include <gemmi/symmetry.hpp>
#include <gemmi/unitcell.hpp>

using namespace kaven;
using namespace kaven_test;

namespace {

EventSearchOptions search_options(int threads) {
  EventSearchOptions o;
  o.threads = threads;
  return o;
}

using V3 = std::array<double, 3>;

double dot(const V3& a, const V3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
V3 cross(const V3& a, const V3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
V3 add(const V3& a, const V3& b, double s = 1) {
  return {a[0] + s * b[0], a[1] + s * b[1], a[2] + s * b[2]};
}
V3 scaled(const V3& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
double norm(const V3& a) { return std::sqrt(dot(a, a)); }
V3 unit(const V3& a) { return scaled(a, 1 / norm(a)); }

constexpr double kDeg = 57.29577951308232;

// Difference of two angles in degrees, folded to -180..180.
double angle_diff(double a, double b) { return std::remainder(a - b, 360.0); }

// ---- a run prepared up to the wavelength passes, as the driver prepares it ----------

struct Prepared {
  RunParameters par;
  std::unique_ptr<ExtinctionTable> ext = std::make_unique<ExtinctionTable>(xtab1());
  std::array<float, 3> ref{};
  std::vector<WavelengthPass> passes;
};

std::unique_ptr<Prepared> prepare(const Lines& lines) {
  auto pr = std::make_unique<Prepared>();
  RunParameters& par = pr->par;
  std::istringstream in(join_lines(lines));
  std::ostringstream sink;
  RunContext run(par, sink);
  LineSource src(in);
  try {
    read_title(par, src);
    read_plot_name(par, src);
    read_crystal(run, src);
    read_primary_and_optional(par, src);
    kaven::RunResult scratch;
    set_up_crystal(run, scratch);
  } catch (const RunStopped& stop) {
    run.list_stop(stop);
    ADD_FAILURE() << "the input did not prepare:\n" << sink.str();
  }
  pr->ref = reference_direction(par);
  if (par.ub_read) par.psid = upsi(par, pr->ref[0], pr->ref[1], pr->ref[2]);
  pr->passes = wavelength_passes(par);
  return pr;
}

// One pass searched the way the driver does it, with the pass values set in the record.
struct SearchedPass {
  PrimaryPass pp;
  EventPassResult result;
};

SearchedPass search_pass(Prepared& pr, std::size_t n, ReflectionCache& cache, int threads) {
  const WavelengthPass& pass = pr.passes.at(n);
  pr.par.alam = pass.lambda;
  pr.par.dlam = pass.dlam;
  SearchedPass s{primary_pass(pr.par, *pr.ext, pass), {}};
  s.result = search_events(pr.par, s.pp, cache, n == 0, search_options(threads));
  return s;
}

std::unique_ptr<ReflectionCache> make_cache(const Prepared& pr) {
  float lam = pr.par.alam1;
  for (const WavelengthPass& p : pr.passes) lam = std::min(lam, p.lambda);
  const std::array<int, 3> lim = index_limits(pr.par, lam);
  return std::make_unique<ReflectionCache>(pr.par, lim[0], lim[1], lim[2]);
}

// Every crossing stored: the whole psi turn, every positive peak value, no scan.
void store_every_crossing(RunParameters& par) {
  par.psia = par.isyn > 0 ? 0.0f : -180.0f;
  par.psie = par.isyn > 0 ? 360.0f : 180.0f;
  par.drumin = 1e-30f;
  par.drumin_scan = 1e-32f;
  par.zsw1 = -1;
}

std::int64_t key(int h, int k, int l) {
  return (std::int64_t(h + 512) << 20) | (std::int64_t(k + 512) << 10) | std::int64_t(l + 512);
}


// ---- the independent psi-scan geometry -------------------------------------------

// Cartesian reciprocal vectors from gemmi's fractionalisation matrix: h* = F^T h.
// The program turns degrees into radians with the single-precision constant 0.0174533,
// 4.3e-7 above pi/180, so the cell it works on has its angles larger by that factor
// (90 degrees become 90.00004). Large h near tangency notice: with the exact right
// angles the first YIG pass would count 8 crossings more. The construction here takes
// the cell the program works on.
struct ReciprocalBasis {
  static double angle(float deg) { return deg * double(0.0174533f) * kDeg; }
  gemmi::UnitCell cell;
  explicit ReciprocalBasis(const RunParameters& p)
      : cell(p.a, p.b, p.c, angle(p.alpha), angle(p.beta), angle(p.gamma)) {}
  V3 operator()(double h, double k, double l) const {
    const auto& f = cell.frac.mat;
    return {f[0][0] * h + f[1][0] * k + f[2][0] * l, f[0][1] * h + f[1][1] * k + f[2][1] * l,
            f[0][2] * h + f[1][2] * k + f[2][2] * l};
  }
};

// The reference direction by its rule, with q = G* h_p from gemmi's metric.
V3 reference_rule(const RunParameters& p) {
  const ReciprocalBasis b(p);
  const V3 hp = b(p.h, p.k, p.l);
  const V3 q{dot(b(1, 0, 0), hp), dot(b(0, 1, 0), hp), dot(b(0, 0, 1), hp)};
  if (std::fabs(q[0]) > 1e-5) return {-q[1] / q[0], 1, 0};
  if (std::fabs(q[1]) > 1e-5) return {1, -q[0] / q[1], 0};
  return {1, 0, -q[0] / q[2]};
}

// psi of a direction by its geometric meaning: in the diffractometer frame (UB applied)
// psi = 0 is the plane of the primary axis n and the horizontal n x z; psi counts from
// n x z towards (n x z) x n.
double psi_in_diffractometer(const RunParameters& p, const V3& v_idx) {
  auto ub = [&](const V3& x) {
    const auto& u = p.ub;
    return V3{u[0] * x[0] + u[1] * x[1] + u[2] * x[2], u[3] * x[0] + u[4] * x[1] + u[5] * x[2],
              u[6] * x[0] + u[7] * x[1] + u[8] * x[2]};
  };
  const V3 n = unit(ub({double(p.h), double(p.k), double(p.l)}));
  const V3 v = ub(v_idx);
  const V3 v_perp = add(v, n, -dot(v, n));
  const V3 u0 = unit(cross(n, {0, 0, 1}));
  const V3 u90 = cross(u0, n);
  return std::atan2(dot(v_perp, u90), dot(v_perp, u0)) * kDeg;
}

// The psi turn in Cartesian reciprocal space. The crystal turns right-handed about h_p
// by psi - PsiD from the setting in which the Ewald-sphere centre C lies on the side of
// r in the plane of h_p and r; a point h is on the sphere when |h(psi) - C| = 1/lambda.
struct Turn {
  ReciprocalBasis b;
  V3 hp, n, centre;
  double hp_len, k, psid;
  Turn(const RunParameters& p, double lambda, const V3& r_idx, double psid_deg)
      : b(p), psid(psid_deg) {
    hp = b(p.h, p.k, p.l);
    hp_len = norm(hp);
    n = scaled(hp, 1 / hp_len);
    const V3 rc = b(r_idx[0], r_idx[1], r_idx[2]);
    const V3 e1 = unit(add(rc, n, -dot(rc, n)));
    k = 1 / lambda;
    centre = add(scaled(n, hp_len / 2), e1, std::sqrt(k * k - hp_len * hp_len / 4));
  }
  // h turned by a (radians) is ax n + perp cos a + side sin a.
  struct Point {
    V3 x;
    double ax;
    V3 perp, side;
  };
  Point point(int h, int kk, int l) const {
    Point pt;
    pt.x = b(h, kk, l);
    pt.ax = dot(pt.x, n);
    pt.perp = add(pt.x, n, -pt.ax);
    pt.side = cross(n, pt.perp);
    return pt;
  }
  V3 turned(const Point& pt, double a) const {
    return add(add(scaled(n, pt.ax), pt.perp, std::cos(a)), pt.side, std::sin(a));
  }
};

// Where a reciprocal-lattice point meets the Ewald sphere during a full turn.
struct Crossing {
  double psi_out;  // leaves the sphere: its distance from the centre grows through 1/lambda
  double psi_in;   // enters
  // Delta: half the turn between entering and leaving, degrees
  double delta() const { return std::fmod(psi_out - psi_in + 720.0, 360.0) / 2; }
};

struct SphereCrossings {
  std::unordered_map<std::int64_t, Crossing> by_hkl;
  long near_tangent = 0;  // points whose crossing is decided below the rounding level
};

// Every point inside the limiting sphere |h| = 2/lambda and off the primary axis (those
// do not move) turned through a full turn; the crossings found by sampling and bisection.
SphereCrossings sphere_crossings(const Turn& turn, const RunParameters& p) {
  const double k = turn.k;
  const std::array<double, 3> edges{p.a, p.b, p.c};
  std::array<int, 3> lim{};  // |h_i| = |h . a_i| <= |h| |a_i|
  for (int i = 0; i < 3; ++i) lim[i] = static_cast<int>(std::floor(2 * k * edges[i]));

  SphereCrossings out;
  out.by_hkl.reserve(1 << 18);
  for (int h = -lim[0]; h <= lim[0]; ++h)
    for (int kk = -lim[1]; kk <= lim[1]; ++kk)
      for (int l = -lim[2]; l <= lim[2]; ++l) {
        const Turn::Point pt = turn.point(h, kk, l);
        if (norm(pt.x) > 2 * k || norm(pt.perp) < 1e-4) continue;
        // squared distance of the turned point from the centre, minus 1/lambda^2,
        // expanded in cos a and sin a
        const V3 d0 = add(scaled(turn.n, pt.ax), turn.centre, -1);
        const double c0 = dot(d0, d0) + dot(pt.perp, pt.perp) - k * k;
        const double c1 = 2 * dot(pt.perp, d0), c2 = 2 * dot(pt.side, d0);
        auto f = [&](double a) { return c0 + c1 * std::cos(a) + c2 * std::sin(a); };
        // Coarse sampling: a sinusoid sampled in 30-degree steps misses its extremes by
        // at most 1 - cos 15 = 3.4 % of its swing, so a sampled minimum above 5 % of the
        // swing (or a maximum below -5 %) shows that the point never crosses.
        constexpr int kSamples = 12;
        constexpr double kStep = 2 * M_PI / kSamples;
        int imin = 0, imax = 0;
        double fmin = 1e300, fmax = -1e300;
        for (int i = 0; i < kSamples; ++i) {
          const double v = f(kStep * i);
          if (v < fmin) fmin = v, imin = i;
          if (v > fmax) fmax = v, imax = i;
        }
        const double swing = fmax - fmin;
        if (fmin > 0.05 * swing || fmax < -0.05 * swing) continue;
        // golden-section refinement of an extreme next to its sample
        auto refine = [&](int i, double sign) {
          double lo = kStep * (i - 1), hi = kStep * (i + 1);
          const double g = (std::sqrt(5.0) - 1) / 2;
          for (int it = 0; it < 50; ++it) {
            const double m1 = hi - g * (hi - lo), m2 = lo + g * (hi - lo);
            if (sign * f(m1) < sign * f(m2)) hi = m2;
            else lo = m1;
          }
          return (lo + hi) / 2;
        };
        double amin = kStep * imin, amax = kStep * imax;
        if (fmin > 0) amin = refine(imin, 1), fmin = f(amin);
        if (fmax < 0) amax = refine(imax, -1), fmax = f(amax);
        const double level = 1e-7 * k * k;
        if (std::fabs(fmin) < level || std::fabs(fmax) < level) ++out.near_tangent;
        if (fmin > 0 || fmax < 0) continue;
        while (amax < amin) amax += 2 * M_PI;
        // f rises through 0 between amin and amax and falls between amax and amin + 2 pi
        auto root = [&](double lo, double hi) {
          const bool rising = f(lo) <= 0;
          for (int it = 0; it < 48; ++it) {
            const double m = (lo + hi) / 2;
            ((f(m) <= 0) == rising ? lo : hi) = m;
          }
          return (lo + hi) / 2;
        };
        const double a_out = root(amin, amax);
        const double a_in = root(amax, amin + 2 * M_PI);
        out.by_hkl[key(h, kk, l)] = {a_out * kDeg + turn.psid, a_in * kDeg + turn.psid};
      }
  return out;
}

// The examples prepared once, with the crossings of each pass.
struct Example {
  std::unique_ptr<Prepared> pr;
  std::vector<SphereCrossings> crossings;
  std::vector<Turn> turns;
};

const Example& example(const std::string& name) {
  static std::map<std::string, Example> cache;
  auto it = cache.find(name);
  if (it != cache.end()) return it->second;
  Example ex;
  ex.pr = prepare(name == "YIG" ? yig_lines() : si_lines());
  const V3 r = reference_rule(ex.pr->par);
  for (const WavelengthPass& pass : ex.pr->passes) {
    ex.turns.emplace_back(ex.pr->par, pass.lambda, r, ex.pr->par.psid);
    ex.crossings.push_back(sphere_crossings(ex.turns.back(), ex.pr->par));
  }
  return cache.emplace(name, std::move(ex)).first->second;
}

// The psi of an event the independent turn predicts.
double predicted_psi(const SphereCrossings& c, int h, int k, int l, bool leaving) {
  auto it = c.by_hkl.find(key(h, k, l));
  if (it == c.by_hkl.end()) return NAN;
  return leaving ? it->second.psi_out : it->second.psi_in;
}


}  // namespace



// ---- where the events lie --------------------------------------------------------

namespace {

// The Si example in another cell and with another primary: no symmetry left in the
// metric, and a primary whose reference direction follows the second rule.
Lines si_in_cell(const std::string& cell, const std::string& primary) {
  Lines lines = si_lines();
  lines.at(2) = cell;
  lines.at(16) = primary;
  return lines;
}

// Searches every pass of `pr` storing every crossing and compares with the turn.
// `listed` (when given) says which secondaries must carry intensity.
void compare_with_turn(const std::string& label, Prepared& pr,
                       const std::vector<const SphereCrossings*>& refs,
                       const std::function<bool(int, int, int)>& listed) {
  RunParameters& par = pr.par;
  store_every_crossing(par);
  auto cache = make_cache(pr);
  for (std::size_t n = 0; n < pr.passes.size(); ++n) {
    SCOPED_TRACE(label + " pass " + std::to_string(n + 1));
    const SphereCrossings& ref = *refs.at(n);
    const SearchedPass s = search_pass(pr, n, *cache, 0);
    const long reflections = static_cast<long>(ref.by_hkl.size());
    EXPECT_GT(reflections, 100);
    // one entry and one exit for every reflection that meets the sphere
    EXPECT_LE(std::labs(s.result.full_turn - 2 * reflections), 2 * ref.near_tangent)
        << s.result.full_turn << " vs " << 2 * reflections;
    EXPECT_EQ(s.result.in_range, s.result.full_turn);  // the range is the whole turn
    long bad = 0;
    double worst = 0;
    for (const MultipleDiffractionEvent& e : s.result.events) {
      const int h = int(e.h1), k = int(e.k1), l = int(e.l1);
      EXPECT_EQ(e.h2, float(par.h - h));
      EXPECT_EQ(e.k2, float(par.k - k));
      EXPECT_EQ(e.l2, float(par.l - l));
      const double want = predicted_psi(ref, h, k, l, e.crossing == 1.0f);
      const double d = std::fabs(angle_diff(e.psi, want));  // NaN when not predicted
      worst = std::max(worst, d);
      if (!(d < 0.001) && ++bad <= 5)
        ADD_FAILURE() << h << ' ' << k << ' ' << l << " crossing " << e.crossing << ": psi "
                      << e.psi << ", the turn gives " << want;
      if (par.isyn > 0) {
        EXPECT_TRUE(e.psi >= 0 && e.psi <= 360) << e.psi;
      } else {
        EXPECT_TRUE(e.psi >= -180 && e.psi <= 180) << e.psi;
      }
    }
    EXPECT_EQ(bad, 0) << "worst psi difference " << worst;
    if (listed) {
      long expected = 0;
      for (const auto& [kk, c] : ref.by_hkl) {
        const int h = int(kk >> 20) - 512, k = int((kk >> 10) & 1023) - 512,
                  l = int(kk & 1023) - 512;
        expected += listed(h, k, l);
      }
      EXPECT_EQ(static_cast<long>(s.result.events.size()), 2 * expected);
      for (const MultipleDiffractionEvent& e : s.result.events)
        EXPECT_TRUE(listed(int(e.h1), int(e.k1), int(e.l1))) << e.h1 << ' ' << e.k1 << ' ' << e.l1;
    }
  }
}

bool allowed(const gemmi::GroupOps& ops, int h, int k, int l) {
  return !ops.is_systematically_absent({h, k, l});
}

}  // namespace

TEST(EventSearch, CrossingsAndPsiMatchAnIndependentTurnOfTheCrystal) {
  {
    // YIG, Ia-3d, primary 8 8 2 forbidden: only the path through h and h_p - h feeds
    // the primary direction, so exactly the crossings with both reflections allowed
    // carry intensity.
    const Example& ex = example("YIG");
    auto pr = prepare(yig_lines());
    const gemmi::GroupOps ops = gemmi::find_spacegroup_by_number(230)->operations();
    const RunParameters& par = pr->par;
    compare_with_turn("YIG", *pr, {&ex.crossings[0], &ex.crossings[1]}, [&](int h, int k, int l) {
      return allowed(ops, h, k, l) && allowed(ops, par.h - h, par.k - k, par.l - l);
    });
  }
  {
    // Si: the diamond structure written in P-1, so the absences of Fd-3m; with the
    // primary given as 1.5 the event takes intensity out as soon as one of h and
    // h_p - h is allowed.
    const Example& ex = example("Si");
    auto pr = prepare(si_lines());
    const gemmi::GroupOps ops = gemmi::find_spacegroup_by_number(227)->operations();
    const RunParameters& par = pr->par;
    compare_with_turn("Si", *pr, {&ex.crossings[0]}, [&](int h, int k, int l) {
      return allowed(ops, h, k, l) || allowed(ops, par.h - h, par.k - k, par.l - l);
    });
  }
  // Cells without right angles: the sign of the azimuth from plain index products
  // must still follow the turn.
  for (const auto& [label, lines] :
       {std::pair{std::string("hexagonal"),
                  si_in_cell("4.0  4.0  6.5  90. 90. 120.", "1 -2  1   1.5    0. 176.0   176.1")},
        std::pair{std::string("triclinic"),
                  si_in_cell("5.1  6.2  7.3  80. 95. 105.", "1  2  3   1.5    0. 176.0   176.1")}}) {
    auto pr = prepare(lines);
    const Turn turn(pr->par, pr->passes[0].lambda, reference_rule(pr->par), pr->par.psid);
    const SphereCrossings ref = sphere_crossings(turn, pr->par);
    compare_with_turn(label, *pr, {&ref}, {});
  }
}

TEST(EventSearch, PsiOffsetIsTheDiffractometerAzimuthOfTheReference) {
  {
    auto pr = prepare(yig_lines());
    const std::array<float, 3> r = pr->ref;
    EXPECT_NEAR(pr->par.psid, psi_in_diffractometer(pr->par, {r[0], r[1], r[2]}), 0.001);
  }
  RunParameters par;
  // UB a rotation times a*: directions perpendicular to h_p stay perpendicular.
  const double a = 0.7, b = -1.1, c = 2.3;  // Euler angles
  const double ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b),
               cc = std::cos(c), sc = std::sin(c);
  const double rot[9] = {ca * cc - sa * cb * sc, -ca * sc - sa * cb * cc, sa * sb,
                         sa * cc + ca * cb * sc, -sa * sc + ca * cb * cc, -ca * sb,
                         sb * sc,                sb * cc,                cb};
  for (int i = 0; i < 9; ++i) par.ub[i] = static_cast<float>(0.08 * rot[i]);
  par.h = 1, par.k = 2, par.l = 3;
  for (const V3& v : {V3{3, 0, -1}, V3{2, -1, 0}, V3{-2, 10, -6}, V3{-3, 0, 1}}) {
    EXPECT_NEAR(upsi(par, float(v[0]), float(v[1]), float(v[2])), psi_in_diffractometer(par, v),
                0.001)
        << v[0] << ' ' << v[1] << ' ' << v[2];
  }
  // By hand, UB = 1: h_p along x puts psi = 0 at -y (n x z) and psi = 90 at +z;
  // h_p along z (no horizontal n x z) counts from x towards -y.
  par.ub = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  par.h = 2, par.k = 0, par.l = 0;
  EXPECT_NEAR(upsi(par, 0, -1, 0), 0, 1e-3);
  EXPECT_NEAR(upsi(par, 0, 0, 1), 90, 1e-3);
  EXPECT_NEAR(std::fabs(upsi(par, 0, 1, 0)), 180, 1e-3);
  par.h = 0, par.l = 4;
  EXPECT_NEAR(upsi(par, 1, 0, 0), 0, 1e-3);
  EXPECT_NEAR(upsi(par, 0, 1, 0), -90, 1e-3);
}

TEST(EventSearch, ReferenceDirectionFollowsItsThreeRules) {
  struct Case {
    std::array<float, 6> cell;
    std::array<int, 3> primary;
    int rule;
  };
  const Case cases[] = {
      {{5.1f, 6.2f, 7.3f, 80, 95, 105}, {1, 2, 3}, 1},  // general
      {{5, 6, 7, 90, 100, 90}, {0, 0, 2}, 1},          // along c, not c*: q1 = G13 l
      {{4, 4, 6.5f, 90, 90, 120}, {1, -2, 1}, 2},      // q1 = a*^2 (1 - 2 cos 60) = 0
      {{5, 6, 7, 90, 90, 90}, {0, 0, 3}, 3},           // along c*
  };
  for (const Case& c : cases) {
    RunParameters par;
    par.a = c.cell[0], par.b = c.cell[1], par.c = c.cell[2];
    par.alpha = c.cell[3], par.beta = c.cell[4], par.gamma = c.cell[5];
    par.h = c.primary[0], par.k = c.primary[1], par.l = c.primary[2];
    par.alam1 = 0.5f;
    reciprocal_cell(par);
    primary_reflection(par);
    const std::array<float, 3> r = reference_direction(par);
    SCOPED_TRACE("primary " + std::to_string(par.h) + " " + std::to_string(par.k) + " " +
                 std::to_string(par.l));
    // the rule by the shape of r
    const bool shape[] = {r[1] == 1 && r[2] == 0, r[0] == 1 && r[2] == 0, r[0] == 1 && r[1] == 0};
    EXPECT_TRUE(shape[c.rule - 1]) << r[0] << ' ' << r[1] << ' ' << r[2];
    // the same r from gemmi's metric, and perpendicular to h_p in Cartesian space
    const V3 want = reference_rule(par);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(r[i], want[i], 1e-4 * (1 + std::fabs(want[i])));
    const ReciprocalBasis b(par);
    const V3 rc = b(r[0], r[1], r[2]), hc = b(par.h, par.k, par.l);
    EXPECT_LT(std::fabs(dot(rc, hc)), 1e-5 * norm(rc) * norm(hc));
  }
}


// ---- intensities -----------------------------------------------------------------


namespace {

// Beam directions of an event at the psi where h leaves the sphere, and the event
// geometry as the search hands it on, both from the turn.
struct TurnedEvent {
  V3 k0, k1, kp;  // incident, secondary and primary beam (unit vectors)
  EventGeometry g;
};

TurnedEvent turned_event(const Turn& turn, const Crossing& c, int h, int k, int l,
                         double lambda) {
  const Turn::Point pt = turn.point(h, k, l);
  const V3 x = turn.turned(pt, (c.psi_out - turn.psid) / kDeg);
  TurnedEvent ev{};
  ev.k0 = unit(scaled(turn.centre, -1));  // from the centre to the origin
  ev.k1 = unit(add(x, turn.centre, -1));
  ev.kp = unit(add(turn.hp, turn.centre, -1));
  const double delta = c.delta() / kDeg;
  ev.g.rho = norm(pt.perp);
  ev.g.t = std::pow(turn.hp_len / 2 - pt.ax, 2);
  ev.g.beta_deg = c.delta();
  ev.g.cos_delta = std::cos(delta);
  ev.g.theta1 = std::asin(lambda * norm(pt.x) / 2);
  ev.g.theta2 = std::asin(lambda * norm(add(turn.hp, pt.x, -1)) / 2);
  return ev;
}

// Polarisation factors of the double reflection for incident polarisation e, from the
// beams: D = k x (k x e) is the amplitude scattered into k.
struct PathFactors {
  double p12;    // incident -> secondary -> primary direction
  double c_int;  // minus the cosine between the direct and the twice-reflected wave
};

PathFactors path_factors(const TurnedEvent& ev, const V3& e) {
  auto scatter = [](const V3& kk, const V3& pol) { return cross(kk, cross(kk, pol)); };
  const V3 d1 = scatter(ev.k1, e);
  const V3 d2 = scatter(ev.kp, unit(d1));
  const V3 d0 = scatter(ev.kp, e);
  return {dot(d1, d1) * dot(d2, d2), -dot(d0, d2) / (norm(d0) * norm(d2))};
}

}  // namespace

TEST(EventIntensity, SourcePolarisationSelectsTheSigmaOrThePiWave) {
  const Example& ex = example("Si");
  auto pr = prepare(si_lines());
  RunParameters& par = pr->par;
  StructureFactorCalculator sf(par);
  int checked = 0;
  for (const auto& [kk, c] : ex.crossings[0].by_hkl) {
    const int h = int(kk >> 20) - 512, k = int((kk >> 10) & 1023) - 512, l = int(kk & 1023) - 512;
    TurnedEvent ev = turned_event(ex.turns[0], c, h, k, l, pr->passes[0].lambda);
    const StructureFactor f1 = sf(h, k, l, static_cast<float>(std::sin(ev.g.theta1) / par.alam1));
    const StructureFactor f2 = sf(par.h - h, par.k - k, par.l - l,
                                  static_cast<float>(std::sin(ev.g.theta2) / par.alam1));
    if (f1.fmod < 1 || f2.fmod < 1) continue;
    ev.g.f1 = f1.fmod, ev.g.f2 = f2.fmod;
    // sigma normal to the primary scattering plane, pi in it
    const V3 sigma = unit(cross(ev.k0, ev.kp)), pi = unit(cross(sigma, ev.k0));
    const PathFactors fs = path_factors(ev, sigma), fp = path_factors(ev, pi);
    if (std::fabs(fs.p12 - fp.p12) < 0.05) continue;  // not telling
    SCOPED_TRACE(std::to_string(h) + " " + std::to_string(k) + " " + std::to_string(l));
    auto values = [&](int isyn) {
      par.isyn = isyn;
      par.polsgn = isyn == 0 ? 0.0f : (isyn == 1 ? 1.0f : -1.0f);
      const PrimaryPass pp = primary_pass(par, *pr->ext, pr->passes[0]);
      return event_values(par, pp, ev.g);
    };
    const EventValues v1 = values(1), v2 = values(2), v0 = values(0);
    EXPECT_NEAR(v1.p12, fs.p12, 1e-5);  // P = +1: the sigma wave alone
    EXPECT_NEAR(v2.p12, fp.p12, 1e-5);  // P = -1: the pi wave alone
    EXPECT_NEAR(v0.p12, (fs.p12 + fp.p12) / 2, 1e-5);  // the tube: unpolarised
    EXPECT_NEAR(v1.c_int, fs.c_int, 1e-4);
    EXPECT_NEAR(v2.c_int, fp.c_int, 1e-4);
    EXPECT_EQ(v0.c_int, 0.5);
    // Ikaven carries the polarisation only through p12
    ASSERT_GT(v2.ikaven, 0);
    EXPECT_NEAR(v1.ikaven / v2.ikaven, fs.p12 / fp.p12, 1e-4 * fs.p12 / fp.p12);
    if (++checked == 12) break;
  }
  EXPECT_EQ(checked, 12);
}


TEST(EventIntensity, ForbiddenPrimaryTakesNothingOutOfThePrimaryBeam) {
  auto pr = prepare(yig_lines());
  RunParameters& par = pr->par;
  EXPECT_TRUE(gemmi::find_spacegroup_by_number(230)->operations().is_systematically_absent(
      {par.h, par.k, par.l}));
  EXPECT_LE(par.f, 0.001f);
  EXPECT_EQ(par.phi, 0.0f);
  store_every_crossing(par);
  par.zsw1 = 50;  // the scan contributions as well
  auto cache = make_cache(*pr);
  for (std::size_t n = 0; n < pr->passes.size(); ++n) {
    SCOPED_TRACE("pass " + std::to_string(n + 1));
    par.alam = pr->passes[n].lambda;
    const PrimaryPass pp = primary_pass(par, *pr->ext, pr->passes[n]);
    EXPECT_EQ(pp.iprim, 0.0);
    if (n == 0) continue;  // one pass of events is enough
    const SearchedPass s = search_pass(*pr, n, *cache, 0);
    ASSERT_GT(s.result.events.size(), 1000u);
    long with_ikaven = 0;
    for (const MultipleDiffractionEvent& e : s.result.events) {
      EXPECT_EQ(e.iaufhe, 0.0f);
      with_ikaven += e.ikaven > 0;
    }
    // everything listed comes from the double reflection, through t1 from Lambda1
    EXPECT_EQ(with_ikaven, static_cast<long>(s.result.events.size()));
    for (const ScanCrossing& sc : s.result.scan) {
      EXPECT_EQ(sc.iaufhe, 0.0f);
      EXPECT_EQ(sc.iprim, 0.0f);
    }
  }
}

// ---- the listing of a pass -------------------------------------------------------

namespace {

struct DriverRun {
  RunOutcome outcome;
  Lines records;
};

// One run through the driver in a scratch folder, the date fixed.
DriverRun run_driver(const Lines& lines, int threads) {
  setenv("SOURCE_DATE_EPOCH", kEpoch, 1);
  ScratchDir dir;
  RunParameters par;
  RunNames names;
  std::istringstream in(join_lines(lines));
  std::ostringstream out;
  DriverRun r;
  {
    RunFiles files;
    RunEnvironment env;
    env.base_dir = dir.path();
    env.threads = threads;
    r.outcome = kaven::kaven(par, names, files, in, out, env);
  }
  r.records = split_records(out.str());
  return r;
}

const std::string kEventHeader = std::string(20, ' ') + "*** Multiple diffraction events ***";
const std::string kCountPrefix = " Number of events in a 360 degree scan";

// One listed event record: 2(3I4, F8.2, F7.1, F7.2), 2F12.2, 2F6.2, A5, F6.3, F8.2, F9.3.
struct EventRecord {
  int h1, k1, l1, h2, k2, l2;
  std::string mark;
  double psi;
};

EventRecord parse_event(const std::string& record) {
  auto field = [&](std::size_t from, std::size_t width) { return record.substr(from, width); };
  EventRecord e;
  e.h1 = std::stoi(field(0, 4)), e.k1 = std::stoi(field(4, 4)), e.l1 = std::stoi(field(8, 4));
  e.h2 = std::stoi(field(34, 4)), e.k2 = std::stoi(field(38, 4)), e.l2 = std::stoi(field(42, 4));
  e.mark = field(104, 5);
  e.mark.erase(0, e.mark.find_first_not_of(' '));
  e.psi = std::stod(field(123, 9));
  return e;
}

// The event records of each pass: from the record after the column header's blank to
// the blank before the counts.
std::vector<std::vector<std::string>> event_records(const Lines& v) {
  std::vector<std::vector<std::string>> passes;
  for (std::size_t i = find_prefix(v, kEventHeader); i < v.size();
       i = find_prefix(v, kEventHeader, i + 1)) {
    const std::size_t head = find_prefix(v, "   H   K   L      F     phi  THETA", i);
    const std::size_t counts = find_prefix(v, kCountPrefix, i);
    if (head + 2 > counts || counts < 2) {
      ADD_FAILURE() << "pass without column header or counts";
      break;
    }
    passes.emplace_back(v.begin() + long(head + 2), v.begin() + long(counts - 2));
  }
  return passes;
}

Lines with_line(Lines lines, std::size_t i, const std::string& text) {
  lines.at(i) = text;
  return lines;
}

}  // namespace

TEST(EventListing, TooManyEventsEndTheRunAndZeroDruminListsNone) {
  // Every crossing of the whole turn above 1e-6 cps: far more than 600 records.
  const DriverRun many = run_driver(with_line(si_lines(), 5, "0. 359. 10. 8 0.000001 0."), 0);
  EXPECT_EQ(many.outcome.end, RunEnd::stopped);
  EXPECT_EQ(tail(many.records, 3),
            (Lines{"the number of output lines is to large",
                   "please increase drumin on the sixth input line",
                   " ( 8868 events of the pass above drumin = 0.1000E-05 cps, at most 600 )"}));
  EXPECT_EQ(find_prefix(many.records, kEventHeader), many.records.size());
  EXPECT_EQ(find_prefix(many.records, kCountPrefix), many.records.size());

  // drumin = 0: the same listing as with drumin = 1 without its event records.
  const DriverRun one = run_driver(si_lines(), 0);
  const DriverRun zero = run_driver(with_line(si_lines(), 5, "176. 179. 1000. 8  0. 0."), 0);
  const auto listed = event_records(one.records);
  ASSERT_EQ(listed.size(), 1u);
  ASSERT_GE(listed[0].size(), 1u);
  ASSERT_EQ(event_records(zero.records), (std::vector<std::vector<std::string>>{{}}));
  Lines expected;
  for (const std::string& r : one.records)
    if (std::find(listed[0].begin(), listed[0].end(), r) == listed[0].end()) expected.push_back(r);
  const std::string threshold = " Multiple diffraction-events with intensity greater than";
  const std::size_t t = find_prefix(expected, threshold);
  ASSERT_LT(t, expected.size());
  expected[t] = threshold + "    0.0000";
  // up to the scan summaries: with drumin = 0 more crossings enter the scan
  const std::string summary = " Maximum calculated intensity";
  const Lines zero_passes(zero.records.begin(),
                          zero.records.begin() + long(find_prefix(zero.records, summary)));
  expected.resize(find_prefix(expected, summary));
  EXPECT_EQ(zero_passes, expected);
  // column header, its blank, two blanks, the counts
  const std::size_t head = find_prefix(zero.records, "   H   K   L");
  ASSERT_LT(head + 4, zero.records.size());
  EXPECT_EQ(Lines(zero.records.begin() + long(head + 1), zero.records.begin() + long(head + 4)),
            (Lines{"", "", ""}));
  EXPECT_EQ(zero.records[head + 4].rfind(kCountPrefix, 0), 0u);

  // ... while every crossing with a peak value above 0 still goes to the scan.
  auto pr = prepare(si_lines());
  RunParameters& par = pr->par;
  store_every_crossing(par);
  auto cache = make_cache(*pr);
  const std::size_t stored = search_pass(*pr, 0, *cache, 0).result.events.size();
  par.drumin = 0, par.drumin_scan = 0, par.zsw1 = 1000;
  const SearchedPass s = search_pass(*pr, 0, *cache, 0);
  EXPECT_TRUE(s.result.events.empty());
  EXPECT_EQ(s.result.scan.size(), stored);
}

TEST(EventListing, IsReproducibleSerialAndParallelAndPlacesEventsWhereTheTurnPredicts) {
  // YIG with a threshold that lists a few hundred events in each pass
  const Lines input = with_line(yig_lines(), 5, "-66.   16. 50  0  0.005 0.");
  const DriverRun serial = run_driver(input, 1);
  const DriverRun parallel = run_driver(input, 2);
  EXPECT_EQ(serial.records, parallel.records);
  const auto passes = event_records(serial.records);
  ASSERT_EQ(passes.size(), 2u);
  const Example& ex = example("YIG");
  const RunParameters& par = ex.pr->par;
  for (std::size_t n = 0; n < 2; ++n) {
    SCOPED_TRACE("pass " + std::to_string(n + 1));
    EXPECT_GT(passes[n].size(), 100u);
    double last = -1e9;
    for (const std::string& record : passes[n]) {
      const EventRecord e = parse_event(record);
      EXPECT_EQ(e.h2, par.h - e.h1);
      EXPECT_EQ(e.k2, par.k - e.k1);
      EXPECT_EQ(e.l2, par.l - e.l1);
      ASSERT_TRUE(e.mark == "i-o" || e.mark == "o-i") << record;
      // i-o: the point leaves the sphere at this psi, o-i: it enters
      const double want = predicted_psi(ex.crossings[n], e.h1, e.k1, e.l1, e.mark == "i-o");
      EXPECT_LT(std::fabs(angle_diff(e.psi, want)), 0.0015) << record << "\n want " << want;
      EXPECT_GE(e.psi, last) << "not in ascending psi";
      EXPECT_TRUE(e.psi >= -66 && e.psi <= 16) << record;
      last = e.psi;
    }
  }

  // The prepared state of these tests writes the driver's section of a pass.
  const DriverRun si = run_driver(si_lines(), 0);
  auto pr = prepare(si_lines());
  auto cache = make_cache(*pr);
  const SearchedPass s = search_pass(*pr, 0, *cache, 0);
  std::ostringstream os;
  Listing out(os);
  list_event_pass(out, pr->par, pr->passes[0], s.pp, s.result, pr->ref, MeasuredPrimary{});
  const Lines section = split_records(os.str());
  const std::size_t from = find_prefix(si.records, kEventHeader) - 2;
  ASSERT_LT(from + section.size(), si.records.size());
  EXPECT_EQ(Lines(si.records.begin() + long(from), si.records.begin() + long(from + section.size())),
            section);
}

// Two searches field by field, to the bit.
void expect_same_search(const EventPassResult& a, const EventPassResult& b) {
  EXPECT_EQ(a.hmax, b.hmax);
  EXPECT_EQ(a.kmax, b.kmax);
  EXPECT_EQ(a.lmax, b.lmax);
  EXPECT_EQ(a.full_turn, b.full_turn);
  EXPECT_EQ(a.in_range, b.in_range);
  EXPECT_EQ(a.prager, b.prager);
  ASSERT_EQ(a.events.size(), b.events.size());
  ASSERT_EQ(a.scan.size(), b.scan.size());
  for (std::size_t i = 0; i < a.events.size(); ++i)
    ASSERT_EQ(std::memcmp(&a.events[i], &b.events[i], sizeof(MultipleDiffractionEvent)), 0)
        << "event " << i;
  for (std::size_t i = 0; i < a.scan.size(); ++i)
    ASSERT_EQ(std::memcmp(&a.scan[i], &b.scan[i], sizeof(ScanCrossing)), 0) << "crossing " << i;
}

// The cached search passes over weak crossings on screening values of F and forms the
// others with the direct sum: whatever it skips, its result is that of the plain search,
// which forms every F afresh and skips nothing, on one thread or two.
TEST(EventSearch, FastSearchEqualsThePlainOneToTheBitWhateverTheThreads) {
  struct Case {
    std::string name;
    Lines input;
    ReflectionCache::Method method;
    enum { every_crossing, as_given, amid } thresholds;
    std::size_t budget = ReflectionCache::kDefaultBudget;  // bytes the cache may keep
  };
  const std::vector<Case> cases = {
      {"Si", si_lines(), ReflectionCache::Method::automatic, Case::every_crossing},
      {"YIG Cu", with_line(yig_lines(), 3, "Cu"), ReflectionCache::Method::automatic, Case::every_crossing},
      {"YIG as given", yig_lines(), ReflectionCache::Method::automatic, Case::as_given},
      {"YIG as given, by rows", yig_lines(), ReflectionCache::Method::rows, Case::as_given},
      {"YIG Cu, thresholds amid the peaks", with_line(yig_lines(), 3, "Cu"),
       ReflectionCache::Method::automatic, Case::amid},
      {"Si, thresholds amid the peaks", si_lines(), ReflectionCache::Method::rows, Case::amid},
      // storage for a part of the reflections or none: the others formed when asked for
      {"YIG as given, 1 MB kept", yig_lines(), ReflectionCache::Method::automatic, Case::as_given,
       std::size_t{1} << 20},
      {"YIG Cu, nothing kept", with_line(yig_lines(), 3, "Cu"), ReflectionCache::Method::rows,
       Case::amid, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto pr = prepare(c.input);
    RunParameters& par = pr->par;
    const bool every_crossing = c.thresholds == Case::every_crossing;
    if (c.thresholds != Case::as_given) {
      store_every_crossing(par);
      par.zsw1 = 10;  // and every scan contribution
    }
    if (c.thresholds == Case::amid) {
      // Thresholds where the peak values of the crossings lie thickest, so that many
      // bounds fall close to them: listed above the median, scanned above the lowest
      // quarter of the peaks.
      ReflectionCache first(par, 1, 1, 1);
      const SearchedPass all = search_pass(*pr, 0, first, 1);
      std::vector<float> peaks;
      for (const MultipleDiffractionEvent& e : all.result.events)
        if (e.fwhm > 0) peaks.push_back(std::max(e.ikaven, e.iaufhe) / e.fwhm);
      ASSERT_GT(peaks.size(), 1000u);
      std::sort(peaks.begin(), peaks.end());
      par.drumin = peaks[peaks.size() / 2];
      par.drumin_scan = peaks[peaks.size() / 4];
    }
    float lam = par.alam1;
    for (const WavelengthPass& p : pr->passes) lam = std::min(lam, p.lambda);
    const std::array<int, 3> lim = index_limits(par, lam);
    ReflectionCache parallel_cache(par, lim[0], lim[1], lim[2], c.method, c.budget);
    ReflectionCache serial_cache(par, lim[0], lim[1], lim[2], c.method, c.budget);
    long crossings = 0;
    for (std::size_t n = 0; n < pr->passes.size(); ++n) {
      SCOPED_TRACE("pass " + std::to_string(n + 1));
      // the second pass meets the reflections of the first in the cache
      const SearchedPass parallel = search_pass(*pr, n, parallel_cache, 2);
      const SearchedPass serial = search_pass(*pr, n, serial_cache, 1);
      expect_same_search(parallel.result, serial.result);
      // The plain search is the slow reference: under the sanitizers, which look for
      // faults of the fast path, it is formed for two cases only.
      if (kSanitized && c.name != "Si" && c.name != "YIG as given") {
        crossings += parallel.result.full_turn;
        continue;
      }
      const EventPassResult plain = search_events_plain(par, parallel.pp, n == 0);
      if (every_crossing) {
        ASSERT_GT(plain.events.size(), 1000u);
        ASSERT_GT(plain.scan.size(), 1000u);
      } else {
        ASSERT_GT(plain.scan.size(), 100u);
      }
      expect_same_search(parallel.result, plain);
      crossings += plain.full_turn;
    }
    // With the thresholds of the input most crossings are passed over: direct sums for
    // a small part of the reflections met.
    const ReflectionCache::Counts counts = parallel_cache.counts();
    std::printf("%-36s %ld crossings, %ld direct sums, %ld screening sums\n", c.name.c_str(),
                crossings, counts.exact, counts.sums);
    EXPECT_LE(counts.bytes, c.budget);
    if (c.thresholds == Case::as_given && c.budget == ReflectionCache::kDefaultBudget) {
      EXPECT_LT(counts.exact * 10, crossings) << counts.exact << " " << crossings;
    }
  }
}

// The bound the search screens crossings with holds for every crossing of a turn: from
// the crossing's geometry (formed again here from its indices) and its moduli, exact or
// known to within a margin, it is at least the peak value the crossing's values give.
TEST(EventSearch, ScreeningBoundIsAtLeastThePeakValueOfEveryCrossing) {
  for (const std::string name : {"Si", "YIG Cu"}) {
    SCOPED_TRACE(name);
    auto pr = prepare(name == "Si" ? si_lines() : with_line(yig_lines(), 3, "Cu"));
    RunParameters& par = pr->par;
    store_every_crossing(par);
    ReflectionCache cache(par, 1, 1, 1);
    const SearchedPass pass = search_pass(*pr, 0, cache, 0);
    ASSERT_GT(pass.result.events.size(), 1000u);
    const PrimaryPass& pp = pass.pp;
    const std::array<double, 3> q = par.gstar.times(par.h, par.k, par.l);
    const double hp = std::sqrt(par.h * q[0] + par.k * q[1] + par.l * q[2]);
    const double inv_lam = 1 / pp.lambda, R = std::cos(pp.theta_p) / pp.lambda;
    std::vector<double> ratios;
    for (const MultipleDiffractionEvent& e : pass.result.events) {
      if (!(e.fwhm > 0)) continue;
      const double h1 = e.h1, k1 = e.k1, l1 = e.l1;
      const double pax = (h1 * q[0] + k1 * q[1] + l1 * q[2]) / hp;
      const double rho2 = par.gstar.length_sq(h1, k1, l1) - pax * pax;
      const double rho = std::sqrt(rho2), t = (hp / 2 - pax) * (hp / 2 - pax);
      const double cos_delta = (rho2 + R * R - (inv_lam * inv_lam - t)) / (2 * R * rho);
      const double beta = std::acos(cos_delta) * 180 / std::numbers::pi;
      const double peak = std::max(e.ikaven, e.iaufhe) / double(e.fwhm);
      // the peak from the stored single-precision values: a few units of their last place
      const double stored = peak * (1 - 1e-6);
      const double exact = screening_peak_bound(par, pp, rho, t, beta, e.f1, e.f2, 0);
      ASSERT_GE(exact, stored) << e.h1 << " " << e.k1 << " " << e.l1;
      // moduli known to within a margin, the true ones at either end of it
      const double m = 0.01 + 1e-4 * std::max(e.f1, e.f2);
      EXPECT_GE(screening_peak_bound(par, pp, rho, t, beta, e.f1 + m, e.f2 + m, m), stored);
      EXPECT_GE(screening_peak_bound(par, pp, rho, t, beta, std::max(0.0, e.f1 - 0.5 * m),
                                     e.f2 + 0.5 * m, m),
                stored);
      if (peak > 0 && std::isfinite(exact)) ratios.push_back(exact / peak);
    }
    // and a bound of use: for most crossings within a modest factor of the peak
    std::sort(ratios.begin(), ratios.end());
    ASSERT_FALSE(ratios.empty());
    const double median = ratios[ratios.size() / 2];
    std::printf("%-8s %zu crossings: bound over peak value, median %.2f\n", name.c_str(),
                ratios.size(), median);
    EXPECT_LT(median, 100);
  }
}
