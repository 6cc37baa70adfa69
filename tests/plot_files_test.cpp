// The plot files of whole runs: the PostScript page in the file named on line 2 and its
// SVG copy beside it, written once per plottable run and the same for the same run.
#include <gtest/gtest.h>

#include <algorithm>

#include "run_fixture.hpp"
#include "shell/run_driver.hpp"

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

  // The same run again, at the same instant: the same two files.
  Session again;
  again.run(si_lines());
  EXPECT_EQ(read_lines(again.dir.path() / "si222.ps"), ps);
  EXPECT_EQ(read_lines(again.dir.path() / "si222.svg"), svg);
}

TEST(PlotFiles, ARunThatIsNotPlottedLeavesThePlotFileEmptyAndWritesNoSvg) {
  Session s;
  Lines in = si_lines();
  in[5] = "176. 179. 1000. 8  1e12 0.";  // no crossing reaches the threshold
  const ListedRun r = s.run(in);
  ASSERT_FALSE(r.outcome.result.plotted);
  EXPECT_TRUE(read_lines(s.dir.path() / "si222.ps").empty());
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
  EXPECT_EQ(read_lines(s.dir.path() / "si222.ps").back(), "showpage");
}

}  // namespace
