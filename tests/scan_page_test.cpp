// The scan page drawn from hand-made runs (recorded calls and PostScript records), and
// the psi-lambda diagram of a real run checked against the event search.
#include "plot/scan_page.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "plot/postscript_plotter.hpp"
#include "plot/recording_plotter.hpp"
#include "plot/svg_plotter.hpp"
#include "plot_fixture.hpp"
#include "run_fixture.hpp"

namespace {

using kaven::PlotCall;
using kaven_test::hand_made_run;
using kaven_test::HandMadeRun;
using kaven_test::Lines;

const kaven::Zeit::Now kWhen{9, 9, 2001, 1, 46, 40, 0};

std::vector<PlotCall> recorded(const HandMadeRun& h) {
  kaven::RecordingPlotter rec;
  kaven::uplot(rec, h.par, h.result, kWhen);
  return rec.calls;
}

std::vector<PlotCall> calls_named(const std::vector<PlotCall>& calls, const std::string& op) {
  std::vector<PlotCall> out;
  std::copy_if(calls.begin(), calls.end(), std::back_inserter(out),
               [&](const PlotCall& c) { return c.op == op; });
  return out;
}

const PlotCall* symbol_with(const std::vector<PlotCall>& calls, const std::string& text) {
  for (const PlotCall& c : calls)
    if (c.op == "symbol" && c.text == text) return &c;
  return nullptr;
}

// The y range a polyline covers.
std::pair<float, float> y_range(const std::vector<float>& y) {
  float lo = 1e30f, hi = -1e30f;
  for (float v : y)
    if (v < kaven::kGap) lo = std::min(lo, v), hi = std::max(hi, v);
  return {lo, hi};
}

TEST(ScanPage, WithoutAMeasuredScanTheCalculatedPanelIs14cmHigh) {
  const std::vector<PlotCall> calls = recorded(hand_made_run(false));
  ASSERT_NE(symbol_with(calls, "I-calc (cps)"), nullptr);
  EXPECT_EQ(symbol_with(calls, "I-calc (cps)")->args,
            (std::vector<double>{0.7f, 15.5f, 0.5f, 90, 12}));
  EXPECT_EQ(symbol_with(calls, "I-obs (cps)"), nullptr);
  EXPECT_TRUE(calls_named(calls, "line2").empty());
  for (const PlotCall& c : calls_named(calls, "newpen")) EXPECT_EQ(c.args[0], 0);
  const std::vector<PlotCall> lines = calls_named(calls, "line");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].y.size(), 241u);
  EXPECT_FLOAT_EQ(static_cast<float>(lines[0].args[0]), 1.0f / (2 * 6.0f));  // cm per step
  const auto [lo, hi] = y_range(lines[0].y);
  EXPECT_FLOAT_EQ(lo, 4.8f);
  EXPECT_FLOAT_EQ(hi, 18.8f);
  // Imax on the panel's top; Iprim = 100 at 20/70 of the 80..150 range.
  EXPECT_FLOAT_EQ(static_cast<float>(symbol_with(calls, "Imax")->args[1]), 18.8f);
  EXPECT_NEAR(symbol_with(calls, "Iprim")->args[1], 4.8 + 14.0 * 20 / 70, 1e-5);
  EXPECT_EQ(calls.back().op, "plot");
  EXPECT_EQ(calls.back().args[2], 999);
}

TEST(ScanPage, WithAMeasuredScanBothCurvesShareTheFrame) {
  HandMadeRun h = hand_made_run(true);
  const std::vector<float> kept = h.result.measured.intensity;
  const std::vector<PlotCall> calls = recorded(h);
  EXPECT_EQ(h.result.measured.intensity, kept);  // mapped on a copy
  ASSERT_NE(symbol_with(calls, "I-obs (cps)"), nullptr);
  EXPECT_FLOAT_EQ(static_cast<float>(symbol_with(calls, "I-obs (cps)")->args[1]), 15.5f);
  EXPECT_FLOAT_EQ(static_cast<float>(symbol_with(calls, "I-calc (cps)")->args[1]), 7.5f);

  const auto [clo, chi] = y_range(calls_named(calls, "line")[0].y);
  EXPECT_FLOAT_EQ(clo, 4.8f);
  EXPECT_FLOAT_EQ(chi, 11.8f);

  const std::vector<PlotCall> meas = calls_named(calls, "line2");
  ASSERT_EQ(meas.size(), 1u);
  EXPECT_EQ(meas[0].args[1], 2);    // shifted by the best match
  EXPECT_EQ(meas[0].args[2], 241);  // on the step grid
  const auto [mlo, mhi] = y_range(meas[0].y);
  EXPECT_NEAR(mlo, 12.8f, 1e-5);
  EXPECT_NEAR(mhi, 19.8f, 1e-5);
  for (std::size_t i = 0; i < kept.size(); ++i)
    EXPECT_EQ(meas[0].y[i] >= kaven::kGap, kept[i] >= kaven::kGap) << i;

  // The curve is red, its error bars too (tube radiation), hanging from the panel top.
  std::vector<std::pair<std::string, std::vector<double>>> tail;
  bool after = false;
  for (const PlotCall& c : calls) {
    if (c.op == "line2")
      after = true;
    else if (after && c.op == "frame")
      break;
    else if (after && c.op == "plot")
      tail.push_back({c.op, c.args});
  }
  const double top = 19.8f;
  ASSERT_EQ(tail.size(), 4u);
  EXPECT_EQ(tail[0].second, (std::vector<double>{19, top, 3}));
  EXPECT_NEAR(tail[1].second[1], top - 7.0 * 7 / 70, 1e-5);
  EXPECT_EQ(tail[2].second, (std::vector<double>{20, top, 3}));
  EXPECT_NEAR(tail[3].second[1], top - 7.0 * 3.5 / 70, 1e-5);
  bool red_before_curve = false;
  for (const PlotCall& c : calls) {
    if (c.op == "newpen") red_before_curve = c.args[0] == 1;
    if (c.op == "line2") break;
  }
  EXPECT_TRUE(red_before_curve);

  // The synchrotron modes draw no error bars; a deviation reset to zero no shift.
  h.par.isyn = 1;
  h.result.deviation.dev = 0;
  const std::vector<PlotCall> sync = recorded(h);
  EXPECT_EQ(calls_named(sync, "line2")[0].args[1], 0);
  std::size_t plots_after = 0;
  after = false;
  for (const PlotCall& c : sync) {
    if (c.op == "line2")
      after = true;
    else if (after && c.op == "frame")
      break;
    else if (after && c.op == "plot")
      ++plots_after;
  }
  EXPECT_EQ(plots_after, 0u);
}

TEST(ScanPage, FixedScaleCutsThePanelsButTheColumnShowsTheExtremes) {
  HandMadeRun h = hand_made_run(true);
  h.par.zeimax = 120;
  const std::vector<PlotCall> calls = recorded(h);
  const std::vector<float> y = calls_named(calls, "line")[0].y;
  const std::vector<float>& c = h.result.profile.intensity;
  for (std::size_t i = 0; i < c.size(); ++i)
    if (c[i] >= 120) {
      EXPECT_FLOAT_EQ(y[i], 11.8f) << i;
    }
  bool shows_150 = false, shows_70 = false;
  for (const PlotCall& n : calls_named(calls, "number")) {
    if (n.args[0] == 25.3f && n.args[1] == 6.2f) shows_150 = n.args[3] == 150;
    if (n.args[0] == 25.3f && n.args[1] == 14.6f) shows_70 = n.args[3] == 70;
  }
  EXPECT_TRUE(shows_150);
  EXPECT_TRUE(shows_70);
}

TEST(ScanPage, FlatMeasuredScanLiesOnItsPanelBase) {
  HandMadeRun h = hand_made_run(true);
  for (float& v : h.result.measured.intensity)
    if (v < kaven::kGap) v = 50;
  h.result.reduction.mmax = h.result.reduction.mmin = 50;
  h.result.reduction.imeas = 60;
  const std::vector<PlotCall> calls = recorded(h);
  const std::vector<PlotCall> meas = calls_named(calls, "line2");
  for (float v : meas[0].y)
    if (v < kaven::kGap) {
      EXPECT_FLOAT_EQ(v, 12.8f);
    }
  for (const PlotCall& c : calls)
    for (double a : c.args) EXPECT_TRUE(std::isfinite(a)) << c.op;
}

// The PostScript records of the title and the information column, whole.
TEST(ScanPage, InformationColumnRecords) {
  std::ostringstream page, listing;
  kaven::Listing messages(listing);
  kaven::PostScriptPlotter ps(page, &messages);
  const HandMadeRun h = hand_made_run(true);
  kaven::uplot(ps, h.par, h.result, kWhen);
  const Lines r = kaven_test::split_records(page.str());
  // clang-format off
  const Lines expected = {
      " 0 0 0 setrgbcolor",
      "/Times-Bold           findfont  14 scalefont setfont",
      "    28.3   581.1 m",
      "(Hand-made run (plot test)" + std::string(55, ' ') + ") s",
      "/Times-Roman          findfont  14 scalefont setfont",
      "    -14.17      0.00  translate",
      "   623.6   566.9 m", "(Date:) s",
      "   666.1   566.9 m", "( 9 .  9 .  1) s",
      "   623.6   549.9 m", "(Time:) s",
      "   666.1   549.9 m", "( 1 . 46 . 40) s",
      "/Times-Bold           findfont  14 scalefont setfont",
      "   623.6   524.4 m", "(hkl-prim:) s",
      " 714.3 524.4 m", "( 2) s",
      " 742.7 524.4 m", "(-2) s",
      " 771.0 524.4 m", "( 4) s",
      "/Symbol               findfont  14 scalefont setfont",
      "   623.6   496.1 m", "(l:) s",
      "   623.6   476.2 m", "(q-) s",
      "   623.6   442.2 m", "(j-) s",
      "/Times-Roman          findfont  14 scalefont setfont",
      " 652.0 496.1 m", "(1.5000) s",
      "   637.8   476.2 m", "(prim:) s",
      " 680.3 476.2 m", "(25.10) s",
      "   623.6   459.2 m", "(F-prim:) s",
      " 680.3 459.2 m", "(  12.50) s",
      "   637.8   442.2 m", "(prim:) s",
      " 680.3 442.2 m", "( 180.00) s",
      "/Times-Bold           findfont  14 scalefont setfont",
      "   623.6   334.5 m", "(Simulation calculated with) s",
      "/Times-Roman          findfont  11 scalefont setfont",
      "   623.6   314.6 m", "(step-width) s",
      " 722.8 314.6 m", "(0.500) s",
      "   623.6   300.5 m", "(divergence-p) s",
      " 722.8 300.5 m", "(0.140) s",
      "   623.6   286.3 m", "(divergence-s) s",
      " 722.8 286.3 m", "(0.140) s",
      "   623.6   272.1 m", "(mosaic-radius) s",
      " 722.8 272.1 m", "(9.990) s",
      "   623.6   258.0 m", "(mosaic-spread) s",
      " 722.8 258.0 m", "(0.002) s",
      "/Times-Bold           findfont  14 scalefont setfont",
      "   623.6   238.1 m", "(without interference term,) s",
      "   623.6   221.1 m", "(taking into account events) s",
      "   623.6   204.1 m", "(with I (cps) >) s",
      " 708.7 204.1 m", "( 0.0100) s",
      "/Times-Roman          findfont  14 scalefont setfont",
      "   623.6   413.9 m", "(Imax-obs (cps):) s",
      " 717.2 413.9 m", "(    70.00) s",
      "   623.6   396.9 m", "(Imin-obs (cps):) s",
      " 717.2 396.9 m", "(    40.00) s",
      "   623.6   175.7 m", "(Imax-calc(cps):) s",
      " 717.2 175.7 m", "(   150.00) s",
      "   623.6   158.7 m", "(Imin-calc(cps):) s",
      " 717.2 158.7 m", "(    80.00) s",
      "     14.17      0.00  translate",
      "newpath   28.3 127.6 m  0  447.9 rl  566.9 0 rl 0 -447.9 rl closepath ",
      "  0.5 setlinewidth st",
  };
  // clang-format on
  ASSERT_GE(r.size(), 5 + expected.size());
  EXPECT_EQ(Lines(r.begin() + 5, r.begin() + 5 + static_cast<long>(expected.size())), expected);
  EXPECT_EQ(r.back(), "showpage");
  EXPECT_TRUE(listing.str().empty());
}

TEST(ScanPage, ColumnFieldsThatChangeWithTheirValues) {
  struct Case {
    float radius;
    int nnn;
    std::string radius_field;
    bool interference;
  };
  const Case cases[] = {{9.99f, 0, "(9.990) s", false}, {10.0f, 8, "(  10.) s", true}};
  for (const Case& c : cases) {
    HandMadeRun h = hand_made_run(false);
    h.par.radius = c.radius;
    h.par.nnn = c.nnn;
    std::ostringstream page;
    kaven::PostScriptPlotter ps(page);
    kaven::uplot(ps, h.par, h.result, kWhen);
    const Lines r = kaven_test::split_records(page.str());
    const std::size_t at = kaven_test::find_prefix(r, "(mosaic-radius) s");
    ASSERT_LT(at + 2, r.size());
    EXPECT_EQ(r[at + 2], c.radius_field);
    EXPECT_EQ(kaven_test::contains(r, "(without interference term,) s"), !c.interference);
    EXPECT_EQ(kaven_test::contains(r, "(nnn) s"), c.interference);
    if (c.interference) {
      EXPECT_TRUE(kaven_test::contains(r, "(   8.) s"));
    }
  }
}

TEST(ScanPage, ANumberTooLargeForItsFieldIsReportedOnceInTheListing) {
  HandMadeRun h = hand_made_run(false);
  h.result.profile.max = 2.5e7f;  // nine wide with two decimals holds at most 10^7
  std::ostringstream page, svg, listing;
  kaven::Listing messages(listing);
  kaven::PostScriptPlotter ps(page, &messages);
  kaven::SvgPlotter sv(svg);
  kaven::PlotterPair both(ps, sv);
  kaven::uplot(both, h.par, h.result, kWhen);
  EXPECT_EQ(listing.str(), "the number is to large\n");
}

// ---- the psi-lambda diagram -----------------------------------------------------

TEST(PsiLambdaDiagram, BranchesAreClosedAtTheFrameOrJoined) {
  const std::vector<PlotCall> calls = recorded(hand_made_run(false));
  // The events in table order: each sets its dash pattern, then draws.
  std::vector<const PlotCall*> diagram;
  bool in = false;
  for (const PlotCall& c : calls) {
    if (c.op == "frame" && c.args[3] == 2.5f)
      in = true;
    else if (in && c.op == "fonts")
      break;
    else if (in)
      diagram.push_back(&c);
  }
  std::vector<std::string> ops;
  for (const PlotCall* c : diagram) ops.push_back(c->op);
  // band lines; vertical event; meeting event (join, two branches); unreachable; dash 0
  EXPECT_EQ(ops,
            (std::vector<std::string>{"dash", "plot", "plot", "plot", "plot", "dash", "line1",
                                      "dash", "plot", "plot", "line1", "line1", "dash", "dash"}));
  // The band edges of the two K-alpha lines: 4 w / (lamax - lamin) from the frame.
  EXPECT_FLOAT_EQ(static_cast<float>(diagram[1]->args[1]), 2.5f + 0.4f);
  EXPECT_FLOAT_EQ(static_cast<float>(diagram[3]->args[1]), 4.5f - 0.8f);

  // The vertical line at psi = 20: x = 1 + 80/6, bottom to top, 1001 points.
  const PlotCall& v = *diagram[6];
  ASSERT_EQ(v.x.size(), 1001u);
  EXPECT_NEAR(v.x.front(), 1 + 80.0 / 6, 1e-4);
  EXPECT_NEAR(v.x.back(), 1 + 80.0 / 6, 1e-4);
  EXPECT_FLOAT_EQ(v.y.front(), 2.5f);
  EXPECT_FLOAT_EQ(v.y.back(), 4.5f);
  EXPECT_EQ(diagram[5]->args[0], 0);  // continuous

  // The meeting branches: dotted (|F1| absent), joined where lambda = 4/3 ...
  EXPECT_EQ(diagram[7]->args[0], 2);
  const PlotCall& b1 = *diagram[10];
  const PlotCall& b2 = *diagram[11];
  EXPECT_EQ(diagram[8]->args, (std::vector<double>{b1.x.back(), b1.y.back(), 3}));
  EXPECT_EQ(diagram[9]->args, (std::vector<double>{b2.x.back(), b2.y.back(), 2}));
  EXPECT_NEAR(b1.y.back(), 2.5 + 2 * (4.0 / 3 - 1), 0.003);
  EXPECT_NEAR(b1.x.back(), 1 + 40.0 / 6, 0.3);
  // ... branch 1 starts on the bottom edge at psi = -20 + 41.41; branch 2 enters the
  // range above it and is carried to the left edge.
  EXPECT_FLOAT_EQ(b1.y.front(), 2.5f);
  EXPECT_NEAR(b1.x.front(), 1 + (41.41 + 40) / 6, 0.01);
  EXPECT_GT(b2.y.front(), 2.5f);
  EXPECT_FLOAT_EQ(b2.x.front(), 1.0f);
  // The event that never reaches the sphere only set its pattern.
  EXPECT_EQ(diagram[12]->args[0], 3);
}

TEST(PsiLambdaDiagram, RangeIsOpenBelowAndClosedAbove) {
  // The vertical line lies at psi1 = 20 within float precision: a range ending just
  // above it keeps the line, one starting just above it does not.
  kaven::RunParameters par = hand_made_run(false).par;
  const kaven::MultipleDiffractionEvent e = kaven_test::vertical_event();
  par.psia = -60, par.psie = 20.0001f;
  EXPECT_EQ(kaven::diagram_branches(e, par).x1.size(), 1001u);
  par.psie = 19.9999f;
  EXPECT_TRUE(kaven::diagram_branches(e, par).x1.empty());
  par.psia = 19.9999f, par.psie = 60;
  EXPECT_EQ(kaven::diagram_branches(e, par).x1.size(), 1001u);
  par.psia = 20.0001f;
  EXPECT_TRUE(kaven::diagram_branches(e, par).x1.empty());
  // In the synchrotron modes psi2 = -160 becomes 200.
  par.isyn = 1, par.psia = 150, par.psie = 250;
  const kaven::DiagramBranches b = kaven::diagram_branches(e, par);
  EXPECT_TRUE(b.x1.empty());
  ASSERT_EQ(b.x2.size(), 1001u);
  EXPECT_NEAR(b.x2[0], 1 + 50.0 / 5, 1e-4);
}

// Each listed event of the first pass lies on its own curve at the pass's wavelength:
// the diagram's closed form and the event search's sphere condition agree.
TEST(PsiLambdaDiagram, ListedEventsOfARealRunLieOnTheirCurves) {
  kaven_test::Session s;
  Lines lines = kaven_test::yig_lines();
  lines[5] = "-66.   16. 50  0  0.01 0.";  // list the weaker events too
  const kaven_test::ListedRun run = s.run(lines);
  ASSERT_FALSE(run.outcome.result.passes.empty());
  const kaven::RunParameters& par = s.par;
  const auto& events = run.outcome.result.passes[0].events.events;
  ASSERT_GT(events.size(), 20u);
  const double g = (double(par.psie) - par.psia) * 0.05;
  const double y_pass =
      2.5 + (double(par.alam1) - par.lamin) / ((double(par.lamax) - par.lamin) / 2);
  int checked = 0;
  for (const kaven::MultipleDiffractionEvent& e : events) {
    if (!(e.psi > par.psia + 0.1f && e.psi < par.psie - 0.1f)) continue;
    const kaven::DiagramBranches b = kaven::diagram_branches(e, par);
    const std::vector<float>& x = e.crossing == 1 ? b.x1 : b.x2;
    const std::vector<float>& y = e.crossing == 1 ? b.y1 : b.y2;
    // The branch point nearest in height to the pass's wavelength.
    double best = 1e9, x_at = 0;
    for (std::size_t i = 0; i < y.size(); ++i)
      if (std::fabs(y[i] - y_pass) < best) best = std::fabs(y[i] - y_pass), x_at = x[i];
    ASSERT_LT(best, 0.0025) << "h " << e.h1 << ' ' << e.k1 << ' ' << e.l1;
    // Half a lambda step of the curve moves psi by a few thousandths of a degree even
    // for a reflection that only grazes the sphere (small BETA).
    const double psi_at = par.psia + (x_at - 1) * g;
    EXPECT_NEAR(psi_at, e.psi, 0.01) << "h " << e.h1 << ' ' << e.k1 << ' ' << e.l1;
    ++checked;
  }
  EXPECT_GT(checked, 20);
}

}  // namespace
