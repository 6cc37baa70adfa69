// The plot files of whole runs: the PostScript page in the file named on line 2 and its
// SVG copy beside it, written once per plottable run and the same for the same run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>

#include "run_fixture.hpp"
#include "shell/run_driver.hpp"
#include "tools/synthetic_scans.hpp"

namespace {

using namespace kaven_test;

std::size_t count(const Lines& v, const std::string& record) {
  return static_cast<std::size_t>(std::count(v.begin(), v.end(), record));
}

TEST(PlotFiles, TheSvgCopySitsBesideThePlotFileAndNeverReplacesIt) {
  EXPECT_EQ(kaven::svg_plot_name("yig.ps"), "yig.svg");
  EXPECT_EQ(kaven::svg_plot_name("/data/run.1/yig"), "/data/run.1/yig.svg");  // no extension
  EXPECT_EQ(kaven::svg_plot_name("plot.eps.ps"), "plot.eps.svg");
  EXPECT_EQ(kaven::svg_plot_name("page.svg"), "page.svg.svg");
}

TEST(PlotFiles, ARunWithoutMeasuredScanDrawsTheCalculatedPanelOnly) {
  Session s;
  const ListedRun r = s.run(si_lines());
  ASSERT_FALSE(r.stopped());
  ASSERT_TRUE(r.outcome.result.plotted);
  EXPECT_EQ(r.outcome.result.files.plot_svg, (s.dir.path() / "si222.svg").string());
  const Lines ps = read_lines(s.dir.path() / "si222.ps");
  ASSERT_GT(ps.size(), 750u);  // the 3001 steps of the calculated scan, four to a record
  EXPECT_EQ(ps[0], "%!" + std::string(68, ' '));
  EXPECT_EQ(ps.back(), "showpage");
  EXPECT_EQ(count(ps, "showpage"), 1u);
  EXPECT_EQ(count(ps, "(I-calc (cps)) s"), 1u);
  EXPECT_EQ(count(ps, "(I-obs (cps)) s"), 0u);
  EXPECT_EQ(count(ps, " 1 0 0 setrgbcolor"), 0u);  // no red measured curve
  EXPECT_FALSE(contains(r.records, "the number is to large"));
  const Lines svg = read_lines(s.dir.path() / "si222.svg");
  ASSERT_FALSE(svg.empty());
  EXPECT_EQ(svg.back(), "</svg>");

  // The same run again, at the same instant: the same two files, also when the two
  // pages are drawn one after the other on one thread.
  Session again;
  again.run(si_lines());
  EXPECT_EQ(read_lines(again.dir.path() / "si222.ps"), ps);
  EXPECT_EQ(read_lines(again.dir.path() / "si222.svg"), svg);
  Session serial;
  serial.threads = 1;
  serial.run(si_lines());
  EXPECT_EQ(read_lines(serial.dir.path() / "si222.ps"), ps);
  EXPECT_EQ(read_lines(serial.dir.path() / "si222.svg"), svg);
}

TEST(PlotFiles, ARunWithAMeasuredScanDrawsBothCurves) {
  // Si 2 2 2 with molybdenum radiation and a CAD4 scan of a peak on a flat primary.
  namespace syn = kaven::synthetic;
  Session s;
  std::vector<syn::PrimaryStep> steps;
  for (int i = 0; i <= 400; ++i) {
    const double psi = -20 + 0.1 * i;
    steps.push_back({psi, 8.0 * (1 + 5 / (1 + std::pow(psi / 2, 2)))});
  }
  syn::Cad4Options o;
  o.tubefac = 16.68f;
  std::ofstream(s.dir.path() / "si.dat")
      << syn::write_cad4(2, 2, 2, steps, {{1, 1, 1, 5.135, 52000, 1.0}}, o).text;
  Lines in = si_lines();
  in[3] = "Mo";
  in[5] = "-20. 20. 50  0  1. 0.";
  for (const char* ub : {"0.184132 0. 0.", "0. 0.184132 0.", "0. 0. 0.184132"}) in.push_back(ub);
  in.push_back("si.dat");
  const ListedRun r = s.run(in);
  ASSERT_FALSE(r.stopped());
  ASSERT_TRUE(r.outcome.result.measured.present);
  ASSERT_TRUE(r.outcome.result.plotted);
  const Lines ps = read_lines(s.dir.path() / "si222.ps");
  EXPECT_EQ(count(ps, "(I-obs (cps)) s"), 1u);
  EXPECT_EQ(count(ps, "(I-calc (cps)) s"), 1u);
  EXPECT_EQ(count(ps, "(Imax-obs (cps):) s"), 1u);
  EXPECT_EQ(count(ps, "(Iprim-obs (cps):) s"), 1u);
  // The red measured curve, then its two error bars (tube radiation) from the panel top
  // at 2 H + 5.8 = 19.8 cm.
  const std::size_t red = kaven_test::find_prefix(ps, " 1 0 0 setrgbcolor");
  ASSERT_LT(red, ps.size());
  const std::size_t bars = kaven_test::find_prefix(ps, "   538.6   561.3 m", red);
  ASSERT_LT(bars + 3, ps.size());
  EXPECT_EQ(ps[bars + 2], "   566.9   561.3 m");
  EXPECT_GT(std::count_if(ps.begin() + static_cast<long>(red), ps.begin() + static_cast<long>(bars),
                          [](const std::string& l) { return l.ends_with(" l"); }),
            300);
  EXPECT_FALSE(contains(r.records, "the number is to large"));
}

TEST(PlotFiles, ARunThatIsNotPlottedLeavesNoPlotFileAndNoSvg) {
  Session s;
  Lines in = si_lines();
  in[5] = "176. 179. 1000. 8  1e12 0.";  // no crossing reaches the threshold
  const ListedRun r = s.run(in);
  ASSERT_FALSE(r.outcome.result.plotted);
  EXPECT_FALSE(fs::exists(s.dir.path() / "si222.ps"));
  EXPECT_FALSE(fs::exists(s.dir.path() / "si222.svg"));
  EXPECT_TRUE(r.outcome.result.files.plot_svg.empty());
}

TEST(PlotFiles, AnSvgCopyThatCannotBeWrittenIsReportedAndThePageStillDrawn) {
  Session s;
  fs::create_directory(s.dir.path() / "si222.svg");
  const ListedRun r = s.run(si_lines());
  EXPECT_FALSE(r.stopped());
  EXPECT_TRUE(r.outcome.result.files.plot_svg.empty());
  EXPECT_TRUE(contains(r.records, " The SVG copy of the plot could not be written: " +
                                      (s.dir.path() / "si222.svg").string()));
  EXPECT_TRUE(contains(r.records, " ( it is a folder, not a file )"));
  EXPECT_EQ(read_lines(s.dir.path() / "si222.ps").back(), "showpage");
}

}  // namespace
