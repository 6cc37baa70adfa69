// Writing refined values into an input file: only the groups that change are written
// anew, the file reads back through the run's reader with those values and the others
// as they were; groups spelt with a slash or a repeat count are left alone. The
// orientation matrix turned about h_p moves PsiD by the angle; the lattice rotations
// about h_p are those of the metric.
#include <gtest/gtest.h>

#include <cmath>

#include "analysis/scan_fit.hpp"
#include "crystal/geometry.hpp"
#include "input/input_edit.hpp"
#include "run_fixture.hpp"
#include "simulation/reference_direction.hpp"

using namespace kaven_test;

TEST(InputEdit, ChangedGroupsWrittenAnewTheRestAsItWas) {
  Lines yig = yig_lines();  // tube, two-line atom groups, orientation matrix on three lines
  yig.push_back("yig.dat");
  yig.push_back("a line after line 12 stays");
  // Line 5 spread over two lines: the group is replaced by one line.
  yig[4] = "0.14  0.14";
  yig.insert(yig.begin() + 5, "150. 150.  0.0");
  kaven::InputEdits e;
  e.plot_file = "new.ps";
  e.edges = std::array<float, 3>{12.3808f, 12.3808f, 12.3808f};
  e.eta = 0.0125f;
  e.nnn = 3;
  e.dispersion = {std::nullopt, std::pair{-1.25f, 2.5f}};
  e.ub = std::array<float, 9>{1, 2, 3, 4, 5, 6, 7, 8, 9};
  e.scan_file = "../scans/yig.dat";
  const kaven::InputEditResult r = kaven::edit_input(join_lines(yig), e);
  ASSERT_TRUE(r.error.empty()) << r.error;
  const Lines out = split_records(r.text);
  ASSERT_EQ(out.size(), yig.size() - 1);  // line 5 one line again
  EXPECT_EQ(out[0], yig[0]);
  EXPECT_EQ(out[1], "new.ps");
  EXPECT_EQ(out[2], "12.3808  12.3808  12.3808  90  90  90");
  EXPECT_EQ(out[3], "Ag");
  EXPECT_EQ(out[4], "0.14  0.14  150  150  0.0125");
  EXPECT_EQ(out[5], "-66  16  50  3  1  0");
  EXPECT_EQ(out[7], "Y3+");  // as it was
  EXPECT_EQ(out[8], "Fe3+   -1.2500    2.5000");
  EXPECT_EQ(Lines(out.begin() + 10, out.begin() + 19), Lines(yig.begin() + 11, yig.begin() + 20));
  EXPECT_EQ(Lines(out.begin() + 19, out.begin() + 22), (Lines{"1  2  3", "4  5  6", "7  8  9"}));
  EXPECT_EQ(out[22], "../scans/yig.dat");
  EXPECT_EQ(out[23], "a line after line 12 stays");

  // The edited file runs, with the new values.
  Session s;
  Lines runnable = out;
  runnable.resize(out.size() - 2);  // without the measured scan and what follows it
  const ListedRun run = s.run(runnable);
  ASSERT_FALSE(run.stopped());
  EXPECT_FLOAT_EQ(s.par.a, 12.3808f);
  EXPECT_FLOAT_EQ(s.par.eta, 0.0125f);
  EXPECT_EQ(s.par.nnn, 3);
  EXPECT_FLOAT_EQ(s.par.ub[4], 5.0f);
  EXPECT_EQ(s.par.title, padded(yig[0], 80));
}

TEST(InputEdit, GroupsItCannotRewriteAreRefused) {
  Lines si = si_lines();
  kaven::InputEdits e;
  e.wavelength = 0.5615f;
  // The synchrotron line rewritten in its form (the digit, a blank, the values).
  kaven::InputEditResult r = kaven::edit_input(join_lines(si), e);
  ASSERT_TRUE(r.error.empty()) << r.error;
  EXPECT_EQ(split_records(r.text)[3], "1 0.5615  5.43  1  1  1  58.19");
  // A slash leaves values to the run before: not rewritten.
  si[4] = "0.005  0.01 /";
  e = {};
  e.eta = 0.01f;
  r = kaven::edit_input(join_lines(si), e);
  EXPECT_NE(r.error.find("fifth line"), std::string::npos) << r.error;
  EXPECT_TRUE(r.text.empty());
  // No orientation matrix to turn; no wavelength line on a tube.
  e = {};
  e.ub = std::array<float, 9>{};
  EXPECT_NE(kaven::edit_input(join_lines(si_lines()), e).error.find("orientation matrix"), std::string::npos);
  e = {};
  e.wavelength = 0.56f;
  EXPECT_NE(kaven::edit_input(join_lines(yig_lines()), e).error.find("no synchrotron"), std::string::npos);
}

TEST(InputEdit, TurnedOrientationMatrixMovesPsiDByTheAngle) {
  // YIG's matrix (general, primary 8 8 2) and the diagonal one of a cubic 0 0 2.
  Session s;
  ASSERT_FALSE(s.run(yig_lines()).stopped());
  const std::array<float, 3> r = kaven::reference_direction(s.par);
  const float psid = kaven::upsi(s.par, r[0], r[1], r[2]);
  for (double delta : {0.05, -1.7, 90.0, 179.0}) {
    kaven::RunParameters p = s.par;
    p.ub = kaven::ub_turned(s.par, delta);
    EXPECT_NEAR(std::remainder(kaven::upsi(p, r[0], r[1], r[2]) - psid - delta, 360.0), 0, 2e-4) << delta;
  }
}

TEST(InputEdit, LatticeRotationsAboutThePrimaryAxis) {
  auto readings = [](std::array<float, 6> cell, std::array<int, 3> hkl) {
    kaven::RunParameters p;
    p.a = cell[0], p.b = cell[1], p.c = cell[2], p.alpha = cell[3], p.beta = cell[4], p.gamma = cell[5];
    kaven::reciprocal_cell(p);
    p.h = hkl[0], p.k = hkl[1], p.l = hkl[2];
    return kaven::lattice_readings(p);
  };
  using V = std::vector<double>;
  EXPECT_EQ(readings({7.7865f, 7.7865f, 7.7865f, 90, 90, 90}, {0, 0, 2}), (V{0, 90, 180, 270}));
  EXPECT_EQ(readings({5.43f, 5.43f, 5.43f, 90, 90, 90}, {1, 1, 1}), (V{0, 120, 240}));
  EXPECT_EQ(readings({4.76f, 4.76f, 12.99f, 90, 90, 120}, {0, 0, 6}), (V{0, 60, 120, 180, 240, 300}));
  EXPECT_EQ(readings({5.0f, 6.0f, 7.0f, 90, 90, 90}, {0, 0, 1}), (V{0, 180}));
  EXPECT_EQ(readings({5.0f, 6.0f, 7.0f, 80, 95, 100}, {1, 2, 3}), (V{0}));
}
