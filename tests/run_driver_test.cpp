// One run, from the banner to the last phase this version performs, compared record
// by record where the listing is fixed and by independent values where it is
// computed; the command-line program around the driver; and what one run leaves to
// the next in the same session.
#include "shell/run_driver.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "report/record_format.hpp"
#include "run_fixture.hpp"

using namespace kaven_test;

namespace {

double number_after(const std::string& record, std::size_t column) {
  return std::stod(record.substr(column));
}

std::size_t count(const Lines& v, const std::string& record) {
  return static_cast<std::size_t>(std::count(v.begin(), v.end(), record));
}

}  // namespace

TEST(RunDriver, YigListingFromTheBannerToTheEnd) {
  Session s;
  ListedRun r = s.run(yig_lines());
  const Lines& rec = r.records;

  // Banner, date block (SOURCE_DATE_EPOCH 1000000000 = 2001-09-09 01:46:40 UTC), title
  // echo, space group 230 with its 24 operators in the order of International Tables,
  // four to a line.
  const Lines head = {
      "                              ****  KAVEN-99  ****",
      "                               Date:  9 .  9 .  1",
      "                               Time:  1 . 46 . 40",
      "",
      "",
      " YIG - KAVEN99                                                                   ",
      "",
      " Space-group-Nr.   : 230      Centrosymmetric     Space-group: I a -3 d                      ",
      " 24 symmetry operators:",
      "    +x    ,     +y  ,       +z;  1/2-x    ,     -y  ,1/2    +z;     -x    ,1/2  +y  ,1/2    -z;  1/2+x    ,1/2  -y  ,       -z;  ",
      "        +z,   +x    ,     +y  ;  1/2    +z,1/2-x    ,     -y  ;  1/2    -z,   -x    ,1/2  +y  ;         -z,1/2+x    ,1/2  -y  ;  ",
      "      +y  ,       +z,   +x    ;       -y  ,1/2    +z,1/2-x    ;  1/2  +y  ,1/2    -z,   -x    ;  1/2  -y  ,       -z,1/2+x    ;  ",
      " 3/4  +y  ,1/4+x    ,1/4    -z;  3/4  -y  ,3/4-x    ,3/4    -z;  1/4  +y  ,1/4-x    ,3/4    +z;  1/4  -y  ,3/4+x    ,1/4    +z;  ",
      " 3/4+x    ,1/4    +z,1/4  -y  ;  1/4-x    ,3/4    +z,1/4  +y  ;  3/4-x    ,3/4    -z,3/4  -y  ;  1/4+x    ,1/4    -z,3/4  +y  ;  ",
      " 3/4    +z,1/4  +y  ,1/4-x    ;  1/4    +z,1/4  -y  ,3/4+x    ;  1/4    -z,3/4  +y  ,1/4+x    ;  3/4    -z,3/4  -y  ,3/4-x    ",
  };
  ASSERT_GT(rec.size(), head.size() + 1);
  EXPECT_EQ(rec[0], head[0]);
  // the credit record: 22 blanks and the credit text
  EXPECT_EQ(rec[1].substr(0, 23), std::string(22, ' ') + rec[1].substr(22, 1));
  EXPECT_NE(rec[1][22], ' ');
  EXPECT_EQ(Lines(rec.begin() + 2, rec.begin() + static_cast<long>(head.size()) + 1),
            Lines(head.begin() + 1, head.end()));

  // Cell: V = 12.38^3 = 1897.4133, a* = 1/12.38 = 0.080775, V* = 0.00052703
  std::size_t i = find_prefix(rec, " Lattice constants input by the user:");
  ASSERT_LT(i + 7, rec.size());
  EXPECT_EQ(Lines(rec.begin() + static_cast<long>(i), rec.begin() + static_cast<long>(i) + 7),
            (Lines{" Lattice constants input by the user:",
                   "   12.3800   12.3800   12.3800       90.00     90.00     90.00",
                   " Volume:   1897.4133", "", " Reciprocal lattice constants:",
                   "    0.0808    0.0808    0.0808       90.00     90.00     90.00",
                   " Reciprocal volume:    0.000527"}));

  // F000: 24 Y3+ (36 electrons), 40 Fe3+ (23), 96 O1- (9): 2648 electrons, less the
  // small misfit of the four-Gaussian forms at s = 0
  i = find_prefix(rec, " F000:");
  ASSERT_LT(i, rec.size());
  EXPECT_EQ(rec[i].size(), 14u);
  EXPECT_NEAR(number_after(rec[i], 6), 2648.0, 1.5);

  // Density of Y3Fe5O12, Z = 8: 8 * 737.93 g/mol / (N_A 1897.41 Å^3) = 5.166 g/cm^3.
  // Absorption at Ag K-alpha1 (22.16 keV): xraylib gives mu = 136.6 cm^-1 in total and
  // 133.5 cm^-1 for the photo effect, which the f'' route measures.
  i = find_prefix(rec, " Density ");
  ASSERT_LT(i + 2, rec.size());
  EXPECT_EQ(rec[i - 2], "");
  EXPECT_EQ(rec[i - 1], "");
  EXPECT_EQ(rec[i].substr(0, 56), " Density                                               :");
  EXPECT_EQ(rec[i].substr(66), " g/cm -3");
  EXPECT_NEAR(number_after(rec[i], 56), 5.1665, 0.002);
  EXPECT_EQ(rec[i + 1].substr(0, 56), " Linear absorption coefficient (I.T., 1962, III, 157ff):");
  EXPECT_EQ(rec[i + 1].substr(66), " cm -1");
  EXPECT_NEAR(number_after(rec[i + 1], 56) / 136.57, 1.0, 0.02);
  EXPECT_EQ(rec[i + 2].substr(0, 56), " Linear absorption coefficient (dispersion correction) :");
  EXPECT_NEAR(number_after(rec[i + 2], 56) / 133.50, 1.0, 0.03);
  EXPECT_EQ(rec[i + 3], "");
  EXPECT_EQ(rec[i + 4], "");

  // A tube run: two wavelength passes, K-alpha1 then K-alpha2
  EXPECT_EQ(count(rec, "                    *** Multiple diffraction events ***"), 2u);
  EXPECT_TRUE(contains(rec, " wavelength        : 0.55942"));
  EXPECT_TRUE(contains(rec, " wavelength        : 0.56381"));

  // The end: scan settings, the count of crossings in the scan, the last time line.
  const Lines end = tail(rec, 12);
  EXPECT_EQ(Lines(end.begin(), end.begin() + 9),
            (Lines{" Scan calculated for", "", " psia                        : -66.000",
                   " psie                        :  16.000",
                   " number of steps per degree  :  50.000",
                   " phase shift interval factor :    0", "", "",
                   " Number of multiple diffraction events in the 360 degree psi-scan"}));
  ASSERT_EQ(end[9].size(), 63u);
  EXPECT_EQ(end[9].substr(0, 53), " (K-alpha1 + K-alpha2) with intensity >   0.10E-01 : ");
  EXPECT_GT(std::stol(end[9].substr(53)), 100);
  EXPECT_EQ(r.outcome.result.profile.entered, std::stol(end[9].substr(53)));
  EXPECT_EQ(Lines(end.begin() + 10, end.end()),
            (Lines{"", " CPU-time since program start:  0  hours    0  minutes   0.00  seconds"}));
  EXPECT_FALSE(r.stopped());
  EXPECT_EQ(r.ierr(), 0);  // the orientation-matrix read succeeded; no line 12
  EXPECT_EQ(s.names.dname1, padded("yig.ps", 72));
  EXPECT_TRUE(fs::exists(s.dir.path() / "yig.ps"));
  // the calculated-scan file, named after the plot file: one record per step
  EXPECT_EQ(s.names.calname, padded("yig.cal", 72));
  const Lines cal = read_lines(s.dir.path() / "yig.cal");
  ASSERT_EQ(cal.size(), 82u * 50u + 1u);
  EXPECT_EQ(cal.front().substr(0, 10), "   -66.000");
  EXPECT_EQ(cal[1].substr(0, 10), "   -65.980");
  EXPECT_EQ(cal.back().substr(0, 10), "    16.000");
  EXPECT_TRUE(r.outcome.result.plotted);
  EXPECT_TRUE(s.par.atoms.empty() && s.par.types.empty());
}

TEST(RunDriver, SynchrotronRunHasOnePass) {
  Session s;
  ListedRun r = s.run(si_lines());
  EXPECT_EQ(count(r.records, "                    *** Multiple diffraction events ***"), 1u);
  EXPECT_TRUE(contains(r.records, " wavelength        : 0.56120"));
  EXPECT_LT(r.ierr(), 0);  // the input ends where the orientation matrix would start
}

TEST(RunDriver, SecondRunOfASessionStartsClean) {
  Session fresh;
  const ListedRun reference = fresh.run(si_lines());

  // Failed first runs: an unknown chemical symbol (element error flag), a malformed
  // value (ierr > 0), a plot file that cannot be opened. Each second run lists exactly
  // what a run in a new session lists, date block included.
  const Lines failing[] = {
      [] {
        Lines l = yig_lines();
        l[8] = "Fx3+";
        return l;
      }(),
      [] {
        Lines l = yig_lines();
        l[12] = "   2  x";
        return l;
      }(),
      [] {
        Lines l = yig_lines();
        l[1] = "no-such-folder/yig.ps";
        return l;
      }(),
  };
  for (const Lines& first : failing) {
    Session s;
    ListedRun r1 = s.run(first);
    EXPECT_TRUE(r1.stopped());
    EXPECT_TRUE(s.par.atoms.empty() && s.par.types.empty());
    ListedRun r2 = s.run(si_lines());
    EXPECT_EQ(r2.records, reference.records);
    EXPECT_EQ(r2.ierr(), reference.ierr());
    EXPECT_EQ(r2.outcome.end, reference.outcome.end);
  }
}

TEST(RunDriver, EveryStopHandsItsWholeMessageToTheCaller) {
  // The records of the stop close the listing and come back in the outcome, for the
  // window to show; the run status is the one the stop leaves.
  struct Case {
    const char* what;
    std::size_t line;
    const char* text;
    Lines message;
    int ierr;  // 1: positive, 0: zero, -1: negative
  };
  const Case cases[] = {
      {"unknown chemical symbol", 8, "Fx3+",
       {" The chemical symbol: Fx3+ does not correspond to an  atom/ion name",
        " given in the Table 6.1.1.4 of the International Tables for Crystallography,",
        " Vol. C, p. 500 - 502"},
       0},
      {"malformed cell", 2, "12.38 x", {"", "", "read-error in the third line of the input-file"}, 1},
      {"space-group number 0", 6, "0  4  3",
       {"", "", "read-error in the seventh line of the input-file",
        " ( the space-group number nr must be at least 1 )"},
       1},
      {"psi range", 5, "-266.   16. 50  0  1. 0.", {"", " Psi-range is out of -180. to 180."}, 0},
      {"too many operators", 6, "231  4  3\n2 25",
       {" The number of symmetry lines is to large", " ( ns <= 24)"}, 0},
      {"plot file", 1, "no-such-folder/yig.ps",
       {"", "", "     no-such-folder/yig.ps" + std::string(51, ' '),
        " there is no such file or directory, or the file is empty,", " check your input!"},
       1},
      {"Ewald sphere", 3, "4.1 0.0003 1. 4.2 0.0004 0.5",
       {"", "", "", " The wavelength is to large",
        " the primary reflection is outside of the Ewald-sphere !!"},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Lines input = yig_lines();
    input[c.line] = c.text;
    Session s;
    const ListedRun r = s.run(input);
    EXPECT_TRUE(r.stopped());
    EXPECT_EQ(r.outcome.stop_message, c.message);
    EXPECT_EQ(tail(r.records, c.message.size()), c.message);
    EXPECT_EQ(r.ierr() > 0 ? 1 : (r.ierr() < 0 ? -1 : 0), c.ierr);
  }
}

TEST(RunDriver, CalculatedScanNameDropsAFixedNumberOfCharacters) {
  const std::string blank(72, ' ');
  EXPECT_EQ(kaven::calculated_scan_name(blank, padded("yig.ps", 72)), padded("yig.cal", 72));
  EXPECT_EQ(kaven::calculated_scan_name(padded("../hasylab/scans/si222ag2.dat", 72),
                                        padded("si222.ps", 72)),
            padded("../hasylab/scans/si222ag2.cal", 72));
  // left-justified first; the count ignores the real extension
  EXPECT_EQ(kaven::calculated_scan_name(blank, padded("   plot.eps", 72)), padded("plot..cal", 72));
  EXPECT_EQ(kaven::calculated_scan_name(padded("  a.b", 72), blank), padded("a.cal", 72)) << "n=|-1|";
  // a name of 72 characters leaves no room for the whole suffix
  const std::string longname(72, 'x');
  EXPECT_EQ(kaven::calculated_scan_name(blank, longname), std::string(69, 'x') + ".ca");
  EXPECT_EQ(kaven::calculated_scan_name(longname, blank), std::string(68, 'x') + ".cal");
}

TEST(RunDriver, CommandLineProgram) {
  ScratchDir scratch;
  const fs::path in_dir = scratch.path() / "in";
  const fs::path work = scratch.path() / "work";
  fs::create_directories(in_dir);
  fs::create_directories(work);
  fs::copy_file(source_path("examples/si/si222.inp"), in_dir / "si222.inp");
  setenv("SOURCE_DATE_EPOCH", kEpoch, 1);

  const fs::path stdout_file = scratch.path() / "stdout.txt";
  auto kaven = [&](const std::string& args) {
    const std::string cmd = "cd '" + work.string() + "' && '" KAVEN_BINARY "' " + args + " >'" +
                            stdout_file.string() + "' 2>/dev/null";
    int st = std::system(cmd.c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  };

  // A complete run: status 0. The listing defaults to INPUT with .out; the plot file
  // of line 2 and the calculated-scan file are made in the folder of INPUT, not in the
  // working folder. Standard output names the files the run wrote.
  EXPECT_EQ(kaven("../in/si222.inp"), 0);
  ASSERT_TRUE(fs::exists(in_dir / "si222.out"));
  EXPECT_TRUE(fs::exists(in_dir / "si222.ps"));
  EXPECT_TRUE(fs::exists(in_dir / "si222.svg"));
  EXPECT_TRUE(fs::exists(in_dir / "si222.cal"));
  EXPECT_FALSE(fs::exists(work / "si222.ps"));
  EXPECT_FALSE(fs::exists(work / "si222.cal"));
  EXPECT_EQ(read_lines(stdout_file),
            (Lines{"kaven: run complete", "  listing:              ../in/si222.out",
                   "  calculated scan:      ../in/si222.cal", "  plot:                 ../in/si222.ps",
                   "  plot (SVG):           ../in/si222.svg"}));
  // the listing and the calculated scan are the driver's, record for record
  Session s;
  EXPECT_EQ(read_lines(in_dir / "si222.out"), s.run(si_lines()).records);
  EXPECT_EQ(read_lines(in_dir / "si222.cal"), read_lines(s.dir.path() / "si222.cal"));

  // an explicit OUTPUT
  EXPECT_EQ(kaven("../in/si222.inp listing.txt"), 0);
  EXPECT_TRUE(fs::exists(work / "listing.txt"));
  EXPECT_EQ(read_lines(stdout_file)[1], "  listing:              listing.txt");

  // a run that stops early (a psi range beyond 360 degrees): status 3, the listing named
  Lines early = si_lines();
  early[5] = "176. 400. 1000. 8  1. 0.";
  write_lines(in_dir / "early.inp", early);
  EXPECT_EQ(kaven("../in/early.inp"), 3);
  EXPECT_EQ(read_lines(stdout_file), (Lines{"kaven: run stopped early, see the listing",
                                            "  listing:              ../in/early.out"}));

  // usage errors: 2; an input file that cannot be read: 1
  EXPECT_EQ(kaven(""), 2);
  EXPECT_EQ(kaven("a b c"), 2);
  EXPECT_EQ(kaven("-x"), 2);
  EXPECT_EQ(kaven("--help"), 0);
  EXPECT_EQ(kaven("../in/missing.inp"), 1);
  EXPECT_FALSE(fs::exists(in_dir / "missing.out"));

  // a run that finishes with ierr > 0 (its plot file cannot be opened): 1
  Lines bad = si_lines();
  bad[1] = "no-such-folder/si222.ps";
  write_lines(in_dir / "bad.inp", bad);
  EXPECT_EQ(kaven("../in/bad.inp"), 1);
  EXPECT_EQ(tail(read_lines(in_dir / "bad.out"), 1), (Lines{" check your input!"}));
}

TEST(RunDriver, EndingsWithoutAScanOrWithoutEvents) {
  // No scan asked for (zsw1 < 0): no calculated summary, the zero message, and the
  // calculated-scan file all the same, every step holding I-prim.
  {
    Session s;
    Lines in = si_lines();
    in[5] = "176. 179. -10. 8  1. 0.";
    const ListedRun r = s.run(in);
    EXPECT_FALSE(r.stopped());
    EXPECT_EQ(find_prefix(r.records, " Maximum calculated intensity"), r.records.size());
    EXPECT_TRUE(contains(r.records, " number of steps per degree  :  10.000"));
    const Lines end = tail(r.records, 7);
    EXPECT_EQ(end[2], " The number of multiple diffraction events with intensities > 0.01 times drumin is zero!");
    EXPECT_FALSE(r.outcome.result.plotted);
    EXPECT_TRUE(r.outcome.result.crossings.empty());
    const Lines cal = read_lines(s.dir.path() / "si222.cal");
    ASSERT_EQ(cal.size(), 31u);
    const std::string iprim = kaven::rec::F(20, 4, r.outcome.result.profile.iprim_total);
    EXPECT_GT(r.outcome.result.profile.iprim_total, 1.0f);
    for (std::size_t i = 0; i < cal.size(); ++i) {
      EXPECT_EQ(cal[i], kaven::rec::F(10, 3, 176.0 + double(i) / 10) + iprim);
    }
  }
  // A threshold no crossing reaches: the same message, no plot, the file written.
  {
    Session s;
    Lines in = si_lines();
    in[5] = "176. 179. 1000. 8  1e12 0.";
    const ListedRun r = s.run(in);
    EXPECT_FALSE(r.stopped());
    EXPECT_EQ(r.outcome.result.profile.entered, 0);
    EXPECT_TRUE(contains(r.records, " Maximum calculated intensity (cps)               :      8.11    at psi = 179.000"));
    EXPECT_EQ(tail(r.records, 5)[1], " No graphical output is produced.");
    EXPECT_FALSE(r.outcome.result.plotted);
    EXPECT_EQ(read_lines(s.dir.path() / "si222.cal").size(), 3001u);
  }
  // A calculated-scan file that cannot be written ends the run as a failed opening,
  // as soon as its name is known.
  {
    Session s;
    fs::create_directory(s.dir.path() / "si222.cal");
    const ListedRun r = s.run(si_lines());
    EXPECT_TRUE(r.stopped());
    EXPECT_EQ(r.ierr(), 1);
    EXPECT_EQ(tail(r.records, 3),
              (Lines{"     " + padded("si222.cal", 72), " is a folder, not a file:",
                     " kaven does not replace it with the calculated-scan file, check your input!"}));
    EXPECT_EQ(find_prefix(r.records, " Lattice constants"), r.records.size());
  }
}
