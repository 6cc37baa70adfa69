// No run destroys data: the files a run writes are compared with those it reads and
// with one another as the system resolves them, and an existing file is replaced only
// when it is kaven's own output of the same kind. The outputs of a real run are the
// specimens of each kind.
#include "shell/run_files.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>

#include "report/record_format.hpp"
#include "tests/run_fixture.hpp"

using namespace kaven;
using namespace kaven_test;

namespace {

// The outputs of one complete run of the silicon example, with the exports.
struct Specimens {
  ScratchDir dir;
  std::map<FileRole, fs::path> file;
  Specimens() {
    fs::copy_file(source_path("examples/si/si222.inp"), dir.path() / "si222.inp");
    const std::string cmd = "cd '" + dir.path().string() + "' && '" KAVEN_BINARY
                            "' si222.inp --csv --json >/dev/null 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    file = {{FileRole::listing, dir.path() / "si222.out"},
            {FileRole::plot, dir.path() / "si222.ps"},
            {FileRole::plot_svg, dir.path() / "si222.svg"},
            {FileRole::calculated_scan, dir.path() / "si222.cal"},
            {FileRole::events_csv, dir.path() / "si222-events.csv"},
            {FileRole::scan_csv, dir.path() / "si222-scan.csv"},
            {FileRole::summary_json, dir.path() / "si222.json"}};
  }
};

}  // namespace

TEST(RunFiles, AnOutputReplacesOnlyKavensOwnFileOfItsKind) {
  Specimens sp;
  // Each kind of output against the specimen of every kind: only its own is replaced.
  for (const auto& [role, own] : sp.file) {
    for (const auto& [other, file] : sp.file)
      EXPECT_EQ(replaceable_by(file, role), other == role)
          << role_name(role) << " over " << file.filename();
    // neither the input file nor a text of the user
    EXPECT_FALSE(replaceable_by(sp.dir.path() / "si222.inp", role)) << role_name(role);
  }
  const fs::path notes = sp.dir.path() / "notes.txt";
  const fs::path empty = sp.dir.path() / "empty";
  write_lines(notes, {"measured on 12 May: keep!"});
  std::ofstream{empty};
  for (const auto& [role, own] : sp.file) {
    EXPECT_FALSE(replaceable_by(notes, role));
    EXPECT_TRUE(replaceable_by(empty, role));  // holds nothing to lose
    EXPECT_TRUE(replaceable_by(sp.dir.path() / "new-file", role));
    EXPECT_FALSE(replaceable_by(sp.dir.path(), role));  // a folder
  }
  // A calculated scan is recognised line by line: a measured two-column list of another
  // layout, or a .cal file with a line of text, is not one.
  const fs::path cal = sp.dir.path() / "other.cal";
  const std::string step = rec::F(10, 3, 176.0) + rec::F(20, 4, 1.0);
  write_lines(cal, {step, step, std::string(10, '*') + rec::F(20, 4, 2.0)});
  EXPECT_TRUE(replaceable_by(cal, FileRole::calculated_scan));
  write_lines(cal, {"176.0 1.0", "176.1 2.0"});
  EXPECT_FALSE(replaceable_by(cal, FileRole::calculated_scan));
  write_lines(cal, {step, "   note: measured by hand     "});
  EXPECT_FALSE(replaceable_by(cal, FileRole::calculated_scan));
}

TEST(RunFiles, FilesAreComparedAsResolvedNotAsSpelt) {
  ScratchDir dir;
  const fs::path d = dir.path();
  fs::create_directories(d / "sub");
  write_lines(d / "a.inp", {"x"});
  fs::create_symlink(d / "a.inp", d / "link.inp");
  fs::create_hard_link(d / "a.inp", d / "hard.inp");
  fs::create_directory_symlink(d / "sub", d / "alias");
  struct Case {
    fs::path a, b;
    bool same;
  };
  const Case cases[] = {
      {d / "a.inp", d / "a.inp", true},
      {d / "a.inp", d / "sub" / ".." / "a.inp", true},
      {d / "a.inp", d / "link.inp", true},
      {d / "a.inp", d / "hard.inp", true},
      {d / "a.inp", d / "a.inp.", false},
      {d / "sub" / "new.ps", d / "alias" / "new.ps", true},  // neither exists yet
      {d / "sub" / "new.ps", d / "sub" / "new.svg", false},
      {d / "alias" / ".." / "a.inp", d / "a.inp", true},  // ".." after a link: its target's parent
  };
  for (const Case& c : cases) EXPECT_EQ(same_file(c.a, c.b), c.same) << c.a << " " << c.b;
  // a relative name against the absolute one
  const fs::path cwd = fs::current_path();
  fs::current_path(d);
  EXPECT_TRUE(same_file("a.inp", d / "link.inp"));
  EXPECT_TRUE(same_file("sub/new.ps", d / "alias/new.ps"));
  fs::current_path(cwd);
}

TEST(RunFiles, TheGuardKeepsTheFilesOfARunApart) {
  ScratchDir dir;
  const fs::path d = dir.path();
  write_lines(d / "run.inp", {"x"});
  write_lines(d / "scan.dat", {"1 2 3"});
  RunFileGuard g;
  EXPECT_EQ(g.read(d / "run.inp", FileRole::input), "");
  EXPECT_EQ(g.write(d / "run.out", FileRole::listing), "");
  EXPECT_EQ(g.write(d / "sub" / ".." / "run.inp", FileRole::plot), "is the input file of this run");
  EXPECT_EQ(g.write(d / "run.out", FileRole::plot), "is the print-output file of this run");
  EXPECT_EQ(g.write(d / "x.ps", FileRole::plot), "");
  EXPECT_EQ(g.read(d / "x.ps", FileRole::measured_scan), "is the plot file of this run");
  EXPECT_EQ(g.read(d / "scan.dat", FileRole::measured_scan), "");
  EXPECT_EQ(g.write(d / "scan.dat", FileRole::calculated_scan),
            "is the measured-scan file of this run");
  EXPECT_EQ(g.write(d, FileRole::calculated_scan), "is a folder, not a file");
  EXPECT_EQ(g.write(d / "", FileRole::calculated_scan), "is no file name");
  EXPECT_EQ(g.read(d, FileRole::input), "is a folder, not a file");
  write_lines(d / "notes.svg", {"<svg/>"});
  EXPECT_EQ(g.write(d / "notes.svg", FileRole::plot_svg),
            "exists and is not an SVG plot written by kaven");
  // The caller's own check: input, listing and exports.
  EXPECT_EQ(caller_file_refusal(d / "run.inp", d / "run.inp"),
            (d / "run.inp").string() + " is the input file of this run");
  EXPECT_EQ(caller_file_refusal(d, d / "run.out"), d.string() + " is a folder, not a file");
  EXPECT_EQ(caller_file_refusal(d / "run.inp", d / "notes.svg"),
            (d / "notes.svg").string() + " exists and is not a listing written by kaven");
  EXPECT_EQ(caller_file_refusal(d / "run.inp", d / "run.json",
                                {{d / "run.json", FileRole::summary_json}}),
            (d / "run.json").string() + " is the print-output file of this run");
  EXPECT_EQ(caller_file_refusal(d / "run.inp", d / "run.out",
                                {{d / "run-events.csv", FileRole::events_csv}}),
            "");
}
