// The measured-scan readers against files written by the synthetic generator
// (tools/synthetic_scans.hpp): the step intensities, background, reference sums and
// counts a reader recovers are compared with what the written numbers imply, computed
// here with the test's own evaluation of the reference quantities, the counting
// corrections and the step rules. The listing records of the three table layouts are
// compared whole.
#include "scans/scan_readers.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

#include "report/listing.hpp"
#include "report/scan_file_listing.hpp"
#include "tools/synthetic_scans.hpp"

using namespace kaven;
namespace syn = kaven::synthetic;

namespace {

const ExtinctionTable& extinction() {
  static const ExtinctionTable t = xtab1();
  return t;
}

// A YIG-like crystal in Ag radiation on the CAD4 (8 8 2, psi -66..16, 50 steps/degree).
RunParameters tube_run() {
  RunParameters p;
  p.isyn = 0;
  p.h = 8, p.k = 8, p.l = 2;
  p.psia = -66, p.psie = 16, p.zsw1 = 50, p.zsw = 50;
  p.nstep = 4100;
  p.alam1 = 0.55942f;
  p.cos2tm = 0.986f;
  p.tubefac = 13.95f;
  p.rkugel = 0.015f;
  p.radius = 150;
  p.eta = 0.02f;
  p.block_path_cm = static_cast<float>(4.0 / 3.0 * 150e-4);
  p.mur = 1.99f;
  p.gamma_sc = static_cast<float>(2817.938 * 0.55942 / 1897.4133);
  return p;
}

// A silicon crystal behind a monochromator on the HUBER circle (2 2 2, psi 176..179).
RunParameters synchrotron_run() {
  RunParameters p;
  p.isyn = 1;
  p.h = 2, p.k = 2, p.l = 2;
  p.psia = 176, p.psie = 179, p.zsw1 = 1000, p.zsw = 1000;
  p.nstep = 3000;
  p.alam1 = 0.5612f;
  p.cos2tm = 1, p.tubefac = 1;
  p.rkugel = 0.025f;
  p.radius = 20;
  p.eta = 0.001f;
  p.block_path_cm = static_cast<float>(4.0 / 3.0 * 20e-4);
  p.mur = 0.17f;
  p.gamma_sc = static_cast<float>(2817.938 * 0.5612 / 160.18);
  return p;
}

MeasuredScan empty_scan(const RunParameters& p) {
  MeasuredScan m;
  m.present = true;
  m.intensity.assign(static_cast<std::size_t>(p.nstep) + 1, kNoMeasurement);
  m.minimum = 1.0e6f;
  return m;
}

// |F| of the test crystal: a few fixed values, otherwise falling with s.
struct FakeCrystal {
  std::map<std::array<int, 3>, float> fixed;
  float operator()(int h, int k, int l, float s) const {
    auto it = fixed.find({h, k, l});
    return it != fixed.end() ? it->second : static_cast<float>(80.0 * std::exp(-2.0 * s * s));
  }
};

// The reference quantities, evaluated here on their own from their definitions.
struct ExpectedReference {
  double s, L, P, A, y, lext_um, text_um, an, i0q;
  bool capped;  // the extinction of component 1 was capped at 0.9 Lambda/t
};

ExpectedReference expected_reference(const RunParameters& p, float theta_deg, double I, double F,
                                     bool synchrotron, double ratio, bool cad4) {
  ExpectedReference e{};
  const double th = theta_deg * double(0.0174533f);
  const double c2 = std::cos(2 * th), cc = c2 * c2;
  const double K = p.cos2tm;
  e.s = std::sin(th) / p.alam1;
  e.L = 1 / std::sin(2 * th);
  e.P = synchrotron ? ((1 + ratio) + (1 - ratio) * cc) / 2 : (cc + K) / (1 + K);
  e.A = p.mur < 31.5f ? absor1(p.mur, theta_deg) : 1.0;
  const double r_cm = p.radius * 1e-4;
  const double t = 4.0 / 3.0 * r_cm;
  const double lam1 = 1 / (double(p.gamma_sc) * F);
  const double lam2 = lam1 / std::fabs(c2);
  const double x1 = xtab(extinction(), static_cast<float>(r_cm / lam1), theta_deg);
  const double y1 = std::min(x1, 0.9 * lam1 / t);
  e.capped = x1 > 0.9 * lam1 / t;
  const double y2 = std::min<double>(xtab(extinction(), static_cast<float>(r_cm / lam2), theta_deg),
                                     0.9 * lam2 / t);
  e.y = synchrotron ? ((1 + ratio) / 2 * y1 + (1 - ratio) / 2 * cc * y2) / e.P
                    : (K * y1 + cc * y2) / (cc + K);
  const double lp = lam1 / std::sqrt(e.P);
  e.lext_um = lp * 1e4;
  const double w = p.alam1 * 1e-8 / t;
  e.an = std::max(1.0, (2 * p.rkugel / (3 * r_cm)) * w / (p.eta * double(0.0174533f) + w));
  const double E = t * e.y / lp;
  e.text_um = E * lp * 1e4;
  const double Q = p.alam1 * 1e-8 * e.L * E / lp;
  e.i0q = I * e.A / (e.an * double(57.29578f) * Q) / (cad4 ? 1.5 : 1.0);
  return e;
}

void expect_rel(double actual, double expected, double tol, const std::string& what) {
  EXPECT_NEAR(actual, expected, tol * std::max(1e-30, std::fabs(expected))) << what;
}

// The grid a reader must produce from the encoded steps: later records overwrite, the
// minimum sees every stored record. `turn` adds 360 to a negative psi (HUBER circle).
struct ExpectedGrid {
  std::vector<double> value;
  double minimum = 1.0e6;
  long stored = 0;
};

ExpectedGrid expected_grid(const RunParameters& p, const syn::EncodedFile& f, bool turn) {
  ExpectedGrid g;
  g.value.assign(static_cast<std::size_t>(p.nstep) + 1, 1e20);
  for (const syn::EncodedStep& s : f.steps) {
    float psi = s.psi;
    if (turn && psi < 0) psi += 360.0f;
    if (psi < p.psia || psi > p.psie) continue;
    const long i = std::lround((double(psi) - p.psia) * p.zsw);
    g.value[static_cast<std::size_t>(i)] = s.intensity;
    g.minimum = std::min(g.minimum, s.intensity);
    ++g.stored;
  }
  return g;
}

void expect_grid(const MeasuredScan& m, const ExpectedGrid& g) {
  ASSERT_EQ(m.intensity.size(), g.value.size());
  int wrong = 0;
  for (std::size_t i = 0; i < g.value.size() && wrong < 5; ++i) {
    if (g.value[i] == 1e20) {
      if (m.intensity[i] != kNoMeasurement) ++wrong, ADD_FAILURE() << "step " << i << " stored";
    } else if (std::fabs(m.intensity[i] - g.value[i]) > 2e-6 * std::fabs(g.value[i]) + 1e-6) {
      ++wrong;
      ADD_FAILURE() << "step " << i << ": " << m.intensity[i] << " instead of " << g.value[i];
    }
  }
  expect_rel(m.minimum, g.minimum, 2e-6, "minimum");
}

// Sum of I0*q / (pi R^2) and count over the accepted references.
std::pair<double, int> expected_refsum(const RunParameters& p, const syn::EncodedFile& f,
                                       const FakeCrystal& fc, bool synchrotron, bool cad4) {
  double sum = 0;
  int n = 0;
  for (const syn::EncodedReference& r : f.references) {
    const double th = r.theta_deg * double(0.0174533f);
    const float F = fc(r.h, r.k, r.l, static_cast<float>(std::sin(th) / p.alam1));
    if (cad4 && F < 2) continue;
    const ExpectedReference e = expected_reference(p, r.theta_deg, r.intensity, F, synchrotron, r.ratio, cad4);
    sum += e.i0q / (double(3.1415927f) * p.rkugel * p.rkugel);
    ++n;
  }
  return {sum, n};
}

// A known scan: a flat primary intensity with peaks and a dip, at `step` degrees.
std::vector<syn::PrimaryStep> known_scan(double from, double to, double step, double level) {
  std::vector<syn::PrimaryStep> s;
  for (double psi = from; psi <= to + 1e-9; psi += step) {
    const double x1 = (psi - (from + 0.3 * (to - from))) / (0.02 * (to - from));
    const double x2 = (psi - (from + 0.7 * (to - from))) / (0.01 * (to - from));
    s.push_back({psi, level * (1 + 8 / (1 + x1 * x1) - 0.6 / (1 + x2 * x2))});
  }
  return s;
}

template <class Read>
MeasuredScan read_text(const std::string& text, const RunParameters& p, const FakeCrystal& fc,
                       Read read) {
  MeasuredScan m = empty_scan(p);
  std::istringstream is(text);
  const ScanReaderContext ctx{p, extinction(), fc};
  read(is, ctx, m);
  return m;
}

}  // namespace

TEST(ReferenceQuantities, FollowTheirDefinitionsForTubeAndSynchrotron) {
  struct Case {
    bool synchrotron;
    float theta;
    double I, F, ratio;
    float mur, eta;
    const char* what;
  };
  const Case cases[] = {
      {false, 7.5f, 1500, 120, 1, 1.99f, 0.02f, "tube, moderate extinction"},
      {false, 22.3f, 80, 15, 1, 1.99f, 0.0f, "tube, weak reflection, no mosaic spread"},
      {false, 45.0f, 400, 60, 1, 1.99f, 0.02f, "tube at 2 theta = 90: no second component"},
      {false, 12.0f, 9000, 6000, 1, 1.99f, 0.02f, "tube, extinction capped"},
      {false, 12.0f, 900, 60, 1, 31.5f, 0.02f, "mu R = 31.5: no absorption correction"},
      {false, 12.0f, 900, 60, 1, 31.4f, 0.02f, "mu R just below 31.5: tabulated"},
      {true, 6.1f, 5000, 58, 1, 0.17f, 0.001f, "synchrotron, p = 1"},
      {true, 18.0f, 700, 30, -1, 0.17f, 0.001f, "synchrotron, p = -1"},
      {true, 30.0f, 300, 25, 0.93, 0.17f, 2.0f, "synchrotron, p = 0.93, large mosaic spread"},
  };
  for (const Case& c : cases) {
    RunParameters p = c.synchrotron ? synchrotron_run() : tube_run();
    p.mur = c.mur;
    p.eta = c.eta;
    const FakeCrystal fc{{{{4, 0, 0}, static_cast<float>(c.F)}}};
    const ScanReaderContext ctx{p, extinction(), fc};
    for (bool cad4 : {false, true}) {
      const ReferenceReflection r =
          reference_quantities(ctx, 4, 0, 0, c.theta, static_cast<float>(c.I),
                               {c.synchrotron, static_cast<float>(c.ratio)}, cad4);
      const ExpectedReference e =
          expected_reference(p, c.theta, c.I, c.F, c.synchrotron, c.ratio, cad4);
      const std::string what = std::string(c.what) + (cad4 ? " (cad4 rules)" : "");
      expect_rel(r.sinthl, e.s, 1e-6, what + ": sinthl");
      expect_rel(r.lorentz, e.L, 1e-6, what + ": alor");
      expect_rel(r.pol, e.P, 1e-6, what + ": pol");
      expect_rel(r.inv_abs, 1 / e.A, 1e-6, what + ": abs*");
      expect_rel(r.ypsil, e.y, 1e-5, what + ": ypsil");
      expect_rel(r.lext_um, e.lext_um, 1e-5, what + ": lext");
      expect_rel(r.text_um, e.text_um, 1e-5, what + ": text");
      expect_rel(r.an, e.an, 1e-6, what + ": an");
      expect_rel(r.i0q, e.i0q, 1e-5, what + ": I0*q");
      EXPECT_EQ(r.fc, static_cast<float>(c.F)) << what;
      EXPECT_EQ(r.sum, static_cast<float>(c.I)) << what;
      EXPECT_TRUE(r.accepted) << what;
    }
    if (std::string(c.what).find("capped") != std::string::npos) {
      EXPECT_TRUE(expected_reference(p, c.theta, c.I, c.F, false, 1, false).capped);
    }
    if (c.mur >= 31.5f) {
      const ReferenceReflection r =
          reference_quantities(ctx, 4, 0, 0, c.theta, 1, {c.synchrotron, 1}, false);
      EXPECT_EQ(r.inv_abs, 1.0f);
    }
  }
}

TEST(ReferenceQuantities, AcceptanceByReader) {
  // The tube reader counts a reference only from |F| = 2 on; the synchrotron reader
  // counts every one; an absent reflection (|F| <= 0.001) cannot give an estimate and is
  // never counted.
  const RunParameters p = tube_run();
  struct Case {
    float F;
    bool cad4;
    bool accepted;
  };
  const Case cases[] = {{1.9f, true, false}, {2.0f, true, true},  {1.9f, false, true},
                        {0.001f, false, false}, {0.0f, false, false}, {0.0f, true, false}};
  for (const Case& c : cases) {
    const FakeCrystal fc{{{{1, 1, 0}, c.F}}};
    const ScanReaderContext ctx{p, extinction(), fc};
    const ReferenceReflection r = reference_quantities(ctx, 1, 1, 0, 9.0f, 500, {false, 1}, c.cad4);
    EXPECT_EQ(r.accepted, c.accepted) << "|F| " << c.F << (c.cad4 ? " cad4" : " hasyl4");
  }
}

TEST(Cad4Reader, RecoversTheEncodedScanBackgroundAndReferences) {
  RunParameters p = tube_run();
  const std::vector<syn::Reference> refs = {
      {4, 0, 0, 3.64, 2200}, {4, 2, 0, 4.07, 900},  {4, 4, 0, 5.15, 1800}, {6, 4, 2, 6.82, 1200},
      {8, 0, 0, 7.29, 2600}, {1, 1, 0, 1.29, 40},   {4, 4, 4, 8.94, 1500}, {8, 4, 0, 8.16, 2000},
  };
  // 1 1 0 is listed but, with |F| below 2, not counted.
  const FakeCrystal fc{{{{1, 1, 0}, 1.9f}}};
  struct Case {
    bool noise;
    std::vector<int> divisors;
    float psia, psie;
  };
  const Case cases[] = {
      {false, {1, 2, 4}, -66, 16},
      {true, {1, 2, 4, -2, 3}, -66, 16},
      {true, {2}, -40, -10},  // records outside the range are passed over
  };
  for (const Case& c : cases) {
    p.psia = c.psia;
    p.psie = c.psie;
    p.nstep = static_cast<int>(std::lround((double(p.psie) - p.psia) * p.zsw));
    syn::Cad4Options o;
    o.noise = c.noise;
    o.divisors = c.divisors;
    o.tubefac = p.tubefac;
    const syn::EncodedFile f = syn::write_cad4(8, 8, 2, known_scan(-66, 16, 0.1, 6.0), refs, o);
    const MeasuredScan m = read_text(f.text, p, fc, cad4);
    const ExpectedGrid g = expected_grid(p, f, false);
    expect_grid(m, g);
    EXPECT_TRUE(m.present);
    EXPECT_FALSE(m.no_primary_step);
    EXPECT_EQ(m.reader, ScanReader::cad4);
    EXPECT_EQ(m.skipped_records, f.unreadable);
    // Background: the mean edge point times 96, or the smallest step when lower.
    double left = 0, right = 0;
    for (const syn::EncodedStep& s : f.steps)
      if (s.psi >= p.psia && s.psi <= p.psie) left += s.left, right += s.right;
    const double n = static_cast<double>(g.stored);
    expect_rel(m.background, std::min({left * 96 / n, right * 96 / n, g.minimum}), 1e-5, "background");
    const auto [sum, count] = expected_refsum(p, f, fc, false, true);
    EXPECT_EQ(m.nref, count);
    EXPECT_EQ(m.nref, 7);
    expect_rel(m.refsum, sum, 1e-5, "refsum");
    ASSERT_EQ(m.references.size(), refs.size());
    for (std::size_t i = 0; i < refs.size(); ++i) {
      EXPECT_EQ(m.references[i].h, f.references[i].h);
      expect_rel(m.references[i].sum, f.references[i].intensity, 1e-6, "reference intensity");
      EXPECT_EQ(m.references[i].theta_deg, f.references[i].theta_deg);
      expect_rel(m.references[i].sum, refs[i].intensity, 0.01, "encoded reference intensity");
    }
    EXPECT_FALSE(m.references[5].accepted);
  }
}

TEST(Cad4Reader, StepRulesSpeedDivisorsAndBlocksThatCannotBeRead) {
  // Hand-made blocks: psi exactly at both ends of the range, a step written twice, the
  // attenuated setting D = -2 with the copper tube constant, D = 0, a block cut short.
  RunParameters p = tube_run();
  p.tubefac = 12.179f;
  p.psia = -10, p.psie = 10, p.zsw = 10, p.nstep = 200;
  std::array<long, 96> flat{};
  flat.fill(6);
  flat[0] = 3;
  flat[95] = 9;
  auto block = [&](double psi, int d) {
    return syn::cad4_block(1, 8, 8, 2, 'P', true, psi, d, 0, 0, 0, 10.0, flat);
  };
  const std::string text = block(-10.0, 1) + block(10.0, 2) + block(-10.01, 1) + block(10.01, 1) +
                           block(0.0, -2) + block(0.04, 4) + block(5.0, 0) + block(7.0, 1).substr(0, 300);
  const MeasuredScan m = read_text(text, p, FakeCrystal{}, cad4);
  const double counts = 94 * 6 + 3 + 9;  // 576 counts a block
  EXPECT_NEAR(m.intensity[0], 16.48f / 1.0 * counts / 60, 1e-4);
  EXPECT_NEAR(m.intensity[200], 16.48f / 2.0 * counts / 60, 1e-4);
  // 0.0 and 0.04 round to the same step: the later one (D = 4) is stored, while the
  // minimum has seen both.
  EXPECT_NEAR(m.intensity[100], 16.48f / 4.0 * counts / 60, 1e-4);
  EXPECT_NEAR(m.minimum, 16.48f / 4.0 * counts / 60, 1e-4);
  EXPECT_EQ(m.intensity[150], kNoMeasurement);  // D = 0
  EXPECT_EQ(m.intensity[170], kNoMeasurement);  // the file ends inside this block
  EXPECT_EQ(m.skipped_records, 1);
  long stored = 0;
  for (float v : m.intensity) stored += v != kNoMeasurement;
  EXPECT_EQ(stored, 3);
  // The attenuated block's value went into the edges: left 3, right 9 counts, with
  // f = 16.48 tubefac / 2 for it.
  const double f[4] = {16.48f / 1.0, 16.48f / 2.0, 16.48 * double(12.179f) / 2, 16.48f / 4.0};
  double left = 0, right = 0;
  for (double fi : f) left += fi * 3 / 60, right += fi * 9 / 60;
  EXPECT_NEAR(m.background, std::min({left * 96 / 4, right * 96 / 4, double(m.minimum)}), 1e-4);

  // Counts each of which single precision holds, whose rate it does not: no step.
  std::string huge = block(1.0, 1);
  const std::size_t profile = huge.find('\n', huge.find('\n') + 1) + 1;
  for (std::size_t at = huge.find("   6", profile); at != std::string::npos;
       at = huge.find("   6", at))
    huge.replace(at, 4, "3E38");
  const MeasuredScan overflow = read_text(huge + block(2.0, 1), p, FakeCrystal{}, cad4);
  EXPECT_EQ(overflow.intensity[110], kNoMeasurement);
  EXPECT_NEAR(overflow.intensity[120], 16.48f * counts / 60, 1e-4);
  EXPECT_EQ(overflow.skipped_records, 1);
  EXPECT_TRUE(std::isfinite(overflow.background));

  // A file without a block of the primary reflection: nothing stored, the scan is off.
  const MeasuredScan none = read_text("no blocks here\n", p, FakeCrystal{}, cad4);
  EXPECT_FALSE(none.present);
  EXPECT_TRUE(none.no_primary_step);
}

namespace {

// The edge background of a HUBER-HASYLAB scan from the encoded counts: filter factor by
// code (other codes keep the last one in range), dead-time corrected detector rate over
// the corrected monitor rate, times the point weight.
double expected_huber_background(const RunParameters& p, const syn::EncodedFile& f,
                                 const CountingCorrections& c, double minimum) {
  double g = 1, left = 0, right = 0;
  long n = 0;
  int points = 0;
  for (const syn::EncodedStep& s : f.steps) {
    points = s.points;
    float psi = s.psi < 0 ? s.psi + 360.0f : s.psi;
    if (psi < p.psia || psi > p.psie) continue;
    const double table[8] = {1,
                             c.ff1,
                             c.ff2,
                             double(c.ff1) * c.ff2,
                             c.ff3,
                             double(c.ff1) * c.ff3,
                             double(c.ff2) * c.ff3,
                             double(c.ff1) * c.ff2 * c.ff3};
    if (s.filter >= 0 && s.filter <= 7) g = table[s.filter];
    const double G = c.bcm * g;
    auto v = [&](double C, double M) {
      const double r = C / s.time, m = M / s.time;
      return (G * r / (1 - r * c.tau1)) / (m / (1 - c.tau2 * m));
    };
    left += v(s.c_first, s.m_first) * s.weight;
    right += v(s.c_last, s.m_last) * s.weight;
    ++n;
  }
  const double b = std::min({left * points / static_cast<double>(n),
                             right * points / static_cast<double>(n), minimum});
  return std::max(b, 0.0);
}

const std::vector<syn::Reference> kSiliconReferences = {
    {1, 1, 1, 5.135, 52000, 1.0},   {2, 2, 0, 8.403, 61000, 0.98},  {3, 1, 1, 9.86, 30000, 0.95},
    {4, 0, 0, 11.9, 24000, 1.0},    {3, 3, 1, 12.98, 15000, 0.9},   {4, 2, 2, 14.64, 22000, 1.0},
    {2, 2, 2, 10.31, 9.5, 1.0},     {1, 1, 1, 5.135, 51000, 1.0},  // measured twice
    {5, 1, 1, 15.57, 9000, -1.0},   {7, 7, 7, 40.0, 300, 1.0},
};

}  // namespace

TEST(HuberReader, RecoversTheEncodedScanWithTheCorrectionsOfTheFileHeader) {
  // No counting line in the input: the file's "Filter factors" block gives the filter
  // factors, the dead times (µs) and the beam count multiplier. Psi beyond 260 is
  // written below zero on every other record.
  RunParameters p = synchrotron_run();
  struct Case {
    float psia, psie, zsw;
    double from, to, step;
    bool noise;
    double background, tau1_us;
  };
  const Case cases[] = {
      {176, 179, 1000, 176, 179, 0.005, false, 0.2, 2.9},
      {176.5, 178.5, 1000, 176, 179, 0.005, true, 0.2, 2.9},
      {300, 360, 20, 300, 360, 0.25, true, 0.2, 2.9},  // psi -60..0 on the circle
      // a strong background and a long detector dead time: r tau1 about 0.05
      {176, 179, 1000, 176, 179, 0.005, true, 0.3, 100},
  };
  // 7 7 7 is not in the reference list: its record is passed over. 2 2 2 at the
  // reference position of the list would be the primary and is measured as a step.
  const FakeCrystal fc{{{{5, 1, 1}, 1.9f}}};
  for (const Case& c : cases) {
    p.psia = c.psia, p.psie = c.psie, p.zsw = c.zsw;
    p.nstep = static_cast<int>(std::lround((double(p.psie) - p.psia) * p.zsw));
    syn::HuberOptions o;
    o.noise = c.noise;
    o.background = c.background;
    o.tau_us[0] = c.tau1_us;
    if (c.tau1_us > 10) o.monitor_cps = 20000, o.bcm = 10;  // detector up to 600 cps
    std::vector<syn::Reference> refs(kSiliconReferences.begin(), kSiliconReferences.end());
    refs.erase(refs.begin() + 6);  // no 2 2 2 among the references here
    const syn::EncodedFile f =
        syn::write_huber(2, 2, 2, known_scan(c.from, c.to, c.step, 12.0), refs, 20.62, o);
    ReferenceList list;
    for (const syn::Reference& r : refs)
      if (r.h != 7) list.keys.push_back(reflection_key(r.h, r.k, r.l));
    list.keys.push_back(reflection_key(1, 1, 1));  // the same key twice: read once
    list.corrections.ff1 = 99;                     // replaced by the header
    MeasuredScan m = empty_scan(p);
    std::istringstream is(f.text);
    hasyl4(is, list, {p, extinction(), fc}, m);

    const ExpectedGrid g = expected_grid(p, f, true);
    expect_grid(m, g);
    EXPECT_TRUE(m.present);
    EXPECT_EQ(m.reader, ScanReader::hasyl4);
    EXPECT_EQ(m.skipped_records, 0);
    const CountingCorrections& k = m.corrections;
    EXPECT_FLOAT_EQ(k.ff1, 2.029f);
    EXPECT_FLOAT_EQ(k.ff3, 16.756f);
    EXPECT_FLOAT_EQ(k.tau1, static_cast<float>(c.tau1_us * 1e-6));
    EXPECT_FLOAT_EQ(k.tau2, 5.0e-6f);
    EXPECT_FLOAT_EQ(k.bcm, static_cast<float>(o.bcm));
    expect_rel(m.background, expected_huber_background(p, f, k, g.minimum), 1e-5, "background");
    EXPECT_GT(m.background, 0.0f) << c.psia << " " << c.tau1_us;
    // Every reference of the list is counted, |F| 1.9 included.
    syn::EncodedFile listed = f;
    listed.references.erase(listed.references.end() - 1);  // 7 7 7
    const auto [sum, count] = expected_refsum(p, listed, fc, true, false);
    EXPECT_EQ(m.nref, count);
    EXPECT_EQ(m.nref, 8);
    expect_rel(m.refsum, sum, 1e-5, "refsum");
    ASSERT_EQ(m.references.size(), 8u);
    EXPECT_EQ(m.references[7].h, 5);
    EXPECT_TRUE(m.references[7].accepted);
    EXPECT_EQ(m.references[2].theta_deg, 9.86f);  // written as 2 theta = -19.72
  }
}

TEST(HuberReader, CountingLineOfTheInputTakesPrecedenceOverTheHeader) {
  RunParameters p = synchrotron_run();
  syn::HuberOptions o;  // header: 2.029 4.065 16.756, 2.9 5 5 µs, bcm 10000
  const syn::EncodedFile f =
      syn::write_huber(2, 2, 2, known_scan(176, 179, 0.01, 12.0), {}, 20.62, o);
  syn::HuberOptions line = o;
  line.ff = {1.5, 3.0, 9.0};
  line.tau_us = {1.0, 2.0, 3.0};
  line.bcm = 5000;
  std::istringstream input_text(syn::join(syn::huber_input_lines({}, line, true)));
  LineSource input(input_text);
  const ReferenceList list = read_reference_list(input, {});
  EXPECT_TRUE(list.counting_line_read);
  MeasuredScan m = empty_scan(p);
  std::istringstream is(f.text);
  hasyl4(is, list, {p, extinction(), FakeCrystal{}}, m);
  EXPECT_FLOAT_EQ(m.corrections.ff2, 3.0f);
  EXPECT_FLOAT_EQ(m.corrections.tau1, 1.0e-6f);  // seconds as given
  EXPECT_FLOAT_EQ(m.corrections.bcm, 5000.0f);
  const ExpectedGrid g = expected_grid(p, f, true);
  expect_rel(m.background, expected_huber_background(p, f, m.corrections, g.minimum), 1e-5,
             "background");
}

TEST(ReferenceList, EndsAtNineHundredNinetyNineOrAfterAHundredLines) {
  CountingCorrections previous;
  previous.ff1 = 1.1f, previous.ff2 = 2.2f, previous.ff3 = 3.3f;
  previous.tau1 = 1e-6f, previous.tau2 = 2e-6f, previous.tau3 = 3e-6f;
  previous.bcm = 77;  // never carried over: every reading starts with bcm 0
  auto lines = [](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += std::to_string(i % 9 + 1) + " 0 0\n";
    return s;
  };
  struct Case {
    std::string text;
    std::size_t keys;
    bool counting;
    float ff1, tau1, bcm;
    const char* what;
  };
  const Case cases[] = {
      {"1 1 1\n2 2 0\n999 0 0\n2.0 4.0 16.0 0.000003 0.000005 0.000005 10000. 0.\n", 2, true,
       2.0f, 3e-6f, 10000, "the usual list"},
      {"1 1 1\n999 5 7\n2.0 4.0 16.0 0.000003 0.000005 0.000005 10000. 0.\n", 1, true, 2.0f,
       3e-6f, 10000, "999 with other indices"},
      {"1 1 1\n999\n2.0 4.0 16.0 0.000003 0.000005 0.000005 10000.\n", 1, false, 2.0f, 3e-6f,
       10000, "999 alone; seven values before the end of the file"},
      {"1 1 1\n2 2 0\n", 2, false, 1.1f, 1e-6f, 0, "the file ends in the list"},
      {"1 1 1\n999 0 0\n", 1, false, 1.1f, 1e-6f, 0, "no counting line"},
      {"1 1 1\n999 0 0\n,,,,,,10000. 0.\n", 1, true, 1.1f, 1e-6f, 10000,
       "null values keep the previous run's corrections"},
      {"1 1 1\n999 0 0\n2.5 /\n", 1, true, 2.5f, 1e-6f, 0, "a slash ends the list"},
      {"1 1 x\n1 1 1\n999 0 0\n3. 4. 5. 0. 0. 0. 100. 0.\n", 1, true, 3.0f, 0.0f, 100,
       "an unreadable line is no reference"},
      {lines(100) + "2.0 4.0 16.0 0.000003 0.000005 0.000005 10000. 0.\n", 100, true, 2.0f, 3e-6f,
       10000, "after 100 lines the 101st is the counting line"},
      {lines(101) + "999 0 0\n", 100, false, 2.0f, 999.0f, 0,
       "a 101st reference line is read as the counting line, over as many lines as it needs"},
  };
  for (const Case& c : cases) {
    std::istringstream is(c.text);
    LineSource src(is);
    const ReferenceList r = read_reference_list(src, previous);
    EXPECT_EQ(r.keys.size(), c.keys) << c.what;
    EXPECT_EQ(r.counting_line_read, c.counting) << c.what;
    EXPECT_FLOAT_EQ(r.corrections.ff1, c.ff1) << c.what;
    EXPECT_FLOAT_EQ(r.corrections.tau1, c.tau1) << c.what;
    EXPECT_FLOAT_EQ(r.corrections.bcm, c.bcm) << c.what;
  }
  EXPECT_EQ(reflection_key(1, -1, 10), "   1  -1  10");
  EXPECT_EQ(reflection_key(12345, 0, 0), "****   0   0");
}

TEST(ObsReader, TubeAndSynchrotronLists) {
  struct Case {
    bool synchrotron;
  };
  for (bool synchrotron : {false, true}) {
    const RunParameters p = synchrotron ? synchrotron_run() : tube_run();
    const std::vector<syn::Reference> refs = {
        {4, 0, 0, 11.9, 24000, 1.0}, {1, 1, 0, 5.0, 300, 0.9}, {4, 4, 0, 13.1, 8000, -0.5}};
    const FakeCrystal fc{{{{1, 1, 0}, 1.9f}}};
    const std::vector<syn::PrimaryStep> steps =
        synchrotron ? known_scan(176, 179, 0.01, 12.0) : known_scan(-66, 16, 0.1, 6.0);
    const syn::EncodedFile f = syn::write_obs(p.h, p.k, p.l, 10.3, steps, refs, synchrotron);
    const MeasuredScan m = read_text(f.text, p, fc, read_obs_list);
    const std::string what = synchrotron ? "synchrotron" : "tube";
    expect_grid(m, expected_grid(p, f, false));
    EXPECT_EQ(m.background, 0.0f) << what;
    EXPECT_EQ(m.skipped_records, f.unreadable) << what;
    EXPECT_EQ(m.reader, synchrotron ? ScanReader::hasyl4 : ScanReader::cad4) << what;
    const auto [sum, count] = expected_refsum(p, f, fc, synchrotron, !synchrotron);
    EXPECT_EQ(m.nref, synchrotron ? 3 : 2) << what;
    EXPECT_EQ(m.nref, count) << what;
    expect_rel(m.refsum, sum, 1e-5, what + " refsum");
    ASSERT_EQ(m.references.size(), 3u);
    EXPECT_FLOAT_EQ(m.references[2].pol, static_cast<float>(expected_reference(
                                             p, 13.1f, 8000, 80 * std::exp(-2 * std::pow(std::sin(13.1 * 0.0174533) / p.alam1, 2)),
                                             synchrotron, -0.5, !synchrotron).P))
        << what;
  }
}

TEST(ObsReader, RangeEndsRepeatedStepsAndEmptyFiles) {
  RunParameters p = synchrotron_run();
  p.psia = 0, p.psie = 1, p.zsw = 100, p.nstep = 100;
  const std::string text =
      "2 2 2 10.3 0.0 50.0 1.0\n"          // at psia: used
      "2 2 2 10.3 -0.000001 1.0 1.0\n"     // just below: not used
      "2 2 2 10.3 1.0 60.0 1.0\n"          // at psie: used
      "2 2 2 10.3 1.000001 2.0 1.0\n"      // just beyond: not used
      "2 2 2 10.3 0.5 30.0 1.0\n"
      "2 2 2 10.3 0.504 20.0 1.0\n"        // the same step: stored
      "2 2 2 10.3 0.496 40.0 1.0\n"        // and again: stored, the minimum keeps 20
      "2 2 2 10.3 -10 5.0 1.0\n";          // an "obs" psi is never turned by 360
  const MeasuredScan m = read_text(text, p, FakeCrystal{}, read_obs_list);
  EXPECT_EQ(m.intensity[0], 50.0f);
  EXPECT_EQ(m.intensity[100], 60.0f);
  EXPECT_EQ(m.intensity[50], 40.0f);
  EXPECT_EQ(m.minimum, 20.0f);
  long stored = 0;
  for (float v : m.intensity) stored += v != kNoMeasurement;
  EXPECT_EQ(stored, 3);

  for (const char* empty : {"", "\n\n", "1 1 1 5.0 0.0 100.0 1.0\n"}) {
    const MeasuredScan e = read_text(empty, p, FakeCrystal{}, read_obs_list);
    EXPECT_FALSE(e.present);
    EXPECT_TRUE(e.no_primary_step);
    EXPECT_EQ(e.minimum, 1.0e6f);
  }
}

TEST(ScanFileListing, ReferenceTablesInTheirThreeLayouts) {
  ReferenceReflection r;
  r.h = 4, r.k = 0, r.l = 0;
  r.theta_deg = 5.123f, r.sinthl = 0.159f, r.sum1 = 5000.4f, r.sum = 1234.56f, r.fc = 345.67f;
  r.inv_abs = 0.5123f, r.lorentz = 5.61f, r.pol = 0.99f, r.lext_um = 12.34f, r.ypsil = 0.8765f;
  r.text_um = 20.12f, r.an = 1.0f, r.i0q = 2.5e10f;
  MeasuredScan cad4_scan, huber_scan, obs_scan;
  cad4_scan.reader = ScanReader::cad4, cad4_scan.format = ScanFormat::cad4;
  huber_scan.reader = ScanReader::hasyl4, huber_scan.format = ScanFormat::huber;
  obs_scan.reader = ScanReader::hasyl4, obs_scan.format = ScanFormat::obs;
  struct Case {
    const MeasuredScan& scan;
    std::string header, row;
  };
  const Case cases[] = {
      {cad4_scan,
       "   h  k  l   theta  sinthl     sum          fc    abs*    alor     pol  lext      ypsil"
       "       text    an        I0*q",
       "   4  0  0   5.123   0.159   1234.56    345.67  0.5123    5.61    0.99   12.34    0.8765"
       "     20.12      1.00  0.25E+11"},
      {huber_scan,
       "   h  k  l   theta  sinthl       sum1       sum         fc   abs*   alor    pol    lext"
       " ypsil   text   an      I0*q",
       "   4  0  0   5.123   0.159       5000.     1235.    345.67  0.512  5.610   0.99   12.34"
       " 0.877  20.12    1.  0.25E+11"},
      {obs_scan,
       "   h  k  l   theta  sinthl       sum         fc   abs*   alor    pol    lext ypsil text"
       "     an      I0*q",
       "   4  0  0   5.123   0.159       1235.    345.67  0.512  5.610   0.99   12.34 0.877"
       "  20.12    1.  0.25E+11"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(reference_table_header(c.scan), c.header);
    EXPECT_EQ(reference_table_row(c.scan, r), c.row);
  }

  // The whole table, and the message of a file without a step of the primary: the
  // synchrotron reader writes its first line without the blank after the comma.
  for (bool synchrotron : {false, true}) {
    MeasuredScan m = synchrotron ? huber_scan : cad4_scan;
    m.references = {r, r};
    m.no_primary_step = true;
    std::ostringstream os;
    Listing out(os);
    list_reference_table(out, m);
    const std::string row = reference_table_row(m, r);
    EXPECT_EQ(os.str(), "\n" + reference_table_header(m) + "\n\n" + row + "\n" + row + "\n\n\n" +
                            (synchrotron ? " The scan file is missing,or\n"
                                         : " The scan file is missing, or\n") +
                            " the indices or the psi-range input by the user\n"
                            " do not correspond to the measured primary reflection\n"
                            " of the scan file, please check your input\n");
  }
  std::ostringstream os;
  Listing out(os);
  list_scan_file_heading(out, std::string("yig.dat") + std::string(65, ' '));
  EXPECT_EQ(os.str(),
            " Calculation of the scale factor using the reference reflections of the file:\n"
            "   yig.dat" + std::string(65, ' ') + "\n");
}
