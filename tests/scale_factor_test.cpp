// The scale of the simulation and the comparison with a measured scan, on hand-made
// measured scans: I0 from the reference reflections or the default, the reduction
// (measured I-prim, background, extremes, counting errors), the K-alpha shares of
// the measured I-prim, and the psi deviation search with its reset rules.
#include "simulation/scale_factor.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace kaven;

namespace {

RunParameters grid(float psia, float psie, float zsw, int isyn = 0) {
  RunParameters p;
  p.psia = psia, p.psie = psie, p.zsw1 = zsw, p.zsw = zsw, p.isyn = isyn;
  p.nstep = static_cast<int>(std::lround((double(psie) - psia) * zsw));
  return p;
}

void set_interval(RunParameters& p, float psi1, float psi2) {
  p.psi1 = psi1, p.psi2 = psi2;
  p.npsi1 = static_cast<int>(std::lround((double(psi1) - p.psia) * p.zsw));
  p.npsi2 = static_cast<int>(std::lround((double(psi2) - p.psia) * p.zsw));
}

constexpr float kNone = kNoMeasurement;

}  // namespace

TEST(ScaleFactor, FromReferencesOrTheDefault) {
  RunParameters p;
  p.i0 = 2e9f;
  p.dname1 = "yig.ps";
  MeasuredScan m;
  m.nref = 4, m.refsum = 1e10f;
  ScaleFactor s = scale_factor(p, m, true);
  EXPECT_EQ(s.source, ScaleSource::references);
  EXPECT_EQ(s.i0, 2.5e9f);

  m.nref = 0, m.refsum = 0;
  s = scale_factor(p, m, true);
  EXPECT_EQ(s.source, ScaleSource::no_references);
  EXPECT_EQ(s.i0, 2e9f);
  s = scale_factor(p, m, false);
  EXPECT_EQ(s.source, ScaleSource::default_i0);
  EXPECT_EQ(s.i0, 2e9f);
  EXPECT_FALSE(s.znwo4);

  // plot names beginning "znwo4" raise the default fivefold, not the reference I0
  p.dname1 = "znwo4-300k.ps";
  s = scale_factor(p, m, false);
  EXPECT_TRUE(s.znwo4);
  EXPECT_EQ(s.i0, 1e10f);
  p.dname1 = " znwo4.ps";
  EXPECT_EQ(scale_factor(p, m, false).i0, 2e9f);
  p.dname1 = "znwo4.ps";
  m.nref = 1, m.refsum = 3e9f;
  EXPECT_EQ(scale_factor(p, m, true).i0, 3e9f);
}

TEST(ScanReduction, TubeAndSynchrotronScans) {
  // Tube mode: background subtracted, steps below it cut at 0, ties to the later
  // step; I-prim the mean over the measured steps of psi1..psi2 above the background
  // (not cut); errors with 1/sqrt(60).
  RunParameters p = grid(0, 1, 10, 0);
  set_interval(p, 0.2f, 0.55f);  // steps 2..6 (5.5 rounds away from zero)
  MeasuredScan m;
  m.present = true;
  m.background = 10;
  m.intensity = {kNone, 12, 15, 30, 11, 9, kNone, 15, 30, 14, 10};
  ScanReduction r = reduce_measured_scan(p, m);
  EXPECT_EQ(m.intensity, (std::vector<float>{kNone, 2, 5, 20, 1, 0, kNone, 5, 20, 4, 0}));
  EXPECT_FLOAT_EQ(r.imeas, (5 + 20 + 1 - 1) / 4.0f);
  EXPECT_EQ(r.mmax, 20.0f);
  EXPECT_FLOAT_EQ(r.psi_mmax, 0.8f);
  EXPECT_EQ(r.mmin, 0.0f);
  EXPECT_FLOAT_EQ(r.psi_mmin, 1.0f);
  EXPECT_EQ(r.background, 10.0f);
  const double c = 0.1291;
  EXPECT_FLOAT_EQ(r.s_max, float(c * std::sqrt(2 * 10 + 20.0)));
  EXPECT_FLOAT_EQ(r.s_min, float(c * std::sqrt(2 * 10 + 0.0)));
  EXPECT_FLOAT_EQ(r.s_b, float(c * std::sqrt(10.0)));
  EXPECT_FLOAT_EQ(r.s_i, float(c * std::sqrt(20 + 6.25)));
  EXPECT_FLOAT_EQ(r.s_maxi, float(c * std::sqrt(20 + 40 + 6.25)));
  EXPECT_FLOAT_EQ(r.s_mini, float(c * std::sqrt(40 + 0 + 6.25)));

  // Synchrotron mode: no background subtraction, errors of the plain rates.
  RunParameters q = grid(0, 1, 10, 1);
  set_interval(q, 0.0f, 0.2f);
  MeasuredScan n;
  n.background = 3;
  n.intensity = {4, -2, 9, 9, kNone, 1, 1, 1, 1, 1, 1};
  r = reduce_measured_scan(q, n);
  EXPECT_EQ(n.intensity, (std::vector<float>{4, 0, 9, 9, kNone, 1, 1, 1, 1, 1, 1}));
  EXPECT_FLOAT_EQ(r.imeas, (4 - 2 + 9) / 3.0f);
  EXPECT_FLOAT_EQ(r.psi_mmax, 0.3f);
  EXPECT_EQ(r.mmin, 0.0f);
  EXPECT_FLOAT_EQ(r.s_max, std::sqrt(6.0f + 9));
  EXPECT_FLOAT_EQ(r.s_b, std::sqrt(3.0f));

  // psi1 or psi2 off the scan: no measured I-prim. A measured I-prim further below
  // the background than twice its size has no error rather than a NaN.
  RunParameters off = grid(0, 1, 10, 0);
  set_interval(off, -0.1f, 0.5f);
  MeasuredScan o;
  o.background = 100;
  o.intensity = std::vector<float>(11, 50);
  r = reduce_measured_scan(off, o);
  EXPECT_EQ(r.imeas, 0.0f);
  set_interval(off, 0.0f, 1.0f);
  o.intensity = std::vector<float>(11, -300);  // a background-corrected list may go below 0
  r = reduce_measured_scan(off, o);
  EXPECT_EQ(r.imeas, -400.0f);
  EXPECT_EQ(r.s_i, 0.0f);
}

TEST(ScanReduction, KAlphaSharesOfTheMeasuredPrimary) {
  ScanReduction r;
  r.imeas = 300, r.s_i = 30;
  RunParameters tube = grid(0, 1, 10, 0), synchrotron = grid(0, 1, 10, 1);
  EXPECT_FLOAT_EQ(measured_share(tube, r, 0).intensity, 200);
  EXPECT_FLOAT_EQ(measured_share(tube, r, 0).error, 20);
  EXPECT_FLOAT_EQ(measured_share(tube, r, 1).intensity, 100);
  EXPECT_FLOAT_EQ(measured_share(tube, r, 1).error, 10);
  EXPECT_EQ(measured_share(synchrotron, r, 0).intensity, 300);
  EXPECT_EQ(measured_share(synchrotron, r, 0).error, 30);
}

namespace {

// A calculated scan with a few peaks of different heights on I-prim, and a measured
// one that is the same scan scaled, shifted by `shift` steps and with no measurement
// where the shift leaves it without a calculated partner.
struct Pair {
  RunParameters par;
  ScanProfile calc;
  MeasuredScan meas;
  ScanReduction red;
};

Pair planted(float zsw, int shift, float scale = 0.4f) {
  Pair s{grid(-10, 10, zsw), {}, {}, {}};
  const long n = s.par.nstep;
  s.calc.intensity.resize(std::size_t(n + 1));
  for (long i = 0; i <= n; ++i) {
    const double psi = step_psi(s.par, i);
    double v = 20;
    for (double c : {-7.3, -2.0, 1.1, 6.4}) v += (c + 12) * 4 * std::exp(-(psi - c) * (psi - c) / 0.08);
    v -= 15 * std::exp(-(psi - 3.7) * (psi - 3.7) / 0.02);  // a dip
    s.calc.intensity[std::size_t(i)] = static_cast<float>(v);
    s.calc.max = std::max(s.calc.max, s.calc.intensity[std::size_t(i)]);
  }
  s.meas.intensity.assign(std::size_t(n + 1), kNoMeasurement);
  for (long m = 0; m <= n; ++m)
    if (m + shift >= 0 && m + shift <= n)
      s.meas.intensity[std::size_t(m)] = scale * s.calc.intensity[std::size_t(m + shift)];
  s.red.mmax = 0;
  for (float v : s.meas.intensity)
    if (v < kNoMeasurement) s.red.mmax = std::max(s.red.mmax, v);
  return s;
}

}  // namespace

TEST(Deviation, RecoversAPlantedShiftAndResetsImplausibleOnes) {
  struct Case {
    float zsw;
    int planted;
    int found;   // best shift before the reset
    int shift;   // after it
    float dev;
  };
  const Case cases[] = {
      {50, 3, 3, 3, 0.06f},    {50, -4, -4, -4, -0.08f}, {50, 0, 0, 0, 0},
      {50, 5, 5, 0, 0},        // exactly 0.1 degree: reset
      {50, -5, -5, 0, 0},      {30, 3, 3, 0, 0},   // 3/30 = 0.1 as well
      {100, 9, 9, 9, 0.09f},   {100, 40, 40, 0, 0},
      {5, 7, 7, 0, 0},         // zsw 5: +-10 steps searched, 7 found, 1.4 degrees reset
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("zsw " + std::to_string(c.zsw) + " planted " + std::to_string(c.planted));
    const Pair s = planted(c.zsw, c.planted);
    const Deviation d = find_deviation(s.par, s.meas, s.red, s.calc);
    EXPECT_TRUE(d.searched);
    EXPECT_EQ(d.found, c.found);
    EXPECT_EQ(d.shift, c.shift);
    EXPECT_FLOAT_EQ(d.dev, c.dev);
    EXPECT_LT(d.best_r, 1e-5f);
  }
  // zsw 5.01: ANINT(5.01) = 5 steps searched, the planted 7 is out of reach.
  const Pair wide = planted(5.01f, 7);
  const Deviation d = find_deviation(wide.par, wide.meas, wide.red, wide.calc);
  EXPECT_LE(std::abs(d.found), 5);
  EXPECT_GT(d.best_r, 1e-3f);
}

TEST(Deviation, UnusableShiftsTiesAndNoCalculatedMaximum) {
  RunParameters p = grid(0, 2, 5);  // +-10 steps
  ScanProfile calc;
  calc.intensity.assign(11, 5.0f);
  calc.max = 5;
  ScanReduction red;
  red.mmax = 100;
  MeasuredScan meas;

  // Equal misfit for every shift: the first (most negative) wins.
  meas.intensity.assign(11, 10.0f);
  Deviation d = find_deviation(p, meas, red, calc);
  EXPECT_EQ(d.found, -10);
  EXPECT_EQ(d.dev, 0.0f);
  EXPECT_FLOAT_EQ(d.best_r, 9.0f);

  // One usable measured step, the first: the negative shifts have no step to compare
  // (W = 0) and cannot win, however small their empty misfit.
  meas.intensity.assign(11, kNoMeasurement);
  meas.intensity[0] = 10;
  calc.intensity = {9, 9, 9, 2, 9, 9, 9, 9, 9, 9, 9};
  d = find_deviation(p, meas, red, calc);
  EXPECT_EQ(d.found, 3);  // f calc(3) = 40, the closest to 10

  // Every measured step strong (at least 0.8 M_max): no shift wins, dev = 0.
  red.mmax = 10;
  meas.intensity.assign(11, 10.0f);
  d = find_deviation(p, meas, red, calc);
  EXPECT_TRUE(d.searched);
  EXPECT_EQ(d.found, 0);
  EXPECT_EQ(d.best_r, 1e8f);

  // A calculated maximum of 0 or below: no search.
  calc.max = 0;
  d = find_deviation(p, meas, red, calc);
  EXPECT_FALSE(d.searched);
  EXPECT_EQ(d.dev, 0.0f);
}
