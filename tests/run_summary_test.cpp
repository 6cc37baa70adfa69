// The listing records around the simulated scan and the calculated-scan file, as
// whole records: the scale section in its three forms, the measured and calculated
// summaries, the scan settings, the count of crossings or the message that none
// entered, and the records of the calculated-scan file.
#include "report/run_summary.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "report/record_format.hpp"
#include "run_fixture.hpp"

using namespace kaven;
using kaven_test::Lines;
using kaven_test::split_records;

namespace {

template <class F>
Lines listed(F&& write) {
  std::ostringstream os;
  Listing out(os);
  write(out);
  return split_records(os.str());
}

RunParameters crystal(int isyn) {
  RunParameters p;
  p.isyn = isyn;
  p.rkugel = 150e-4f;  // 150 µm
  p.volume = static_cast<float>(double(4.18879f) * p.rkugel * p.rkugel * p.rkugel);
  p.psia = -66, p.psie = 16, p.zsw1 = 50, p.zsw = 50, p.nnn = 8;
  p.drumin = 1, p.drumin_scan = 0.01f;
  return p;
}

}  // namespace

TEST(RunSummary, ScaleSectionInItsThreeForms) {
  ScaleFactor s{ScaleSource::references, 2.5e10f, false};
  EXPECT_EQ(listed([&](Listing& o) { list_scale_section(o, crystal(0), s); }),
            (Lines{"", " Radius of the crystal (muemeter)       : 150.00000",
                   " crystal cross section (mm**2)          :   0.07069",
                   " I0(K-alpha1+2; counts * mm-2 * sec-1)  :0.3750E+09"}));
  EXPECT_EQ(listed([&](Listing& o) { list_scale_section(o, crystal(1), s); }).back(),
            " I0(counts * mm-2 * sec-1)              :0.2500E+09");

  const Lines estimate = {" Scale factor estimated from the incident intensity I0:",
                          " I0 (counts * mm-2 * sec-1)        :0.2000E+08",
                          " Volume of the sample (mm-3)       :0.1414E-07",
                          "      (Radius of the sample (mm):    0.1500 )"};
  s = {ScaleSource::default_i0, 2e9f, false};
  EXPECT_EQ(listed([&](Listing& o) { list_scale_section(o, crystal(0), s); }), estimate);
  s.source = ScaleSource::no_references;
  Lines none = {"", " There are no reference reflections in the file", ""};
  none.insert(none.end(), estimate.begin(), estimate.end());
  EXPECT_EQ(listed([&](Listing& o) { list_scale_section(o, crystal(1), s); }), none);
}

TEST(RunSummary, MeasuredAndCalculatedSummariesAndScanSettings) {
  ScanReduction r;
  r.imeas = 123.456f, r.s_i = 4.5f;
  r.mmax = 987.5f, r.s_max = 12.25f, r.psi_mmax = -23.98f;
  r.mmin = 45.125f, r.s_min = 3.5f, r.psi_mmin = -30.5f;
  r.s_maxi = 13.0f, r.s_mini = 6.75f;
  r.background = 20.5f, r.s_b = 0.58f;
  Deviation d;
  d.dev = -0.08f;
  EXPECT_EQ(listed([&](Listing& o) { list_measured_summary(o, r, d); }),
            (Lines{"", "", " Deviation between calculated and measured psi    :  -0.080", "",
                   " Maximum measured intensity - background (cps)    :    987.50  +/-    12.25    at psi = -23.980",
                   " Maximum measured intensity - I-prim     (cps)    :    864.04  +/-    13.00",
                   "",
                   " Measured I-prim                         (cps)    :    123.46  +/-     4.50",
                   "",
                   " Minimum measured intensity - background (cps)    :     45.13  +/-     3.50    at psi = -30.500",
                   " I-prim - Minimum measured intensity     (cps)    :     78.33  +/-     6.75",
                   "",
                   " Background                              (cps)    :     20.50  +/-     0.58",
                   "", ""}));

  ScanProfile p;
  p.max = 187.57f, p.psi_max = 178.157f, p.min = 6.26f, p.psi_min = 178.119f;
  p.iprim_total = 8.11f;
  EXPECT_EQ(listed([&](Listing& o) { list_calculated_summary(o, p); }),
            (Lines{"", " Maximum calculated intensity (cps)               :    187.57    at psi = 178.157",
                   " I-prim                       (cps)               :      8.11",
                   " Minimum calculated intensity (cps)               :      6.26    at psi = 178.119",
                   ""}));
  EXPECT_EQ(listed([&](Listing& o) { list_scan_settings(o, crystal(0)); }),
            (Lines{" Scan calculated for", "", " psia                        : -66.000",
                   " psie                        :  16.000", " number of steps per degree  :  50.000",
                   " phase shift interval factor :    8"}));
}

TEST(RunSummary, EventCountOrTheMessageThatNoneEntered) {
  ScanProfile p;
  p.entered = 1072, p.max = 2, p.min = 1;
  EXPECT_EQ(listed([&](Listing& o) { list_event_count(o, crystal(0), p); }),
            (Lines{"", "", " Number of multiple diffraction events in the 360 degree psi-scan",
                   " (K-alpha1 + K-alpha2) with intensity >   0.10E-01 :       1072"}));
  EXPECT_EQ(listed([&](Listing& o) { list_event_count(o, crystal(1), p); }).back(),
            " with intensity >   0.10E-01 :       1072");
  const Lines zero = {"", "",
                      " The number of multiple diffraction events with intensities > 0.01 times drumin is zero!",
                      " No graphical output is produced.",
                      " Please decrease drumin on the sixth input line"};
  p.max = p.min;  // crossings entered, but a flat scan
  EXPECT_EQ(listed([&](Listing& o) { list_event_count(o, crystal(0), p); }), zero);
  p.max = 2, p.entered = 0;
  EXPECT_EQ(listed([&](Listing& o) { list_event_count(o, crystal(1), p); }), zero);
}

TEST(RunSummary, CalculatedScanFileRecords) {
  RunParameters par = crystal(0);
  par.psia = 176, par.psie = 176.003f, par.zsw = 1000, par.nstep = 3;
  ScanProfile p;
  p.intensity = {8.11f, 187.5678f, -0.25f, 123456789.0f};
  std::ostringstream os;
  write_calculated_scan(os, par, p);
  EXPECT_EQ(split_records(os.str()), (Lines{"   176.000              8.1100",
                                            "   176.001            187.5678",
                                            "   176.002             -0.2500",
                                            "   176.003      123456792.0000"}));

  // 40 degrees at 1000 steps per degree: 40 001 records, more than a megabyte (the
  // pieces the file is written in), each one step in order.
  par.psia = 0, par.psie = 40, par.nstep = 40000;
  p.intensity.assign(40001, 0.0f);
  for (std::size_t i = 0; i < p.intensity.size(); ++i) p.intensity[i] = 8.11f + 0.001f * float(i % 7919);
  std::ostringstream full;
  write_calculated_scan(full, par, p);
  const Lines records = split_records(full.str());
  ASSERT_EQ(records.size(), 40001u);
  for (std::size_t i = 0; i < records.size(); ++i)
    ASSERT_EQ(records[i], rec::F(10, 3, double(i) / 1000) + rec::F(20, 4, p.intensity[i])) << "step " << i;
  EXPECT_EQ(records.back(), "    40.000              8.5150");
}
