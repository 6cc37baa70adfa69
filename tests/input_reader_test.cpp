// The input reader decides whether a run starts at all and what it computes with, so
// every message of the reading stage, every limit and every value formed on the spot is
// checked here on the example inputs with the one line changed that a case is about.
// Runs that only test the reading end early (input cut short, or a scan file that does
// not exist) so that no multiple-diffraction events are searched.
#include "input/input_reader.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "run_fixture.hpp"

using namespace kaven_test;

namespace {

Lines with(Lines l, std::size_t i, const std::string& text) {
  l.at(i) = text;
  return l;
}

Lines first(const Lines& l, std::size_t n) { return Lines(l.begin(), l.begin() + static_cast<long>(n)); }

Lines inserted(Lines l, std::size_t at, const Lines& more) {
  l.insert(l.begin() + static_cast<long>(at), more.begin(), more.end());
  return l;
}

// YIG with a scan file that does not exist: the run lists all crystal data and the
// absorption and then stops where the measured scan would be read.
Lines yig_until_scan() {
  Lines l = yig_lines();
  l.push_back("no-such-scan.dat");
  return l;
}

std::string message(const std::string& which) {
  return "read-error in the " + which + " of the input-file";
}

}  // namespace

TEST(InputReader, EveryReadErrorNamesItsLineAndKeepsTheReadStatus) {
  const Lines yig = yig_lines();
  const Lines op_head = {"231  4  3"};
  struct Case {
    Lines input;
    const char* which;
    int sign;  // of ierr: +1 malformed value, -1 end of file
  };
  const Case cases[] = {
      {{}, "first line", -1},
      {first(yig, 1), "second line", -1},
      {first(yig, 2), "third line", -1},
      {with(yig, 2, "12.380  12.380  x12.380   90. 90. 90."), "third line", 1},
      {first(yig, 3), "fourth line", -1},
      {with(yig, 3, "CU"), "fourth line", 1},
      {with(yig, 3, "cu"), "fourth line", 1},
      {with(yig, 3, "1 0.5612  5.43 1. 1 1 58.19"), "fourth line", 1},  // hmono 1.
      {with(yig, 3, "1.54 0.0003 1.0 1.2 0.0004 x"), "fourth line", 1},
      {with(yig, 4, "0.14  0.14 150. abc  0.0"), "fifth line", 1},
      {first(yig, 4), "fifth line", -1},
      {with(yig, 5, "-66.   16. 50  0.  1. 0."), "sixth line", 1},  // nnn with a point
      {with(yig, 6, "230.  4  3"), "seventh line", 1},
      {first(yig, 6), "seventh line", -1},
      {inserted(with(yig, 6, "231  4  3"), 7, {"1 2", "0. 1 0 0  0. 0 1 0  0. 0 0 x"}),
       "symmetry information lines", 1},
      {inserted(first(with(yig, 6, "231  4  3"), 7), 7, {"1 2 0. 1 0 0"}),
       "symmetry information lines", -1},
      {with(yig, 8, "Fe3+  0.0x  "), "chemical symbol lines", 1},
      {first(yig, 9), "chemical symbol lines", -1},
      {with(yig, 12, "   2  0.16667  0.0  0.0  0.0.0"), "atom parameter lines", 1},
      {first(yig, 17), "atom parameter lines", -1},
      {with(yig, 18, " 8  8  2.  0  0 -24.5  -23.5"), "primary reflection line", 1},
      {first(yig, 18), "primary reflection line", -1},
      {with(yig, 20, "  0.038060  -0.062495   O.034549"), "ub-matrix lines", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.which + (c.input.empty() ? std::string(" (empty input)") : ""));
    Session s;
    ListedRun r = s.run(c.input);
    EXPECT_TRUE(r.stopped());
    EXPECT_EQ(tail(r.records, 3), (Lines{"", "", message(c.which)}));
    if (c.sign > 0)
      EXPECT_GT(r.ierr(), 0);
    else
      EXPECT_LT(r.ierr(), 0);
    EXPECT_TRUE(s.par.atoms.empty() && s.par.types.empty()) << "work arrays released";
  }
}

TEST(InputReader, PsiRangeDependsOnTheRadiationMode) {
  struct Case {
    Lines input;
    const char* stop;  // nullptr: accepted
  };
  const Lines yig = first(yig_lines(), 7);  // stops at the end of the file after line 7
  const Lines si = first(si_lines(), 7);
  const char* tube = " Psi-range is out of -180. to 180.";
  const char* syn = " Psi-range is out of 0. to 360.";
  const Case cases[] = {
      {with(yig, 5, "-180.  180. 50  0  1. 0."), nullptr},
      {with(yig, 5, "-66.  180.5 50  0  1. 0."), tube},
      {with(yig, 5, "-180.5  16. 50  0  1. 0."), tube},
      {with(yig, 5, "190.  200. 50  0  1. 0."), tube},
      {with(si, 5, "0.  360. 1000. 8  1. 0."), nullptr},
      {with(si, 5, "-1.  179. 1000. 8  1. 0."), syn},
      {with(si, 5, "176.  360.5 1000. 8  1. 0."), syn},
      {with(with(si, 3, "2 0.5612  5.43 1 1 1 58.19"), 5, "-66.  16. 1000. 8  1. 0."), syn},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input[5]);
    Session s;
    ListedRun r = s.run(c.input);
    ASSERT_TRUE(r.stopped());
    if (c.stop) {
      EXPECT_EQ(tail(r.records, 2), (Lines{"", c.stop}));
      EXPECT_EQ(r.ierr(), 0);  // the status of the last read
    } else {
      // accepted: the run goes on to the symmetry and meets the end of the input
      EXPECT_EQ(tail(r.records, 1), (Lines{message("chemical symbol lines")}));
      EXPECT_LT(r.ierr(), 0);
    }
  }
}

TEST(InputReader, LimitsOfAtomsOperatorsAndSpaceGroupNumber) {
  const Lines yig = yig_lines();
  {
    // A count takes memory only as its lines are read: one the file does not hold ends
    // at the end of the file, as a read error of those lines.
    Session s;
    ListedRun r = s.run(with(yig, 6, "230  2000000000  3"));
    ASSERT_TRUE(r.stopped());
    EXPECT_EQ(tail(r.records, 1), (Lines{message("atom parameter lines")}));
    EXPECT_LT(r.ierr(), 0);
    // (the atom lines read as element lines do not hold their numbers in columns)
    r = s.run(with(yig, 6, "230  4  16777216"));
    EXPECT_EQ(tail(r.records, 1), (Lines{message("chemical symbol lines")}));
    EXPECT_GT(r.ierr(), 0);
    r = s.run(Lines(yig.begin(), yig.begin() + 10));
    EXPECT_EQ(tail(r.records, 1), (Lines{message("atom parameter lines")}));
    EXPECT_LT(r.ierr(), 0);
  }
  for (const char* line7 : {"230  -4  3", "230  4  -1"}) {
    // a negative count is a malformed value of line 7, not an allocation failure
    Session s;
    ListedRun r = s.run(with(yig, 6, line7));
    ASSERT_TRUE(r.stopped());
    EXPECT_EQ(tail(r.records, 2),
              (Lines{message("seventh line"),
                     " ( the numbers of atoms na and of element lines nf must not be negative )"}))
        << line7;
    EXPECT_EQ(r.ierr(), 1);
  }
  {
    Lines ops = {"2 25"};
    for (int i = 0; i < 25; ++i) ops.push_back("0. 1 0 0  0. 0 1 0  0. 0 0 1");
    Session s;
    ListedRun r = s.run(inserted(with(yig, 6, "231  4  3"), 7, ops));
    ASSERT_TRUE(r.stopped());
    EXPECT_EQ(tail(r.records, 2),
              (Lines{" The number of symmetry lines is to large", " ( ns <= 24)"}));
    EXPECT_EQ(r.ierr(), 0);
    EXPECT_LE(s.par.ops.size(), 24u);
  }
  {
    // No operator at all (not even the identity), and an ic that is neither
    // centrosymmetric nor acentric.
    Session s;
    ListedRun r = s.run(inserted(with(yig, 6, "231  4  3"), 7, {"2 0"}));
    ASSERT_TRUE(r.stopped());
    EXPECT_EQ(tail(r.records, 2), (Lines{" The number of symmetry lines must be at least 1 (the identity)",
                                         " ( 1 <= ns <= 24)"}));
    EXPECT_EQ(r.ierr(), 0);
    r = s.run(inserted(with(yig, 6, "231  4  3"), 7, {"3 1", "0. 1 0 0  0. 0 1 0  0. 0 0 1"}));
    EXPECT_EQ(tail(r.records, 2), (Lines{message("symmetry information lines"),
                                         " ( ic must be 1, centrosymmetric, or 2, acentric )"}));
    EXPECT_EQ(r.ierr(), 1);
  }
  for (const char* line7 : {"0  4  3", "-5  4  3"}) {
    Session s;
    ListedRun r = s.run(with(yig, 6, line7));
    ASSERT_TRUE(r.stopped()) << line7;
    EXPECT_GT(r.ierr(), 0) << line7;
    EXPECT_EQ(find_prefix(r.records, " Space-group-Nr."), r.records.size()) << line7;
    EXPECT_TRUE(contains(r.records, message("seventh line"))) << line7;
  }
}

TEST(InputReader, ExplicitOperatorsAreStoredAsReadAndListed) {
  // The 24 operators of I a -3 d written out, the first two with translations the
  // table path would snap (0.4 would even print as ***): here they stay as read.
  const Lines ops = {
      "1 24",
      "0.4 1 0 0 0 0 1 0 0 0 0 1",
      "0.333333 -1 0 0 0 0 -1 0 0.5 0 0 1",
      "0 -1 0 0 0.5 0 1 0 0.5 0 0 -1",
      "0.5 1 0 0 0.5 0 -1 0 0 0 0 -1",
      "0 0 0 1 0 1 0 0 0 0 1 0",
      "0.5 0 0 1 0.5 -1 0 0 0 0 -1 0",
      "0.5 0 0 -1 0 -1 0 0 0.5 0 1 0",
      "0 0 0 -1 0.5 1 0 0 0.5 0 -1 0",
      "0 0 1 0 0 0 0 1 0 1 0 0",
      "0 0 -1 0 0.5 0 0 1 0.5 -1 0 0",
      "0.5 0 1 0 0.5 0 0 -1 0 -1 0 0",
      "0.5 0 -1 0 0 0 0 -1 0.5 1 0 0",
      "0.75 0 1 0 0.25 1 0 0 0.25 0 0 -1",
      "0.75 0 -1 0 0.75 -1 0 0 0.75 0 0 -1",
      "0.25 0 1 0 0.25 -1 0 0 0.75 0 0 1",
      "0.25 0 -1 0 0.75 1 0 0 0.25 0 0 1",
      "0.75 1 0 0 0.25 0 0 1 0.25 0 -1 0",
      "0.25 -1 0 0 0.75 0 0 1 0.25 0 1 0",
      "0.75 -1 0 0 0.75 0 0 -1 0.75 0 -1 0",
      "0.25 1 0 0 0.25 0 0 -1 0.75 0 1 0",
      "0.75 0 0 1 0.25 0 1 0 0.25 -1 0 0",
      "0.25 0 0 1 0.25 0 -1 0 0.75 1 0 0",
      "0.25 0 0 -1 0.75 0 1 0",  // an operator may span two lines
      "0.25 1 0 0",
      "0.75 0 0 -1 0.75 0 -1 0 0.75 -1 0 0   rest of the line ignored",
  };
  const Lines listed = {
      "  24 symmetry lines:",
      "    0.400  1.  0.  0.    0.000  0.  1.  0.    0.000  0.  0.  1.",
      "    0.333 -1.  0.  0.    0.000  0. -1.  0.    0.500  0.  0.  1.",
      "    0.000 -1.  0.  0.    0.500  0.  1.  0.    0.500  0.  0. -1.",
      "    0.500  1.  0.  0.    0.500  0. -1.  0.    0.000  0.  0. -1.",
      "    0.000  0.  0.  1.    0.000  1.  0.  0.    0.000  0.  1.  0.",
      "    0.500  0.  0.  1.    0.500 -1.  0.  0.    0.000  0. -1.  0.",
      "    0.500  0.  0. -1.    0.000 -1.  0.  0.    0.500  0.  1.  0.",
      "    0.000  0.  0. -1.    0.500  1.  0.  0.    0.500  0. -1.  0.",
      "    0.000  0.  1.  0.    0.000  0.  0.  1.    0.000  1.  0.  0.",
      "    0.000  0. -1.  0.    0.500  0.  0.  1.    0.500 -1.  0.  0.",
      "    0.500  0.  1.  0.    0.500  0.  0. -1.    0.000 -1.  0.  0.",
      "    0.500  0. -1.  0.    0.000  0.  0. -1.    0.500  1.  0.  0.",
      "    0.750  0.  1.  0.    0.250  1.  0.  0.    0.250  0.  0. -1.",
      "    0.750  0. -1.  0.    0.750 -1.  0.  0.    0.750  0.  0. -1.",
      "    0.250  0.  1.  0.    0.250 -1.  0.  0.    0.750  0.  0.  1.",
      "    0.250  0. -1.  0.    0.750  1.  0.  0.    0.250  0.  0.  1.",
      "    0.750  1.  0.  0.    0.250  0.  0.  1.    0.250  0. -1.  0.",
      "    0.250 -1.  0.  0.    0.750  0.  0.  1.    0.250  0.  1.  0.",
      "    0.750 -1.  0.  0.    0.750  0.  0. -1.    0.750  0. -1.  0.",
      "    0.250  1.  0.  0.    0.250  0.  0. -1.    0.750  0.  1.  0.",
      "    0.750  0.  0.  1.    0.250  0.  1.  0.    0.250 -1.  0.  0.",
      "    0.250  0.  0.  1.    0.250  0. -1.  0.    0.750  1.  0.  0.",
      "    0.250  0.  0. -1.    0.750  0.  1.  0.    0.250  1.  0.  0.",
      "    0.750  0.  0. -1.    0.750  0. -1.  0.    0.750 -1.  0.  0.",
  };
  Session s;
  ListedRun r = s.run(inserted(with(yig_until_scan(), 6, "231  4  3"), 7, ops));
  // banner 2, date 2, title echo 4, then the operators
  ASSERT_GE(r.records.size(), 8 + listed.size());
  EXPECT_EQ(Lines(r.records.begin() + 8, r.records.begin() + 8 + 25), listed);
  EXPECT_EQ(s.par.ic, 1);
  EXPECT_EQ(s.par.ns, 24);
  ASSERT_EQ(s.par.ops.size(), 24u);
  EXPECT_EQ(s.par.ops[0].t[0], 0.4f);
  EXPECT_EQ(s.par.ops[1].t[0], 0.333333f);
  EXPECT_EQ(s.par.ops[23].s[2][0], -1.0f);
  EXPECT_EQ(s.par.space_group[0], 'P');
  // one lattice point: the Y site (0.25 of 48 general positions) holds 12 atoms
  EXPECT_TRUE(contains(r.records, " Y3+ : 12 atoms with atomic number 39"));
  // the run went on to the end of the reading stage and beyond
  EXPECT_EQ(tail(r.records, 2)[1], " check your input!");
}

TEST(InputReader, RadiationLineTubeSynchrotronOrExplicitPair) {
  // Lines 1 to 7 only: the run stops at the end of the file where the symmetry or
  // the elements follow, with every radiation value in the run record.
  const Lines yig = first(yig_lines(), 7);
  const Lines si = first(si_lines(), 7);
  {
    Session s;
    s.run(with(yig, 3, "Cu"));
    const kaven::RunParameters& p = s.par;
    EXPECT_EQ(p.clam, "Cu");
    EXPECT_EQ(p.alam1, 1.540598f);
    EXPECT_EQ(p.dlam1, 0.000306f);
    EXPECT_EQ(p.alam2, 1.544426f);
    EXPECT_EQ(p.dlam2, 0.000413f);
    EXPECT_EQ(p.flam1, 1.0f);
    EXPECT_EQ(p.flam2, 0.5f);
    EXPECT_EQ(p.tubefac, 12.179f);
    EXPECT_EQ(p.cos2tm, 0.89423f);
    EXPECT_EQ(p.isyn, 0);
    EXPECT_EQ(p.polsgn, 0.0f);
    EXPECT_EQ(p.i0, 2e9f);
  }
  {
    // only columns 1-2 count; nothing else on the line is read
    Session s;
    s.run(with(yig, 3, "Mo  K-alpha, 50 kV x"));
    EXPECT_EQ(s.par.clam, "Mo");
    EXPECT_EQ(s.par.alam1, 0.7093f);
    EXPECT_EQ(s.par.alam2, 0.71359f);
    EXPECT_EQ(s.par.cos2tm, 0.97749f);
  }
  {
    // an explicit pair with the longer wavelength first: the triples are exchanged
    Session s;
    s.run(with(yig, 3, "1.54, 0.0003, 1.0, 1.2, 0.0004, 0.5"));
    const kaven::RunParameters& p = s.par;
    EXPECT_EQ(p.clam, "dl");
    EXPECT_EQ(p.alam1, 1.2f);
    EXPECT_EQ(p.dlam1, 0.0004f);
    EXPECT_EQ(p.flam1, 0.5f);
    EXPECT_EQ(p.alam2, 1.54f);
    EXPECT_EQ(p.dlam2, 0.0003f);
    EXPECT_EQ(p.flam2, 1.0f);
    EXPECT_EQ(p.isyn, 0);
    EXPECT_EQ(p.polsgn, 0.0f);
    EXPECT_EQ(p.i0, 2e9f);
    EXPECT_EQ(p.cos2tm, 1.0f);
    EXPECT_EQ(p.tubefac, 1.0f);
  }
  {
    Session s;
    s.run(with(yig, 3, "0.5 0.001 1.0 0.6 0.002 0.4"));  // already in order
    EXPECT_EQ(s.par.alam1, 0.5f);
    EXPECT_EQ(s.par.flam2, 0.4f);
  }
  {
    // synchrotron, Si 111 monochromator: n = 3
    Session s;
    s.run(si);
    const kaven::RunParameters& p = s.par;
    EXPECT_EQ(p.isyn, 1);
    EXPECT_EQ(p.clam, "dl");
    EXPECT_EQ(p.alam1, 0.5612f);
    EXPECT_EQ(p.amono, 5.43f);
    EXPECT_EQ(p.hmono + p.kmono + p.lmono, 3);
    EXPECT_EQ(p.fmono, 58.19f);
    EXPECT_EQ(p.polsgn, 1.0f);
    EXPECT_EQ(p.flam1, 1.0f);
    EXPECT_EQ(p.cos2tm, 1.0f);
    EXPECT_EQ(p.tubefac, 1.0f);
    EXPECT_EQ(p.i0, 1e10f);
    const double th = std::asin(0.5612 * std::sqrt(3.0) / (2 * 5.43));
    EXPECT_NEAR(p.thmono, th, 1e-6);
    // Darwin width 2 r_e F / (pi V) d^2 in the form the wavelength cancels from, then
    // combined with the divergence of line 5 (0.005 degrees)
    const double dw = 2e-5 * 2.817938 * 58.19 / (5.43 * 3);
    EXPECT_NEAR(p.dwmono / dw, 1.0, 1e-5);
    const double div = 0.005 * 0.0174533 / std::tan(th);
    EXPECT_NEAR(p.dlam1 / std::sqrt(dw * dw + div * div), 1.0, 1e-5);
  }
  {
    Session s;
    s.run(with(si, 3, "2 0.5612  5.43 1 1 1 58.19"));
    EXPECT_EQ(s.par.isyn, 2);
    EXPECT_EQ(s.par.polsgn, -1.0f);
  }
  {
    Session s;
    s.run(with(si, 3, "1 1.275  5.43 1 1 1 58.19"));
    EXPECT_EQ(s.par.i0, 1.1e10f);
  }
}

TEST(InputReader, CellContentsCountEveryAtomOfTheCell) {
  // YIG, I a -3 d: 24 operators, centrosymmetric, body-centred: 96 general positions
  Session s;
  ListedRun r = s.run(yig_until_scan());
  for (const char* rec : {" Y3+ : 24 atoms with atomic number 39",
                          " Fe3+: 40 atoms with atomic number 26",
                          " O1- : 96 atoms with atomic number  8"})
    EXPECT_TRUE(contains(r.records, rec)) << rec;

  // An atom group on one line of eleven values reads as the usual two lines: the
  // whole listing is the same.
  Lines one_line = yig_until_scan();
  for (std::size_t i = 10; i < 18; i += 2) one_line[i] += "  " + one_line[i + 1];
  for (std::size_t i = 17; i >= 11; i -= 2) one_line.erase(one_line.begin() + static_cast<long>(i));
  ASSERT_EQ(one_line.size(), yig_until_scan().size() - 4);
  Session s2;
  ListedRun r2 = s2.run(one_line);
  EXPECT_EQ(r2.records, r.records);

  // An atom whose fnr matches no table adds to no ncell; a primitive acentric group
  // with 4 operators holds afact * 4 atoms per site.
  kaven::RunParameters p;
  p.nf = 2;
  p.na = 4;
  p.types.resize(2);
  p.atoms.resize(4);
  p.ns = 4;
  p.ic = 2;
  p.ncent = 1;
  std::istringstream in(
      "1  0.5  0.1 0.2 0.3  0 0 0 0 0 0\n"
      "3  1.   0.1 0.2 0.3\n0 0 0 0 0 0\n"
      "1.5 1.  0.1 0.2 0.3  0 0 0 0 0 0\n"
      "2  1.   0.1 0.2 0.3  0 0 0 0 0 0\n");
  kaven::LineSource src(in);
  EXPECT_NO_THROW(kaven::read_atoms(p, src));
  EXPECT_FLOAT_EQ(p.types[0].ncell, 2.0f);
  EXPECT_FLOAT_EQ(p.types[1].ncell, 4.0f);
  EXPECT_FLOAT_EQ(p.atoms[1].fnr, 3.0f);
  EXPECT_FLOAT_EQ(p.atoms[2].z, 0.3f);
}

TEST(InputReader, OptionalLinesAfterThePrimaryReflection) {
  const Lines si = si_lines();  // ends right after line 10
  {
    // no orientation matrix, no scan file, and the run goes on with ierr < 0
    Session s;
    ListedRun r = s.run(si);
    EXPECT_FALSE(s.par.ub_read);
    EXPECT_FALSE(s.par.scan_present);
    EXPECT_EQ(s.names.dname2, std::string(72, ' '));
    EXPECT_FALSE(contains(r.records, " UB-matrix:"));
    EXPECT_NE(find_prefix(r.records, " Lattice constants input by the user:"), r.records.size());
    EXPECT_LT(r.ierr(), 0);
    EXPECT_EQ(s.par.npsi1, 0);  // (176.0 - 176) * 1000
    EXPECT_EQ(s.par.npsi2, 100);
    EXPECT_EQ(s.par.h * 100 + s.par.k * 10 + s.par.l, 222);
    EXPECT_FLOAT_EQ(s.par.f, 1.5f);
  }
  {
    // ends after line 11, or line 12 is blank: the matrix is read, no scan file, ierr 0
    for (bool blank12 : {false, true}) {
      Session s;
      Lines in = si;
      in.insert(in.end(), {"0.18413 0 0", "0 0.18413 0", "0 0 0.18413"});
      if (blank12) in.push_back("   ");
      ListedRun r = s.run(in);
      EXPECT_TRUE(s.par.ub_read);
      EXPECT_FALSE(s.par.scan_present);
      EXPECT_EQ(s.names.dname2, std::string(72, ' '));
      EXPECT_EQ(r.ierr(), 0);
      EXPECT_TRUE(contains(r.records, "    0.1841    0.1841    0.1841       90.00     90.00     90.00"));
    }
  }
  {
    // a scan file named on line 12 (YIG with its orientation matrix, echoed)
    Session s;
    ListedRun r = s.run(yig_until_scan());
    EXPECT_TRUE(s.par.ub_read);
    EXPECT_TRUE(s.par.scan_present);
    EXPECT_EQ(s.par.dname2, padded("no-such-scan.dat", 72));
    EXPECT_EQ(s.names.dname2, padded("no-such-scan.dat", 72));
    std::size_t i = find_prefix(r.records, " UB-matrix:");
    ASSERT_LT(i + 7, r.records.size());
    EXPECT_EQ(Lines(r.records.begin() + static_cast<long>(i) - 1,
                    r.records.begin() + static_cast<long>(i) + 7),
              (Lines{"", " UB-matrix:", "   -0.071161   -0.036463    0.012399",
                     "    0.038060   -0.062495    0.034549", "   -0.006014    0.036221    0.072079",
                     "", " Reciprocal lattice constants calculated from the UB-matrix",
                     "    0.0809    0.0809    0.0809       90.00     90.01     90.01"}));
    EXPECT_EQ(r.ierr(), 1);  // it cannot be opened
    EXPECT_EQ(tail(r.records, 5),
              (Lines{"", "", "     " + padded("no-such-scan.dat", 72),
                     " there is no such file or directory, or the file is empty,",
                     " check your input!"}));
  }
  {
    // a run that stops before line 10 has been read leaves the scan-file name alone
    Session s;
    s.names.dname2 = padded("previous.dat", 72);
    s.run(with(si, 16, "2  2  x"));
    EXPECT_EQ(s.names.dname2, padded("previous.dat", 72));
    // ... while one that has read it clears it
    s.run(si);
    EXPECT_EQ(s.names.dname2, std::string(72, ' '));
  }
}

TEST(InputReader, ElementLineColumnsAndDispersionCorrections) {
  // "Siva 0.0522    0.0431": columns 5-14 and 15-24; the same without decimal points
  // has four implied decimals. Synchrotron radiation keeps the values of the line.
  for (const char* line : {"Siva 0.0522    0.0431", "Siva       522       431"}) {
    Session s;
    ListedRun r = s.run(with(si_lines(), 7, line));
    EXPECT_TRUE(contains(r.records, " f':  0.0522     f'':  0.0431")) << line;
    EXPECT_TRUE(contains(r.records, " Siva:  8 atoms with atomic number 14")) << line;
  }
  // An unknown symbol stops the run with the element table's message.
  Session s;
  ListedRun r = s.run(with(yig_lines(), 8, "Fx3+"));
  EXPECT_TRUE(r.stopped());
  EXPECT_EQ(r.ierr(), 0);
  EXPECT_EQ(find_prefix(r.records, " The chemical symbol: Fx3+"), r.records.size() - 3);
}

TEST(InputReader, PlotFileInAMissingFolderStopsBeforeTheCell) {
  Session s;
  s.par.a = -7;  // not read by the run
  ListedRun r = s.run(with(yig_lines(), 1, "no-such-folder/yig.ps"));
  EXPECT_EQ(r.ierr(), 1);
  EXPECT_EQ(s.par.a, -7.0f);
  EXPECT_EQ(s.names.dname1, padded("no-such-folder/yig.ps", 72));
  ASSERT_EQ(r.records.size(), 13u);
  EXPECT_EQ(Lines(r.records.begin() + 2, r.records.end()),
            (Lines{"                               Date:  9 .  9 .  1",
                   "                               Time:  1 . 46 . 40", "", "",
                   " " + padded("YIG - KAVEN99", 80), "", "", "",
                   "     " + padded("no-such-folder/yig.ps", 72),
                   " there is no such file or directory, or the file is empty,",
                   " check your input!"}));
}

TEST(InputReader, WindowsLineEndsReadTheSame) {
  // Input files written on Windows end their lines with CR LF; the CR is no part of
  // the title, the file names or the values.
  std::string crlf;
  for (const std::string& l : si_lines()) crlf += l + "\r\n";
  Session a, b;
  ListedRun ra = a.run(si_lines());
  ListedRun rb = b.run_text(crlf);
  EXPECT_EQ(rb.records, ra.records);
  EXPECT_EQ(b.par.dname1, padded("si222.ps", 72));
}
