// Peaks and dips of a scan and the asymmetry of a peak, on curves made here: Lorentzian
// peaks with known positions, widths and a dip beside one, with and without noise of a
// known deviation; the indexing of features with events of a pass.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "analysis/asymmetry.hpp"
#include "analysis/peak_index.hpp"
#include "analysis/scan_peaks.hpp"

namespace {

double lorentz(double x, double x0, double w, double h) { return h / (1 + ((x - x0) / w) * ((x - x0) / w)); }

struct Curve {
  std::vector<double> psi, y;
};

// Steps of 0.004 degrees from 19.3 to 19.9: a peak at 19.432 (half width 0.008) with a dip
// of a fifth of its height 0.024 before it, a small peak at 19.656, level 1000, noise of
// deviation `noise` (a fixed sequence).
Curve fragment(double noise) {
  Curve c;
  unsigned s = 12345;
  for (int i = 0; i <= 150; ++i) {
    const double x = 19.3 + 0.004 * i;
    double y = 1000 + lorentz(x, 19.432, 0.008, 800) - lorentz(x, 19.408, 0.008, 160) +
               lorentz(x, 19.656, 0.007, 300);
    // Sums of twelve uniform deviates less six: near-normal with deviation 1.
    double g = -6;
    for (int k = 0; k < 12; ++k) g += ((s = s * 1103515245u + 12345u) >> 8 & 0xffff) / 65536.0;
    c.psi.push_back(x);
    c.y.push_back(y + noise * g);
  }
  return c;
}

}  // namespace

TEST(ScanPeaks, PeaksAndDipsFoundWithTheirPositionsWidthsAndTheNoise) {
  const Curve smooth = fragment(0);
  EXPECT_LT(kaven::noise_from_scatter(smooth.y), 5.0);  // second differences of the curve itself
  const Curve noisy = fragment(10);
  const double noise = kaven::noise_from_scatter(noisy.y);
  EXPECT_NEAR(noise, 10, 3);

  kaven::FeatureOptions o;
  o.min_prominence = kaven::kProminenceInNoise * noise;
  o.window_deg = 0.06;
  const std::vector<kaven::ScanFeature> f = kaven::find_features(noisy.psi, noisy.y, o);
  // The dip, the two peaks; the level between the peaks is no dip (the window), and the
  // ends of the scan are no features.
  ASSERT_EQ(f.size(), 3u);
  EXPECT_FALSE(f[0].peak);
  EXPECT_NEAR(f[0].psi, 19.408, 0.004);
  EXPECT_TRUE(f[1].peak);
  EXPECT_NEAR(f[1].psi, 19.432, 0.002);
  EXPECT_NEAR(f[1].fwhm_deg, 0.016, 0.006);
  EXPECT_NEAR(f[1].prominence, 800, 150);
  EXPECT_TRUE(f[2].peak);
  EXPECT_NEAR(f[2].psi, 19.656, 0.002);

  // Without the window the level between the two peaks counts as a deep dip.
  o.window_deg = 0;
  EXPECT_GT(kaven::find_features(noisy.psi, noisy.y, o).size(), 3u);
  // A curve that only rises has no feature; nor has a flat one.
  const std::vector<double> x{0, 1, 2, 3, 4}, rising{1, 2, 3, 4, 5}, flat(5, 7.0);
  EXPECT_TRUE(kaven::find_features(x, rising, {}).empty());
  EXPECT_TRUE(kaven::find_features(x, flat, {}).empty());
}

TEST(ScanPeaks, AsymmetryTellsTheEnhancedSideAndWhenThereIsNone) {
  const Curve c = fragment(10);
  const std::vector<double> bg(c.psi.size(), 1000.0);
  const kaven::PeakWindows w = kaven::peak_windows(19.432, 0.016, 19.656 - 19.432);
  EXPECT_DOUBLE_EQ(w.inner, 0.016);
  EXPECT_DOUBLE_EQ(w.outer, 0.048);
  // The dip lies before the peak: the side after it is the enhanced one.
  const kaven::Asymmetry a = kaven::asymmetry(c.psi, c.y, bg, w, 800, 10);
  ASSERT_TRUE(a.formed);
  EXPECT_GT(a.value, 0);
  EXPECT_EQ(a.sign, 1);
  EXPECT_STREQ(kaven::enhanced_side(a.sign), "after");
  // Mirrored about the peak: the side before.
  std::vector<double> psi_m, y_m;
  for (std::size_t i = c.psi.size(); i-- > 0;) psi_m.push_back(2 * 19.432 - c.psi[i]), y_m.push_back(c.y[i]);
  EXPECT_EQ(kaven::asymmetry(psi_m, y_m, bg, w, 800, 10).sign, -1);
  // A symmetric peak in noise has no sign; a narrow window short of the neighbour is cut.
  std::vector<double> sym;
  for (double x : c.psi) sym.push_back(1000 + lorentz(x, 19.432, 0.008, 800));
  const kaven::Asymmetry s = kaven::asymmetry(c.psi, sym, bg, w, 800, 10);
  EXPECT_EQ(s.sign, 0);
  EXPECT_NEAR(s.value, 0, 1e-9);
  EXPECT_DOUBLE_EQ(kaven::peak_windows(19.432, 0.016, 0.05).outer, 0.025);
  // Windows without points on one side give no asymmetry.
  const kaven::PeakWindows edge = kaven::peak_windows(19.3, 0.016, 1.0);
  EXPECT_FALSE(kaven::asymmetry(c.psi, c.y, bg, edge, 800, 10).formed);
}

TEST(ScanPeaks, FeaturesIndexedWithTheNearestEventsOfTheirKind) {
  kaven::RunParameters par;
  par.psia = 19, par.psie = 20, par.zsw = 250;
  kaven::PassRecord pass{};
  auto event = [](float h1, float psi, float ikaven, float iaufhe, float fwhm) {
    kaven::MultipleDiffractionEvent e{};
    e.h1 = h1, e.k1 = 0, e.l1 = 0, e.h2 = -h1, e.k2 = 0, e.l2 = 2;
    e.psi = psi, e.ikaven = ikaven, e.iaufhe = iaufhe, e.fwhm = fwhm, e.crossing = 1;
    e.phase1 = 0.5f, e.phase2 = 1.0f;
    return e;
  };
  pass.events.events = {
      event(1, 19.47f, 3.0f, 0.1f, 0.027f),    // the peak's, 0.04 away
      event(2, 19.47f, 2.5f, 0.1f, 0.027f),    // its partner at the same psi
      event(3, 19.50f, 0.001f, 0.0f, 0.027f),  // too weak to show beside them
      event(4, 19.62f, 0.1f, 2.0f, 0.02f),     // takes out more than it adds: a dip's
      event(5, 19.90f, 2.0f, 0.0f, 0.02f),     // near no feature
  };
  std::vector<kaven::ScanFeature> f(3);
  f[0].psi = 19.4328, f[0].peak = true, f[0].fwhm_deg = 0.017;
  f[1].psi = 19.61, f[1].peak = true, f[1].fwhm_deg = 0.017;
  f[2].psi = 19.615, f[2].peak = false, f[2].fwhm_deg = 0.017;
  const std::vector<kaven::IndexedFeature> ix = kaven::index_features(f, {pass}, par);
  ASSERT_EQ(ix.size(), 3u);
  ASSERT_EQ(ix[0].events.size(), 2u);
  EXPECT_EQ(ix[0].events[0].secondary[0], 1);  // the strongest first
  EXPECT_EQ(ix[0].events[1].secondary[0], 2);
  EXPECT_NEAR(ix[0].events[0].delta, 19.4328 - 19.47, 1e-6);
  EXPECT_NEAR(ix[0].events[0].triplet_deg, (0.5 + 1.0) * 180 / M_PI, 1e-4);
  EXPECT_TRUE(ix[1].events.empty());  // the peak at 19.61 has no adding event near it
  ASSERT_EQ(ix[2].events.size(), 1u);
  EXPECT_EQ(ix[2].events[0].secondary[0], 4);
  EXPECT_FALSE(ix[2].events[0].adds);
  EXPECT_NEAR(kaven::typical_event_width({pass}, par), 0.027, 1e-6);
}
