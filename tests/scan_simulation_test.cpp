// The simulated scan: the profile of single hand-made crossings against its defining
// properties (area 1, the two halves meeting at the peak, half maximum at the half
// width, the cut at BETA, the plateau, the cap of the removed intensity, the sign of
// the interference term), and the scans of the example runs against an independent
// evaluation of the sum over their crossings, with and without the interference
// term; the fast scan against the plain one and against itself on any thread count.
#include "simulation/scan_simulation.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>

#include "run_fixture.hpp"

using namespace kaven_test;
using kaven::RunParameters;
using kaven::ScanCrossing;
using kaven::ScanProfile;

namespace {

RunParameters grid(float psia, float psie, float zsw, int nnn) {
  RunParameters p;
  p.psia = psia, p.psie = psie, p.zsw1 = zsw, p.zsw = zsw, p.nnn = nnn;
  p.nstep = static_cast<int>(std::lround((double(psie) - psia) * zsw));
  return p;
}

ScanCrossing crossing(float psi, int which, float w_in, float w_out, float eta, float ikaven,
                      float iaufhe = 0, float beta = 90, float k = 1, float iprim = 0,
                      float triplet = 0, float c_int = 0.5f) {
  ScanCrossing c{};
  c.psi = psi, c.beta = beta, c.w_in = w_in, c.w_out = w_out, c.eta_m = eta;
  c.ikaven = ikaven, c.iaufhe = iaufhe, c.k_block = k, c.triplet = triplet, c.c_int = c_int;
  c.iprim = iprim, c.crossing = static_cast<kaven::Crossing>(which);
  return c;
}

long step_of(const RunParameters& p, double psi) { return std::lround((psi - p.psia) * p.zsw); }

// The scan's value at step i written out from the formulas, in double, for the
// crossings given; the interference phase through the argument of s + i x.
struct Reference {
  double value = 0;      // I-prim total plus the sum over the crossings
  double magnitude = 0;  // I-prim total plus the sum of the magnitudes of the terms
};

Reference reference_step(const RunParameters& par, const std::vector<ScanCrossing>& cs,
                         double iprim_total, long i) {
  const double psi = par.psia + double(i) / par.zsw;
  const double lor = double(0.3183099f), gau = double(0.46971848f), sig = double(0.8493218f);
  Reference r;
  for (const ScanCrossing& c : cs) {
    const double eta = c.eta_m;
    auto peak = [&](double w) { return eta * lor / w + (1 - eta) * gau / w; };
    auto half = [&](double w, double x) {
      const double s = sig * w;
      return eta * lor / w / (1 + (x / w) * (x / w)) + (1 - eta) * gau / w * std::exp(-x * x / (2 * s * s));
    };
    const double p_out = peak(c.w_out), p_in = c.w_in > 0 ? peak(c.w_in) : p_out;
    const long ne = std::lround((double(c.psi) - par.psia) * par.zsw);
    const bool first = c.crossing == kaven::Crossing::first;
    const bool inner = first ? i <= ne : i > ne;
    const double x = first ? psi - c.psi : c.psi - psi;
    double f, width;
    if (inner) {
      if (std::fabs(x) > c.beta) continue;
      width = c.w_in;
      f = c.w_in > 0 ? 2 * p_out / (p_in + p_out) * half(c.w_in, x) : p_out;
    } else {
      width = c.w_out;
      f = 2 * p_in / (p_in + p_out) * half(c.w_out, x);
    }
    const double k = c.k_block, ip = c.iprim / k;
    const double u = c.ikaven * f;
    double d = c.iaufhe * f, j = 0;
    if (par.nnn != 0) {
      if (ip <= d) {
        d = ip;
      } else {
        const double s = sig * width * par.nnn;
        // cos(Phi + pi/2 + atan(x/s)) = Re(exp(i (Phi + pi/2)) (s + i x)/|s + i x|)
        const std::complex<double> turn = std::polar(1.0, double(c.triplet) + std::numbers::pi / 2);
        const std::complex<double> dir = s > 0 ? std::complex<double>(s, x) / std::hypot(s, x)
                                               : std::complex<double>(0, x <= 0 ? -1 : 1);
        j = 2 * std::sqrt((ip - d) * u) * (turn * dir).real() * c.c_int;
      }
    }
    const double term = k * j + k * k * (u - d);
    r.value += term;
    r.magnitude += std::fabs(k * j) + k * k * (std::fabs(u) + std::fabs(d));
  }
  r.value += iprim_total;
  r.magnitude += std::fabs(iprim_total);
  return r;
}

// Agreement to float precision: the float nearest the reference, give or take the
// rounding of a sum of terms of the size of `magnitude`.
void expect_float_close(float v, const Reference& r, const std::string& what) {
  const double ulp = std::nextafter(float(std::fabs(r.value)), 1e30f) - float(std::fabs(r.value));
  EXPECT_NEAR(v, r.value, 1.01 * ulp + 1e-13 * r.magnitude) << what;
}

double area(const RunParameters& p, const ScanProfile& s) {
  double a = 0;
  for (float v : s.intensity) a += v;
  return (a - s.iprim_total * double(s.intensity.size())) / p.zsw;
}

}  // namespace

TEST(ScanProfileShape, AreaPeakHalfWidthsAndTheJoinOfTheTwoHalves) {
  // Gaussian, Lorentzian and mixed profiles, symmetric and asymmetric, each crossing
  // alone on a fine grid: area 1 (for the Lorentzian the part within the range,
  // (2/pi) atan(L/w) per half), the two halves meeting at the crossing, half the peak
  // at one half width from it on each side.
  struct Case {
    float w_in, w_out, eta;
  };
  const Case cases[] = {{0.05f, 0.05f, 0}, {0.02f, 0.08f, 0}, {0.08f, 0.02f, 0}, {0.03f, 0.03f, 1},
                        {0.01f, 0.04f, 1}, {0.02f, 0.06f, 0.4f}, {0.02f, 0.06f, 0.4f}};
  const RunParameters p = grid(-5, 5, 2000, 0);
  int n = 0;
  for (Case c : cases) {
    const int which = (n++ % 2) + 1;
    SCOPED_TRACE("w_in " + std::to_string(c.w_in) + " w_out " + std::to_string(c.w_out) +
                 " eta " + std::to_string(c.eta) + " crossing " + std::to_string(which));
    const ScanProfile s = kaven::simulate_scan(p, {crossing(0, which, c.w_in, c.w_out, c.eta, 1)}, 0);
    const double lor = double(0.3183099f) * std::numbers::pi;  // the constant 1/pi, times pi
    auto captured = [&](double w) {  // share of an area-1/2 half within 5 degrees
      return c.eta * lor * (2 / std::numbers::pi) * std::atan(5 / w) + (1 - c.eta);
    };
    auto peak = [&](double w) {
      return c.eta * double(0.3183099f) / w + (1 - c.eta) * double(0.46971848f) / w;
    };
    const double pin = peak(c.w_in), pout = peak(c.w_out);
    const double expected_area = (pout * captured(c.w_in) + pin * captured(c.w_out)) / (pin + pout);
    EXPECT_NEAR(area(p, s), expected_area, 2e-6);
    const long i0 = step_of(p, 0);
    const double top = 2 * pin * pout / (pin + pout);  // both halves give this at x = 0
    EXPECT_NEAR(s.intensity[std::size_t(i0)], top, 1e-6 * top);
    EXPECT_FLOAT_EQ(s.max, s.intensity[std::size_t(i0)]);
    EXPECT_EQ(s.psi_max, 0.0f);
    // one half width to the inner side (below the first crossing, above the second)
    const double dir = which == 1 ? -1 : 1;
    const long at_in = step_of(p, dir * c.w_in), at_out = step_of(p, -dir * c.w_out);
    EXPECT_NEAR(s.intensity[std::size_t(at_in)], top / 2, 2e-6 * top);
    EXPECT_NEAR(s.intensity[std::size_t(at_out)], top / 2, 2e-6 * top);
  }
}

TEST(ScanProfileShape, InnerCutPlateauPeaksDipsCapAndInterferenceSign) {
  const RunParameters p0 = grid(-1, 1, 500, 0);
  const float iprim = 10;
  auto at = [](const ScanProfile& s, const RunParameters& p, double psi) {
    return s.intensity[std::size_t(step_of(p, psi))];
  };

  // The inner side ends at BETA: beyond it only I-prim; the outer side has no cut.
  {
    const ScanProfile s =
        kaven::simulate_scan(p0, {crossing(0, 1, 0.02f, 0.02f, 0.5f, 100, 0, 0.1f)}, iprim);
    EXPECT_GT(at(s, p0, -0.1), iprim);
    EXPECT_EQ(at(s, p0, -0.102), iprim);
    EXPECT_EQ(at(s, p0, -0.5), iprim);
    EXPECT_GT(at(s, p0, 0.5), iprim);
    // the second crossing: the inner side above it
    const ScanProfile t =
        kaven::simulate_scan(p0, {crossing(0, 2, 0.02f, 0.02f, 0.5f, 100, 0, 0.1f)}, iprim);
    EXPECT_EQ(at(t, p0, 0.102), iprim);
    EXPECT_GT(at(t, p0, -0.5), iprim);
  }
  // Without inner width: a flat shoulder of height P(w_out) (Ikaven - Iaufhe) K^2 up to
  // BETA towards the partner crossing.
  {
    const float w_out = 0.03f, eta = 0.25f, k = 2;
    const ScanProfile s = kaven::simulate_scan(
        p0, {crossing(0.2f, 1, 0, w_out, eta, 5, 1, 0.3f, k)}, iprim);
    const double pout = eta * double(0.3183099f) / w_out + (1 - eta) * double(0.46971848f) / w_out;
    const float shoulder = static_cast<float>(iprim + pout * (5 - 1) * k * k);
    for (double psi : {0.2, 0.1, 0.0, -0.098})
      EXPECT_FLOAT_EQ(at(s, p0, psi), shoulder) << psi;
    EXPECT_EQ(at(s, p0, -0.102), iprim);
  }
  // nnn = 0: a peak where Ikaven exceeds Iaufhe, a dip where Iaufhe does, and no
  // dependence on the triplet phase.
  {
    const ScanProfile peak =
        kaven::simulate_scan(p0, {crossing(0, 1, 0.02f, 0.02f, 0.5f, 3, 1, 1, 1.5f, 50, 0.3f)}, iprim);
    const ScanProfile dip =
        kaven::simulate_scan(p0, {crossing(0, 1, 0.02f, 0.02f, 0.5f, 1, 3, 1, 1.5f, 50, 0.3f)}, iprim);
    const ScanProfile turned =
        kaven::simulate_scan(p0, {crossing(0, 1, 0.02f, 0.02f, 0.5f, 3, 1, 1, 1.5f, 50, 2.0f)}, iprim);
    EXPECT_GT(peak.max, iprim);
    EXPECT_EQ(peak.psi_max, 0.0f);
    EXPECT_LT(dip.min, iprim);
    EXPECT_EQ(dip.psi_min, 0.0f);
    EXPECT_EQ(peak.intensity, turned.intensity);
    EXPECT_NEAR(peak.max - iprim, iprim - dip.min, 1e-5);
  }
  // nnn > 0: where the removed intensity would exceed I-prim/K it is I-prim/K and the
  // interference term is dropped; elsewhere J adds with the sign of
  // cos(Phi + pi/2 + atan(x/s)): at the crossing -sin Phi.
  {
    const RunParameters p = grid(-1, 1, 500, 2);
    const float k = 2, ip_pass = 30;  // Ip = 15
    const double w = 0.02, pk = 0.5 * double(0.3183099f) / w + 0.5 * double(0.46971848f) / w;
    const ScanProfile capped =
        kaven::simulate_scan(p, {crossing(0, 1, 0.02f, 0.02f, 0.5f, 1, 1, 1, k, ip_pass)}, iprim);
    ASSERT_GT(pk, 15.0);  // Iaufhe f > Ip at the crossing
    EXPECT_FLOAT_EQ(at(capped, p, 0), static_cast<float>(iprim + k * k * (pk - 15)));
    for (double phi : {-std::numbers::pi / 2, std::numbers::pi / 2, 0.7}) {
      const float ikaven = 0.01f;
      const ScanProfile s = kaven::simulate_scan(
          p, {crossing(0, 1, 0.02f, 0.02f, 0.5f, ikaven, 0, 1, k, ip_pass, float(phi), 0.5f)}, iprim);
      const double u = ikaven * pk;
      const double j = 2 * std::sqrt(15 * u) * -std::sin(double(float(phi))) * 0.5;
      EXPECT_NEAR(at(s, p, 0), iprim + k * j + k * k * u, 2e-5) << phi;
    }
  }
}

TEST(ScanProfileShape, RangeEdgesNoWrapExtremesAndTies) {
  // A crossing outside the range still adds the part of its profile on the range's
  // steps; distances are plain differences of psi, not wrapped at 180 degrees.
  const RunParameters p = grid(-180, -179, 100, 0);
  const ScanCrossing c = crossing(179.9f, 2, 0.05f, 0.05f, 1, 100);  // steps below: outer side
  const ScanProfile s = kaven::simulate_scan(p, {c}, 1);
  for (long i : {0L, 50L, 100L}) {
    const Reference r = reference_step(p, {c}, 1, i);
    expect_float_close(s.intensity[std::size_t(i)], r, "step " + std::to_string(i));
    EXPECT_LT(r.value - 1, 1e-4);  // 359 degrees away: a faint tail, not a peak
    EXPECT_GT(r.value - 1, 0);
  }
  // Without crossings every step holds I-prim; on ties the later step wins both.
  const ScanProfile flat = kaven::simulate_scan(p, {}, 7.5f);
  EXPECT_EQ(flat.intensity, std::vector<float>(101, 7.5f));
  EXPECT_EQ(flat.max, 7.5f);
  EXPECT_EQ(flat.min, 7.5f);
  EXPECT_EQ(flat.psi_max, -179.0f);
  EXPECT_EQ(flat.psi_min, -179.0f);
  EXPECT_EQ(flat.entered, 0);
  EXPECT_FALSE(kaven::plottable(flat));
  // Two equal peaks: the later one is the maximum.
  const ScanProfile two = kaven::simulate_scan(
      p, {crossing(-179.75f, 1, 0.01f, 0.01f, 0, 1), crossing(-179.25f, 1, 0.01f, 0.01f, 0, 1)}, 0);
  EXPECT_EQ(two.intensity[25], two.intensity[75]);
  EXPECT_EQ(two.psi_max, -179.25f);
  EXPECT_EQ(two.entered, 2);
  EXPECT_TRUE(kaven::plottable(two));
}

namespace {

struct ExampleScan {
  std::string name;
  RunParameters par;
  std::vector<ScanCrossing> crossings;
  ScanProfile profile;
  Lines cal;
};

ExampleScan run_example(const std::string& name, const Lines& input, const std::string& cal) {
  Session s;
  ListedRun r = s.run(input);
  EXPECT_FALSE(r.stopped()) << name;
  ExampleScan e{name, s.par, r.outcome.result.crossings, r.outcome.result.profile,
                read_lines(s.dir.path() / cal)};
  return e;
}

const std::vector<ExampleScan>& examples() {
  static const std::vector<ExampleScan> all = [] {
    std::vector<ExampleScan> v;
    v.push_back(run_example("Si 222, nnn = 8", si_lines(), "si222.cal"));
    Lines si0 = si_lines();
    si0[5] = "176. 179. 1000. 0  1. 0.";
    v.push_back(run_example("Si 222, nnn = 0", si0, "si222.cal"));
    // I-prim of 8 8 2 is 0: with nnn > 0 every step takes the cap
    Lines yig = yig_lines();
    yig[5] = "-66.   16. 50  2  1. 0.";
    v.push_back(run_example("YIG 8 8 2, nnn = 2", yig, "yig.cal"));
    return v;
  }();
  return all;
}

}  // namespace

TEST(ExampleScans, AgreeWithAnIndependentSumOverTheCrossings) {
  for (const ExampleScan& e : examples()) {
    SCOPED_TRACE(e.name);
    const RunParameters& p = e.par;
    ASSERT_GT(e.crossings.size(), 100u);
    ASSERT_EQ(e.profile.intensity.size(), std::size_t(p.nstep) + 1);
    ASSERT_EQ(e.cal.size(), e.profile.intensity.size());
    EXPECT_EQ(e.profile.entered, long(e.crossings.size()));
    std::vector<long> steps = {0, long(p.nstep), step_of(p, e.profile.psi_max),
                               step_of(p, e.profile.psi_min)};
    for (long i = 17; i < p.nstep; i += 389) steps.push_back(i);
    for (long i : steps) {
      const Reference r = reference_step(p, e.crossings, e.profile.iprim_total, i);
      expect_float_close(e.profile.intensity[std::size_t(i)], r, "step " + std::to_string(i));
      // the file: psi F10.3, intensity F20.4
      const std::string& rec = e.cal[std::size_t(i)];
      ASSERT_EQ(rec.size(), 30u);
      EXPECT_NEAR(std::stod(rec.substr(0, 10)), p.psia + double(i) / p.zsw, 5.1e-4);
      EXPECT_NEAR(std::stod(rec.substr(10)), r.value, 5.1e-5 + 2e-7 * std::fabs(r.value));
    }
    // a scan with something to see
    EXPECT_GT(e.profile.max, e.profile.min);
  }
}

TEST(ExampleScans, FastEqualsPlainAndDoesNotDependOnTheThreadCount) {
  for (const ExampleScan& e : examples()) {
    SCOPED_TRACE(e.name);
    const float iprim = e.profile.iprim_total;
    const ScanProfile plain = kaven::simulate_scan_plain(e.par, e.crossings, iprim);
    kaven::ScanOptions one;
    one.threads = 1;
    const ScanProfile serial = kaven::simulate_scan(e.par, e.crossings, iprim, one);
    for (int threads : {2, 3, 7}) {
      kaven::ScanOptions o;
      o.threads = threads;
      EXPECT_EQ(kaven::simulate_scan(e.par, e.crossings, iprim, o).intensity, serial.intensity)
          << threads << " threads";
    }
    EXPECT_EQ(serial.intensity, e.profile.intensity);
    // the plain sum differs from the fast one by the order of the roundings only
    ASSERT_EQ(plain.intensity.size(), serial.intensity.size());
    for (std::size_t i = 0; i < plain.intensity.size(); ++i) {
      const float a = plain.intensity[i], b = serial.intensity[i];
      ASSERT_LE(std::fabs(a - b), std::nextafter(std::fabs(a), 1e30f) - std::fabs(a) + 1e-9f) << "step " << i;
    }
    EXPECT_EQ(plain.entered, serial.entered);
    EXPECT_EQ(plain.iprim_total, serial.iprim_total);
    EXPECT_FLOAT_EQ(plain.max, serial.max);
    EXPECT_FLOAT_EQ(plain.min, serial.min);
    EXPECT_EQ(plain.psi_max, serial.psi_max);
    EXPECT_EQ(plain.psi_min, serial.psi_min);
  }
}

namespace {

// The fast scan against the exact (plain) sum: every step within 1e-6 of the scan's
// maximum, as the far field's error bound promises with room to spare, and in fact
// within a float's step of the plain value; the same on one thread and on three.
void expect_within_bound(const RunParameters& p, const std::vector<ScanCrossing>& cs, float iprim,
                         const std::string& what) {
  SCOPED_TRACE(what);
  kaven::ScanOptions one, three;
  one.threads = 1;
  three.threads = 3;
  const ScanProfile fast = kaven::simulate_scan(p, cs, iprim, one);
  const ScanProfile plain = kaven::simulate_scan_plain(p, cs, iprim);
  ASSERT_EQ(fast.intensity.size(), plain.intensity.size());
  EXPECT_EQ(kaven::simulate_scan(p, cs, iprim, three).intensity, fast.intensity);
  double worst = 0;
  long beyond_a_float_step = 0;
  for (std::size_t i = 0; i < plain.intensity.size(); ++i) {
    const float a = plain.intensity[i], b = fast.intensity[i];
    worst = std::max(worst, std::fabs(double(a) - b));
    if (std::fabs(a - b) > std::nextafter(std::fabs(a), 1e30f) - std::fabs(a)) ++beyond_a_float_step;
  }
  EXPECT_LE(worst, 1e-6 * std::fabs(plain.max));
  EXPECT_EQ(beyond_a_float_step, 0);
  EXPECT_EQ(fast.psi_max, plain.psi_max);
  EXPECT_EQ(fast.psi_min, plain.psi_min);
}

}  // namespace

TEST(ExampleScans, FullTurnWithinTheBoundOfThePlainSum) {
  // The crossings of the examples are those of a full turn: here on a full turn of
  // 10 steps per degree, where nearly all of every profile lies in the far field.
  for (const ExampleScan& e : examples()) {
    RunParameters p = e.par;
    p.psia = p.isyn > 0 ? 0.0f : -180.0f;
    p.psie = p.psia + 360;
    p.zsw = p.zsw1 = 10;
    p.nstep = 3600;
    expect_within_bound(p, e.crossings, e.profile.iprim_total, e.name + ", full turn");
  }
}

TEST(ScanProfileShape, MadeUpCrossingsWithinTheBoundOfThePlainSum) {
  // Crossings of every kind on a long scan (72001 steps): plateaus reaching far inside,
  // interference with a negative nnn, the cap where the removed intensity exceeds
  // I-prim/K near the crossing or (I-prim 0) everywhere, pure Gaussian and pure
  // Lorentzian profiles, wide and narrow ones, crossings far outside the range (at any
  // distance: every step lies on one side of a crossing at 1e30 degrees or at infinity,
  // where the interference phase is that of atan(+-infinity)).
  std::vector<ScanCrossing> cs;
  const float psis[] = {-3, 0.004f, 1.5f, 17, 90, 179.99f, 180.01f, 250, 359, 360.5f, 1000, -700,
                        1e30f, -INFINITY};
  int n = 0;
  for (float psi : psis) {
    for (int which : {1, 2}) {
      const float w = 0.002f * float(1 + n % 7);
      const float eta = n % 5 == 0 ? 0.0f : n % 5 == 1 ? 1.0f : 0.3f + 0.1f * float(n % 3);
      const float w_in = n % 4 == 3 ? 0.0f : w * (1 + 0.5f * float(n % 2));
      const float ikaven = 5.0f * float(1 + n % 3), iaufhe = n % 6 == 0 ? 400.0f : 2.0f;
      const float iprim = n % 9 == 4 ? 0.0f : 100.0f;
      cs.push_back(crossing(psi, which, w_in, w, eta, ikaven, iaufhe, 20.0f + 7 * float(n), 1.3f,
                            iprim, 0.37f * float(n), 0.8f));
      ++n;
    }
  }
  for (int nnn : {0, 4, -3}) {
    RunParameters p = grid(0, 360, 200, nnn);
    expect_within_bound(p, cs, 50, "nnn " + std::to_string(nnn));
  }
  // Non-finite or unphysical values follow the plain sum step by step.
  std::vector<ScanCrossing> odd = {crossing(10, 1, 0.01f, 0.01f, 0.5f, 5, 1, 30, 0, 100),
                                   crossing(20, 2, 0.01f, 0.01f, 1.5f, 5, 1, 30, 1, 100),
                                   crossing(30, 1, 0.01f, 0.01f, 0.5f, -5, 1, 30, 1, 100),
                                   crossing(40, 2, 0.01f, 0.01f, 0.5f, 5, 1, NAN, 1, 100)};
  const RunParameters p = grid(0, 60, 100, 0);
  const ScanProfile fast = kaven::simulate_scan(p, odd, 1), plain = kaven::simulate_scan_plain(p, odd, 1);
  for (std::size_t i = 0; i < plain.intensity.size(); ++i) {
    const float a = plain.intensity[i], b = fast.intensity[i];
    if (std::isnan(a)) {
      EXPECT_TRUE(std::isnan(b)) << i;
    } else {
      EXPECT_NEAR(a, b, 1e-5 * std::fabs(a)) << i;
    }
  }
}
