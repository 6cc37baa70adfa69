// A catalogue of bad inputs, each run by the command-line program in a fresh folder:
// its message on standard error, its exit status (1 a malformed value or a file that
// may not be opened or written, 3 a run that stopped early), the files the folder holds
// afterwards (nothing beyond the expected outputs, no file it held changed), and its
// cost: at most a second of processor time and 100 MB of memory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "tests/run_fixture.hpp"

using namespace kaven_test;

namespace {

struct Ran {
  int status = -1;
  Lines err;
  double cpu_s = 0;
  long max_rss_kb = 0;
};

// Runs kaven with `args` in `dir`; standard output and error go to files in `logs`.
Ran run_kaven(const fs::path& dir, const fs::path& logs, const std::vector<std::string>& args) {
  const fs::path out = logs / "stdout", err = logs / "stderr";
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0) _exit(126);
    std::vector<char*> argv{const_cast<char*>(KAVEN_BINARY)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(KAVEN_BINARY, argv.data());
    _exit(127);
  }
  Ran r;
  int st = 0;
  rusage ru{};
  // No case may hang: one that is still running after a minute is ended and fails.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (wait4(pid, &st, WNOHANG, &ru) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      wait4(pid, &st, 0, &ru);
      ADD_FAILURE() << "kaven did not end within a minute";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  r.cpu_s = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
            1e-6 * double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec);
  r.max_rss_kb = ru.ru_maxrss;
  r.err = read_lines(err);
  return r;
}

std::string file_text(const fs::path& p) {
  std::ifstream is(p, std::ios::binary);
  std::stringstream ss;
  ss << is.rdbuf();
  return ss.str();
}

std::set<std::string> folder_entries(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// ---- the inputs -------------------------------------------------------------------

std::string text(const Lines& lines) { return join_lines(lines); }

Lines with(Lines l, std::size_t i, const std::string& line) {
  l.at(i) = line;
  return l;
}

Lines inserted(Lines l, std::size_t at, const Lines& more) {
  l.insert(l.begin() + static_cast<long>(at), more.begin(), more.end());
  return l;
}

// Silicon, synchrotron radiation (a run of a tenth of a second), with an orientation
// matrix and line 12 naming a measured-scan file.
Lines si_with_scan(const std::string& scan) {
  Lines l = si_lines();
  l.insert(l.end(), {"0.18 0 0", "0 0.18 0", "0 0 0.18", scan});
  return l;
}

// Bytes of no text at all, the same in every run.
std::string garbage(std::size_t n, std::uint32_t seed) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    seed = seed * 1664525u + 1013904223u;
    s += static_cast<char>(seed >> 24);
  }
  return s;
}

// A plot file kaven wrote, an SVG page, a calculated scan: made by an earlier run.
void earlier_si_run(const fs::path& dir, const fs::path& logs) {
  write_lines(dir / "first.inp", si_lines());
  EXPECT_EQ(run_kaven(dir, logs, {"first.inp"}).status, 0);
  fs::remove(dir / "first.inp");
  fs::remove(dir / "first.out");
}

struct Case {
  std::string name;
  std::string input;                   // written to run.inp (unless args name another)
  std::string message;                 // a line of standard error, after "kaven: "
  int status;
  std::set<std::string> files;         // what the folder holds afterwards
  std::vector<std::string> args = {"run.inp"};
  // Files made before the run (in the run folder, or "../name" beside it); their
  // contents must be unchanged afterwards unless the run may replace them.
  std::map<std::string, std::string> before = {};
  std::function<void(const fs::path&, const fs::path&)> setup = nullptr;
  bool write_input = true;       // false: the command line names no run.inp
  bool replaces_earlier = false;  // the folder holds kaven's own outputs, which it replaces
};

const std::string kForeign = "measurements of 12 May, not to be lost\n";
const std::set<std::string> kSiComplete = {"run.inp", "run.out", "si222.ps", "si222.svg",
                                           "si222.cal"};

std::vector<Case> catalogue() {
  const Lines yig = yig_lines(), si = si_lines();
  std::vector<Case> c;
  // A run that stops leaves its listing and no plot file: the page is renamed over the
  // plot file's name only when it is drawn whole.
  auto stops_at = [](const std::string&) { return std::set<std::string>{"run.inp", "run.out"}; };

  // ---- files that are no input --------------------------------------------------
  c.push_back({"empty file", "", "read-error in the first line of the input-file", 3,
               {"run.inp", "run.out"}});
  c.push_back({"binary garbage", "\x7f" "ELF\x02\x01\x01\n\x00\x01\x02kaven\x03\n" + garbage(4096, 7),
               "read-error in the second line of the input-file", 1, {"run.inp", "run.out"}});
  c.push_back({"binary garbage after the plot-file name",
               "title\ng.ps\n" + garbage(4096, 11), "read-error in the third line of the input-file",
               1, stops_at("g.ps")});

  // ---- long lines and repeat counts ----------------------------------------------
  {
    Lines l = si;
    l[0] = std::string(100000, 'T');
    std::string cell = l[2] + " ";
    while (cell.size() < 100000) cell += "1 ";
    l[2] = cell;
    c.push_back({"100 000-character title and cell lines", text(l), "run complete", 0, kSiComplete});
    c.back().message = "";  // a complete run writes no message
    c.push_back({"100 000-character plot-file name", text(with(si, 1, std::string(100000, 'p'))),
                 "( the plot-file name is longer than 72 characters )", 1, {"run.inp", "run.out"}});
    c.push_back({"plot-file name of 73 characters", text(with(si, 1, std::string(70, 'p') + ".ps")),
                 "( the plot-file name is longer than 72 characters )", 1, {"run.inp", "run.out"}});
    c.push_back({"a line of two million characters",
                 text(with(si, 2, std::string(2000000, '5'))),
                 "read-error in the third line of the input-file", 1, stops_at("si222.ps")});
  }
  c.push_back({"repeat count 2147483647 on the cell line", text(with(yig, 2, "2147483647*1")),
               "The wavelength is to large", 3, stops_at("yig.ps")});
  c.push_back({"repeat count 100000000 on the cell line of YIG",
               text(with(yig, 2, "100000000*12.38")), "", 0,
               {"run.inp", "run.out", "yig.ps", "yig.svg", "yig.cal"}});
  c.push_back({"repeat count 2147483647 for the betas", text(with(si, 9, "2147483647*0.")), "", 0,
               kSiComplete});

  // ---- counts, sizes and limits -----------------------------------------------------
  c.push_back({"element count 16777216 the file does not hold", text(with(yig, 6, "230 4 16777216")),
               "read-error in the chemical symbol lines of the input-file", 1, stops_at("yig.ps")});
  c.push_back({"atom count 2000000000 the file does not hold", text(with(si, 6, "2 2000000000 1")),
               "read-error in the atom parameter lines of the input-file", 3, stops_at("si222.ps")});
  c.push_back({"negative atom count", text(with(yig, 6, "230 -4 3")),
               "( the numbers of atoms na and of element lines nf must not be negative )", 1,
               stops_at("yig.ps")});
  c.push_back({"negative element count", text(with(yig, 6, "230 4 -3")),
               "read-error in the seventh line of the input-file", 1, stops_at("yig.ps")});
  c.push_back({"space-group number 0", text(with(yig, 6, "0 4 3")),
               "( the space-group number nr must be at least 1 )", 1, stops_at("yig.ps")});
  c.push_back({"nr 231 with ns 0", text(inserted(with(yig, 6, "231 4 3"), 7, {"1 0"})),
               "The number of symmetry lines must be at least 1 (the identity)", 3, stops_at("yig.ps")});
  {
    Lines ops{"2 25"};
    for (int i = 0; i < 25; ++i) ops.push_back("0. 1 0 0  0. 0 1 0  0. 0 0 1");
    c.push_back({"nr 231 with ns 25", text(inserted(with(yig, 6, "231 4 3"), 7, ops)),
                 "The number of symmetry lines is to large", 3, stops_at("yig.ps")});
  }
  c.push_back({"ic neither 1 nor 2", text(inserted(with(yig, 6, "231 4 3"), 7, {"0 1", "0. 1 0 0  0. 0 1 0  0. 0 0 1"})),
               "( ic must be 1, centrosymmetric, or 2, acentric )", 1, stops_at("yig.ps")});
  c.push_back({"monochromator reflection 46341 1 1", text(with(si, 3, "1 0.5612  5.43 46341 1 1 58.19")),
               "The monochromator reflection cannot be reached with this wavelength:", 3,
               stops_at("si222.ps")});
  c.push_back({"a cell of 1e9 Angstrom", text(with(yig, 2, "1e9 1e9 1e9 90 90 90")),
               "The cell is too large for the event search: the index limits", 3, stops_at("yig.ps")});
  c.push_back({"a long thin cell", text(with(with(yig, 2, "5e8 0.1 0.1 90 90 90"), 18, "1 0 0 0 0 -24.5 -23.5")),
               "The cell is too large for the event search: the index limits", 3, stops_at("yig.ps")});
  c.push_back({"primary indices at the integer limits",
               text(with(si, 16, "-2147483648 2147483647 -2147483648  1.5  0. 176.0 176.1")),
               "the primary reflection is outside of the Ewald-sphere !!", 3, stops_at("si222.ps")});
  c.push_back({"psie below psia", text(with(si, 5, "179. 176. 1000. 8  1. 0.")),
               "The psi range is empty: psie is smaller than psia on the sixth input line.", 3,
               stops_at("si222.ps")});
  c.push_back({"zsw1 = 0", text(with(si, 5, "176. 179. 0. 8  1. 0.")),
               "The number of steps per degree zsw1 on the sixth input line must not be 0.", 3,
               stops_at("si222.ps")});
  c.push_back({"a step count beyond 5e7", text(with(si, 5, "0. 360. 1e6 8  1. 0.")),
               "Number of steps = (psie - psia)*zsw is to large", 3, stops_at("si222.ps")});
  for (const char* cell : {"0 5.4309 5.4309 90 90 90", "-5.4309 5.4309 5.4309 90 90 90",
                           "5.4309 5.4309 5.4309 60 60 120", "5.4309 5.4309 5.4309 90 90 180",
                           "5.4309 5.4309 5.4309 0 0 0"})
    c.push_back({std::string("degenerate cell ") + cell, text(with(si, 2, cell)),
                 "The cell constants give no cell volume: check your input!", 3, stops_at("si222.ps")});
  c.push_back({"crystal radius 0", text(with(si, 4, "0.005  0.01  0.  20.  0.001")),
               "The crystal radius must be positive: check your input!", 3, stops_at("si222.ps")});
  c.push_back({"negative block radius", text(with(si, 4, "0.005  0.01  250.  -20.  0.001")),
               "The mosaic-block radius must be positive: check your input!", 3, stops_at("si222.ps")});
  c.push_back({"negative mosaic spread", text(with(si, 4, "0.005  0.01  250.  20.  -0.001")),
               "The divergences and the mosaic spread must not be negative: check your input!", 3,
               stops_at("si222.ps")});
  c.push_back({"wavelength 0", text(with(si, 3, "1 0.  5.43 1 1 1 58.19")),
               "The wavelength must be positive: check your input!", 3, stops_at("si222.ps")});

  // ---- operators given explicitly: P-1 as the reference, then sets that are no group
  {
    const std::string id = "0. 1 0 0  0. 0 1 0  0. 0 0 1";
    auto ops = [&](const Lines& set) { return text(inserted(with(si, 6, "231 4 1"), 7, set)); };
    c.push_back({"explicit operators of P-1", ops({"1 1", id}), "", 0, kSiComplete});
    c.push_back({"an operator whose rotation is all zero", ops({"1 2", id, "0. 0 0 0  0. 0 0 0  0. 0 0 0"}),
                 "( the rotation of symmetry operator 2 is all zero: no symmetry operation )", 1,
                 stops_at("si222.ps")});
    const std::string warning = "Warning: symmetry operator ";
    c.push_back({"an operator of determinant 2", ops({"1 2", id, "0. 2 0 0  0. 0 1 0  0. 0 0 1"}),
                 warning + "2: the determinant of its rotation is 2, not +1 or -1", 0, kSiComplete});
    c.push_back({"an operator with the entry 0.5", ops({"1 2", id, "0. 0.5 0 0  0. 0 1 0  0. 0 0 1"}),
                 warning + "2: the rotation entry 0.5 is not a whole number", 0, kSiComplete});
    c.push_back({"a set without the identity", ops({"1 1", "0. -1 0 0  0. 0 -1 0  0. 0 0 1"}),
                 "Warning: the identity x, y, z is not among the symmetry operators", 0, kSiComplete});
    c.push_back({"a set that is not closed", ops({"1 2", id, "0. 0 -1 0  0. 1 0 0  0. 0 0 1"}),
                 "Warning: the symmetry operators do not form a group: symmetry operator 2 followed by "
                 "symmetry operator 2 is none of them",
                 0, kSiComplete});
    c.push_back({"the identity three times", ops({"2 3", id, id, id}),
                 warning + "3 repeats symmetry operator 2: its atoms are counted twice", 0, kSiComplete});
    c.push_back({"an operator and its inverse through the origin with ic = 1",
                 ops({"1 2", id, "0. -1 0 0  0. 0 -1 0  0. 0 0 -1"}),
                 warning + "2 is symmetry operator 1 times the inversion, which ic = 1 adds already: "
                           "its atoms are counted twice",
                 0, kSiComplete});
  }

  // ---- atoms no crystal has: said, and the run goes on
  c.push_back({"a negative occupancy multiplier", text(with(si, 8, "   1  -1.  0.125  0.125  0.125")),
               "Note: atom 1 (Siva): the occupancy multiplier -1 is negative", 0, kSiComplete});
  c.push_back({"an occupancy multiplier of 1.5", text(with(si, 10, "   1  1.5  0.125  0.625  0.625")),
               "Note: atom 2 (Siva): the occupancy multiplier 1.5 puts more than one atom on a general "
               "position",
               0, kSiComplete});
  c.push_back({"a negative beta", text(with(si, 13, "0.0039  -0.0039  0.0039  0.  0.  0.")),
               "Note: atom 3 (Siva): U22 = -0.00582745 A**2 (beta22 = -0.0039) is negative", 0,
               kSiComplete});
  c.push_back({"a beta of 1e30", text(with(si, 15, "1e30  0.0039  0.0039  0.  0.  0.")),
               "Note: atom 4 (Siva): U11 = 1.49422e+30 A**2 (beta11 = 1e+30) is beyond 1 A**2", 0,
               kSiComplete});
  // Every intensity grows with the crystal: a radius of 1e30 um fills the listing
  // beyond its 600 events, and the stop names the radius, not drumin.
  c.push_back({"a crystal radius of 1e30 um",
               text(with(with(si, 4, "0.005  0.01  1e30  20.  0.001"), 5, "0. 360. 10. 8  1. 0.")),
               "the crystal radius of 1.0E+30 muemeter on the fifth input line makes every "
               "intensity that large: check it!",
               3, stops_at("si222.ps")});

  // ---- files the input names ------------------------------------------------------
  c.push_back({"plot file is the input file", text(with(si, 1, "run.inp")),
               "is the input file of this run:", 1, {"run.inp", "run.out"}});
  c.push_back({"plot file beside the folder, not kaven's", text(with(si, 1, "../outside.ps")),
               "exists and is not a PostScript plot written by kaven:", 1, {"run.inp", "run.out"}});
  c.back().before = {{"../outside.ps", kForeign}};
  c.push_back({"plot file a folder", text(with(si, 1, "plots")), "is a folder, not a file:", 1,
               {"run.inp", "run.out", "plots"}});
  c.back().setup = [](const fs::path& d, const fs::path&) { fs::create_directory(d / "plots"); };
  c.push_back({"plot file with control characters", text(with(si, 1, "a\x01.ps")),
               "( the plot-file name holds control characters )", 1, {"run.inp", "run.out"}});
  c.push_back({"scan file is the plot file", text(si_with_scan("si222.ps")),
               "is the plot file of this run:", 1, stops_at("si222.ps")});
  c.push_back({"scan file named .cal is the calculated-scan file", text(si_with_scan("meas.cal")),
               "is the measured-scan file of this run:", 1,
               {"run.inp", "run.out", "meas.cal"}});
  c.back().before = {{"meas.cal", kForeign}};
  c.push_back({"scan-file name of 80 characters", text(si_with_scan(std::string(76, 'm') + ".dat")),
               "( the measured-scan file name is longer than 72 characters )", 1, stops_at("si222.ps")});
  c.push_back({"a calculated-scan file kaven did not write", text(si),
               "exists and is not a calculated scan written by kaven:", 1,
               {"run.inp", "run.out", "si222.cal"}});
  c.back().before = {{"si222.cal", kForeign}};
  c.push_back({"an SVG page kaven did not write", text(si),
               "( it exists and is not an SVG plot written by kaven )", 0, kSiComplete});
  c.back().before = {{"si222.svg", kForeign}};
  c.push_back({"kaven's own outputs of an earlier run are replaced", text(si), "", 0, kSiComplete});
  c.back().setup = earlier_si_run;
  c.back().replaces_earlier = true;
  {
    std::string obs = "2147483647*1\n" + std::string(2000000, '7') + "\nNaN 1 1 1 1 1\n" +
                      garbage(2000, 5) + "\n1 1 1 1e39 1 1\n";
    // (the repeated line is a reference reflection 1 1 1 of 1 cps: a scale so small that
    // no event reaches drumin, and no plot is drawn)
    c.push_back({"a measured scan of garbage", text(si_with_scan("meas.obs")),
                 "no step of the primary reflection in the psi range in meas.obs; the run goes on "
                 "without a measured scan",
                 0, {"run.inp", "run.out", "meas.obs", "meas.cal"}});
    c.back().before = {{"meas.obs", obs}};
  }

  // ---- files the command line names ---------------------------------------------------
  c.push_back({"OUTPUT is INPUT", text(si), "run.inp is the input file of this run: nothing written",
               1, {"run.inp"}, {"run.inp", "run.inp"}});
  c.push_back({"an input named .out without OUTPUT", "", "run.out is the input file of this run: nothing written",
               1, {"run.out"}, {"run.out"}});
  c.back().before = {{"run.out", text(si)}};
  c.back().write_input = false;
  c.push_back({"a folder as input", "", "somedir/ is a folder, not a file: nothing written", 1,
               {"somedir"}, {"somedir/"}});
  c.back().write_input = false;
  c.back().setup = [](const fs::path& d, const fs::path&) { fs::create_directory(d / "somedir"); };
  // Devices and pipes that never end a line: refused before they are read.
  c.push_back({"a device as input", "", "/dev/zero is not a regular file: nothing written", 1,
               {}, {"/dev/zero", "run.out"}});
  c.back().write_input = false;
  c.push_back({"a pipe as input", "", "fifo is not a regular file: nothing written", 1,
               {"fifo"}, {"fifo", "run.out"}});
  c.back().write_input = false;
  c.back().setup = [](const fs::path& d, const fs::path&) { mkfifo((d / "fifo").c_str(), 0644); };
  c.push_back({"a device as measured scan", text(si_with_scan("/dev/zero")),
               "is not a regular file:", 1, stops_at("si222.ps")});
  c.push_back({"OUTPUT is a measured scan", text(si_with_scan("meas.dat")),
               "meas.dat exists and is not a listing written by kaven: nothing written", 1,
               {"run.inp", "meas.dat"}, {"run.inp", "meas.dat"}});
  c.back().before = {{"meas.dat", kForeign}};
  c.push_back({"the summary would be the listing", text(si),
               "run.json is the print-output file of this run: nothing written", 1, {"run.inp"},
               {"run.inp", "run.json", "--json"}});
  return c;
}

// ---- conversions from a CIF ------------------------------------------------------------

// What must still be refused when a CIF becomes an input file: structures that are no
// crystal, text that is no CIF, option values that mean nothing (status 2, before the CIF
// is read) and names of files that may not be replaced. Nothing is written.
std::vector<Case> cif_conversions() {
  const std::string nacl = file_text(source_path("tests/data/cif/nacl.cif"));
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string t = nacl;
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  auto convert = [](std::vector<std::string> more) {
    std::vector<std::string> a = {"--from-cif", "s.cif", "--hkl", "2", "0", "0"};
    if (std::find(more.begin(), more.end(), "--synchrotron") == more.end()) more.insert(more.begin(), {"--radiation", "Cu"});
    a.insert(a.end(), more.begin(), more.end());
    if (std::find(a.begin(), a.end(), "-o") == a.end()) a.insert(a.end(), {"-o", "new.inp"});
    return a;
  };
  auto cif_case = [&](const std::string& name, const std::string& cif, const std::string& message, int status,
                      std::vector<std::string> more = {}) {
    Case k{name, "", message, status, {"s.cif"}, convert(std::move(more))};
    k.before = {{"s.cif", cif}};
    k.write_input = false;
    return k;
  };
  const std::string refused = "; no input file written";
  std::vector<Case> c;
  c.push_back(cif_case("CIF without a cell", replaced("_cell_length_c 5.6402\n", ""),
                       "s.cif: the CIF gives no cell: _cell_length_c is missing" + refused, 1));
  c.push_back(cif_case("CIF with a flat cell", replaced("_cell_angle_gamma 90", "_cell_angle_gamma 179.9999"),
                       "s.cif: the cell constants give no cell volume" + refused, 1));
  c.push_back(cif_case("CIF without atoms", nacl.substr(0, nacl.find("loop_")),
                       "s.cif: the CIF holds no atom sites with fractional coordinates (_atom_site_fract_x)" +
                           refused, 1));
  c.push_back(cif_case("CIF whose operators are no group",
                       replaced("loop_", "loop_\n_symmetry_equiv_pos_as_xyz\nx,y,z\n'x+y,y,z'\nloop_"),
                       "s.cif: the symmetry operators (the operators of _symmetry_equiv_pos_as_xyz) do not "
                       "form a space group" + refused, 1));
  c.push_back(cif_case("CIF with an unknown space-group symbol", replaced("'F m -3 m'", "'F q -3 m'"),
                       "s.cif: the space-group symbol 'F q -3 m' is not known" + refused, 1));
  c.push_back(cif_case("CIF with an unterminated quote", replaced("'Cl Na'", "'Cl Na"),
                       "s.cif: cannot read the CIF: line 7, column 23: the value opened by ' is not closed on "
                       "its line (a quote closes a value only where a blank or the end of the line follows "
                       "it)" + refused, 1));
  c.push_back(cif_case("CIF with a loop missing a value", replaced(" 0.0152 1\n", " 0.0152\n"),
                       "s.cif: cannot read the CIF: line 15: the loop of 7 tags (_atom_site_label, "
                       "_atom_site_type_symbol, _atom_site_fract_x, ...) holds 13 values, which do not fill "
                       "its rows: a value is missing or one too many (a value of several words belongs in "
                       "quotes)" + refused, 1));
  c.push_back(cif_case("CIF with a non-ASCII tag", replaced("_cell_angle_beta", "_cell_angle_\xCE\xB2"),
                       "s.cif: cannot read the CIF: line 12, column 13: the character '\xCE\xB2' cannot stand in "
                       "a tag, a block name or an unquoted value (a CIF 1.1 file holds other than ASCII "
                       "characters only in quoted values, text fields and comments)" + refused, 1));
  c.push_back(cif_case("CIF of binary garbage", "\x7f" "ELF\x02\x01\x01\n" + garbage(4096, 3),
                       "s.cif: cannot read the CIF: line 1, column 1: 'U+007FELFU+0002U+0001U+0001' stands "
                       "where the first data block should begin (a line data_NAME)" + refused, 1));
  c.push_back(cif_case("CIF with a negative occupancy", replaced("0.0203 1", "0.0203 -1"),
                       "s.cif: atom site 'Na1': the occupancy -1 is negative" + refused, 1));
  c.push_back(cif_case("CIF with U = 1e30", replaced("0.0203 1", "1e30 1"),
                       "s.cif: atom site 'Na1': U_iso = 1e+30 Å^2 is beyond any thermal motion (at most 1 "
                       "Å^2, an rms displacement of 1 Å)" + refused, 1));
  c.push_back(cif_case("CIF block that is not there", nacl,
                       "s.cif: the file holds no data block named 'KCl' (its blocks: NaCl)" + refused, 1,
                       {"--block", "KCl"}));
  // option values that mean nothing
  c.push_back(cif_case("--wavelength nan", nacl, "--wavelength: the wavelength nan is not a positive number of Å", 2,
                       {"--wavelength", "nan", "--synchrotron"}));
  c.push_back(cif_case("--title with a line break", nacl,
                       "--title: the title holds control characters (a line break would end its line)", 2,
                       {"--title", "two\nlines"}));
  c.push_back(cif_case("--zeimax nan", nacl, "--zeimax: the plot maximum zeimax nan is neither 0 (automatic) nor a positive number of cps", 2,
                       {"--zeimax", "nan"}));
  c.push_back(cif_case("--block-radius inf", nacl, "--block-radius: the mosaic-block radius inf is not a positive number of µm",
                       2, {"--block-radius", "inf"}));
  c.push_back(cif_case("--plot naming a folder", nacl, "--plot: the plot-file name 'plots/' names a folder, not a file", 2,
                       {"--plot", "plots/"}));
  // files that may not be written
  c.push_back(cif_case("-o /dev/null", nacl, "/dev/null is not a regular file" + refused, 1, {"-o", "/dev/null"}));
  c.push_back(cif_case("-o a folder", nacl, "plots is a folder, not a file" + refused, 1, {"-o", "plots"}));
  c.back().setup = [](const fs::path& d, const fs::path&) { fs::create_directory(d / "plots"); };
  c.back().files = {"s.cif", "plots"};
  c.push_back(cif_case("-o the CIF", nacl, "s.cif is the CIF itself" + refused, 1, {"-o", "s.cif"}));
  c.push_back(cif_case("-o a file kaven did not write", nacl,
                       "precious.txt exists and is not an input file written by kaven (or it was changed "
                       "since)" + refused, 1, {"-o", "precious.txt"}));
  c.back().before["precious.txt"] = kForeign;
  c.back().files = {"s.cif", "precious.txt"};
  c.push_back(cif_case("-o a hand-written input", nacl,
                       "run.inp exists and is not an input file written by kaven (or it was changed since)" +
                           refused, 1, {"-o", "run.inp"}));
  c.back().before["run.inp"] = text(si_lines());
  c.back().files = {"s.cif", "run.inp"};
  c.push_back(cif_case("-o the plot file it names", nacl, "new.ps is also the plot file the input names" + refused,
                       1, {"-o", "new.ps", "--plot", "new.ps"}));
  return c;
}

// NaN, infinity and a value beyond single precision in every numeric field of the
// example inputs: the read error of that line, before anything but the plot file.
struct Field {
  Lines lines;
  std::size_t line;
  std::string which;  // the read-error text
  std::string plot;
};

std::vector<Case> non_numbers() {
  const Lines yig = yig_lines(), si = si_lines();
  std::vector<std::pair<Lines, std::string>> bases;  // input and its plot file
  std::vector<Field> fields;
  auto free_line = [&](const Lines& l, std::size_t i, const std::string& which, const std::string& plot) {
    fields.push_back({l, i, which, plot});
  };
  free_line(yig, 2, "third line", "yig.ps");
  free_line(si, 3, "fourth line", "si222.ps");
  free_line(with(yig, 3, "1.54 0.0003 1.0 1.2 0.0004 0.5"), 3, "fourth line", "yig.ps");
  free_line(yig, 4, "fifth line", "yig.ps");
  free_line(yig, 5, "sixth line", "yig.ps");
  free_line(yig, 6, "seventh line", "yig.ps");
  for (std::size_t i = 10; i <= 17; ++i) free_line(yig, i, "atom parameter lines", "yig.ps");
  free_line(yig, 18, "primary reflection line", "yig.ps");
  for (std::size_t i = 19; i <= 21; ++i) free_line(yig, i, "ub-matrix lines", "yig.ps");
  const Lines ops = inserted(with(yig, 6, "231 4 3"), 7, {"2 1", "0. 1 0 0  0. 0 1 0  0. 0 0 1"});
  free_line(ops, 7, "symmetry information lines", "yig.ps");
  free_line(ops, 8, "symmetry information lines", "yig.ps");

  std::vector<Case> c;
  for (const Field& f : fields) {
    std::istringstream is(f.lines[f.line]);
    std::vector<std::string> tokens;
    for (std::string t; is >> t;) tokens.push_back(t);
    for (std::size_t t = 0; t < tokens.size(); ++t)
      for (const char* bad : {"NaN", "-Infinity", "1e39"}) {
        std::vector<std::string> v = tokens;
        v[t] = bad;
        std::string line;
        for (const std::string& s : v) line += s + "  ";
        c.push_back({"line " + std::to_string(f.line + 1) + " value " + std::to_string(t + 1) + " " + bad,
                     text(with(f.lines, f.line, line)),
                     "read-error in the " + f.which + " of the input-file", 1,
                     {"run.inp", "run.out"}});
      }
  }
  // f' and f'' of an element line: columns 5-14 and 15-24
  // (1e39 without a decimal point has four implied decimals: 1e35, a number)
  for (const char* bad : {"       NaN", " -Infinity", "    1.0e39"})
    for (int col : {0, 1}) {
      const std::string line = col == 0 ? std::string("Fe3+") + bad : std::string("Fe3+") + std::string(10, ' ') + bad;
      c.push_back({std::string("element line column ") + (col ? "fpp " : "fp ") + bad,
                   text(with(yig, 8, line)), "read-error in the chemical symbol lines of the input-file",
                   1, {"run.inp", "run.out"}});
    }
  return c;
}

void check(const Case& k) {
  SCOPED_TRACE(k.name);
  ScratchDir scratch;
  const fs::path dir = scratch.path() / "work", logs = scratch.path() / "logs";
  fs::create_directories(dir);
  fs::create_directories(logs);
  if (k.write_input) {
    std::ofstream os(dir / "run.inp", std::ios::binary);
    os << k.input;
  }
  for (const auto& [name, content] : k.before) {
    std::ofstream os(dir / name, std::ios::binary);
    os << content;
  }
  if (k.setup) k.setup(dir, logs);
  std::map<std::string, std::string> kept;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.is_regular_file()) kept[e.path().filename().string()] = file_text(e.path());
  for (const auto& [name, content] : k.before) kept[name] = content;

  const Ran r = run_kaven(dir, logs, k.args);
  EXPECT_EQ(r.status, k.status);
  if (k.message.empty()) {
    EXPECT_TRUE(r.err.empty()) << join_lines(r.err);
  } else {
    EXPECT_TRUE(contains(r.err, "kaven: " + k.message)) << join_lines(r.err);
  }
  EXPECT_EQ(folder_entries(dir), k.files);
  // Nothing the folder held before is changed, unless it is kaven's own earlier output.
  for (const auto& [name, content] : kept) {
    if (!k.replaces_earlier || name == "run.inp") {
      EXPECT_EQ(file_text(dir / name), content) << name << " changed";
    }
  }
  // No unchecked hang or hunger: a second of processor time, 100 MB (without the
  // sanitizers, whose shadow memory and checks take their own share).
  EXPECT_LT(r.cpu_s, kSanitized ? 20.0 : 1.0);
  if (!kSanitized) {
    EXPECT_LT(r.max_rss_kb, 100 * 1024);
  }
}

}  // namespace

TEST(BadInputs, EveryCaseEndsWithItsMessageStatusAndFiles) {
  setenv("SOURCE_DATE_EPOCH", kEpoch, 1);
  for (const Case& k : catalogue()) check(k);
}

TEST(BadInputs, ConversionsFromCifsRefuseWhatCannotBeACrystalOrMayNotBeWritten) {
  for (const Case& k : cif_conversions()) check(k);
}

TEST(BadInputs, NonNumbersInEveryNumericFieldAreReadErrorsOfTheirLine) {
  setenv("SOURCE_DATE_EPOCH", kEpoch, 1);
  const std::vector<Case> cases = non_numbers();
  EXPECT_GT(cases.size(), 300u);
  // Three non-numbers per field; under the sanitizers one of them per field, in turn.
  for (std::size_t i = 0; i < cases.size(); ++i)
    if (!kSanitized || i % 3 == (i / 3) % 3) check(cases[i]);
}
