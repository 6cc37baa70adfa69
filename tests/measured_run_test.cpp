// Runs with a measured scan, through the whole driver: the measured I-prim in the
// primary block of each wavelength pass (shared 2/3 and 1/3 between K-alpha1 and
// K-alpha2 in the tube mode), the deviation between the calculated and a measured scan
// that is the calculated one moved by a known number of steps, the measured summary
// with its time line, and the calculated-scan file named after the measured one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "report/record_format.hpp"
#include "run_fixture.hpp"

using namespace kaven_test;
using kaven::rec::F;

namespace {

std::string obs_line(int h, int k, int l, double theta, double psi, double intensity,
                     const char* ratio = "") {
  char buf[160];
  std::snprintf(buf, sizeof buf, "%d %d %d %.3f %.3f %.6f%s", h, k, l, theta, psi, intensity, ratio);
  return buf;
}

// The records from the first starting with `prefix` on.
Lines from(const Lines& v, const std::string& prefix) {
  const std::size_t i = find_prefix(v, prefix);
  return Lines(v.begin() + long(std::min(i, v.size())), v.end());
}

}  // namespace

TEST(MeasuredRun, DeviationOfAScanMovedByKnownStepsAndTheMeasuredSummary) {
  // The calculated Si 222 scan, halved and moved by `shift` steps, as a measured "obs"
  // list without reference reflections (the scale stays the default one, so the
  // calculated scan of the run with the file is the same).
  Lines si = si_lines();  // with an orientation matrix, after which line 12 may follow
  for (const char* ub : {"0.184131  0.  0.", "0.  0.184131  0.", "0.  0.  0.184131"}) si.push_back(ub);
  Session plain;
  const ListedRun calc = plain.run(si);
  const kaven::ScanProfile& p = calc.outcome.result.profile;
  ASSERT_GT(p.max, p.min);
  const kaven::RunParameters& par = plain.par;
  for (int shift : {3, -7, 100}) {
    SCOPED_TRACE("shift " + std::to_string(shift));
    Session s;
    Lines obs;
    for (long m = 0; m <= par.nstep; ++m)
      if (m + shift >= 0 && m + shift <= par.nstep)
        obs.push_back(obs_line(2, 2, 2, 17.0, 176.0 + double(m) / 1000,
                               0.5 * p.intensity[std::size_t(m + shift)], " 1.0"));
    write_lines(s.dir.path() / "si222.obs", obs);
    Lines in = si;
    in.push_back("si222.obs");
    const ListedRun r = s.run(in);
    ASSERT_FALSE(r.stopped());
    const kaven::RunResult& res = r.outcome.result;
    EXPECT_EQ(res.profile.intensity, p.intensity);
    EXPECT_EQ(res.deviation.found, shift);
    // 100 steps are 0.1 degree: not believed
    const float dev = std::abs(shift) < 100 ? float(shift) / 1000 : 0.0f;
    EXPECT_FLOAT_EQ(res.deviation.dev, dev);
    EXPECT_EQ(res.deviation.shift, std::abs(shift) < 100 ? shift : 0);

    // psi1..psi2 = 176.0..176.1: the mean of the measured steps 0..100 (synchrotron: no
    // background), shown unshared in the primary block.
    double sum = 0;
    int n = 0;
    for (long m = 0; m <= 100; ++m)
      if (m + shift >= 0) sum += float(0.5 * p.intensity[std::size_t(m + shift)]), ++n;
    EXPECT_NEAR(res.reduction.imeas, sum / n, 1e-4);
    EXPECT_TRUE(contains(r.records, " measured intensity   of the primary reflection:" +
                                        F(12, 2, res.reduction.imeas) + " +/- " +
                                        F(8, 2, res.reduction.s_i) +
                                        "  in the psi-interval:   176.000   176.100"));
    const Lines summary = from(r.records, " Deviation between calculated and measured psi");
    ASSERT_GT(summary.size(), 16u);
    EXPECT_EQ(summary[0], " Deviation between calculated and measured psi    :" + F(8, 3, dev));
    EXPECT_EQ(summary[2].substr(0, 61),
              " Maximum measured intensity - background (cps)    :" + F(10, 2, 0.5f * p.max));
    EXPECT_EQ(summary[13], "");
    EXPECT_EQ(summary[14].rfind(" CPU-time since program start:", 0), 0u);
    EXPECT_EQ(summary[16].rfind(" Maximum calculated intensity", 0), 0u);
    EXPECT_EQ(s.names.calname, padded("si222.cal", 72));
    EXPECT_TRUE(fs::exists(s.dir.path() / "si222.cal"));
  }
}

TEST(MeasuredRun, TubeModeSharesTheMeasuredPrimaryBetweenTheKAlphaLines) {
  Session s;
  Lines obs;
  for (double psi = -24.5; psi <= -23.5 + 1e-9; psi += 0.02) obs.push_back(obs_line(8, 8, 2, 15.2, psi, 300));
  obs.push_back(obs_line(8, 8, 2, 15.2, -10.0, 450));
  write_lines(s.dir.path() / "garnet.obs", obs);
  Lines in = yig_lines();
  in.push_back("garnet.obs");
  const ListedRun r = s.run(in);
  ASSERT_FALSE(r.stopped());
  const std::string head = " measured intensity   of the primary reflection:";
  const std::string interval = "  in the psi-interval:   -24.500   -23.500";
  const double err = double(0.1291f) * std::sqrt(300.0);
  EXPECT_TRUE(contains(r.records, head + F(12, 2, 200.0) + " +/- " + F(8, 2, err * 2 / 3) + interval));
  EXPECT_TRUE(contains(r.records, head + F(12, 2, 100.0) + " +/- " + F(8, 2, err / 3) + interval));
  EXPECT_TRUE(contains(r.records, " Measured I-prim                         (cps)    :    300.00  +/-  " +
                                      F(7, 2, err)));
  EXPECT_TRUE(contains(r.records, " Maximum measured intensity - background (cps)    :    450.00  +/-  " +
                                      F(7, 2, double(0.1291f) * std::sqrt(450.0)) +
                                      "    at psi = -10.000"));
  EXPECT_EQ(s.names.calname, padded("garnet.cal", 72));
}
