// The desktop shell on a scripted window: start-up, every command, and the run cycle
// branch by branch (dialogs cancelled, files that cannot be opened, the error report,
// a stopped run, a complete run with and without a viewer), compared as the whole
// sequence of window operations where the order matters.
//
// Runs either go through the real run driver on the example inputs (the reports of
// errors and stops) or through a stand-in that returns a prepared outcome (complete
// runs, failures the driver cannot be made to produce on purpose).
#include "gui/shell.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "gui/cif_command.hpp"
#include "gui/input_help.hpp"
#include "gui/scripted_window_layer.hpp"
#include "report/record_format.hpp"
#include "run_fixture.hpp"

using namespace kaven_test;
using kaven::gui::menu_id::edit_input;
using kaven::gui::menu_id::edit_output;
using kaven::gui::menu_id::help;
using kaven::gui::menu_id::start;
using kaven::gui::menu_id::viewer;
using kaven::gui::menu_id::open_cif;
namespace gui = kaven::gui;

namespace {

const char* const kInputDialog = "dialog inut file | Input file|*.inp;*.in;*.ein;*.txt| mode 2";
const char* const kOutputDialog = "dialog Print-output file | Output file|*.out;*.aus| mode 2";

// The menu operations of a run: every command disabled in order, then enabled again
// (the viewer only when there is one); the commands of the CIF, the energy map and the
// analysis after the six.
Lines disable_all() {
  return {"menu 30002 1 0", "menu 30004 1 0", "menu 30005 1 0", "menu 30006 1 0",
          "menu 30007 1 0", "menu 30003 1 0", "menu 30008 1 0", "menu 30009 1 0",
          "menu 30010 1 0", "menu 30011 1 0"};
}
Lines enable_all(bool with_viewer) {
  Lines l = {"menu 30002 1 1", "menu 30004 1 1", "menu 30005 1 1"};
  if (with_viewer) l.push_back("menu 30006 1 1");
  l.insert(l.end(), {"menu 30007 1 1", "menu 30003 1 1", "menu 30008 1 1", "menu 30009 1 1",
                     "menu 30010 1 1", "menu 30011 1 1"});
  return l;
}

Lines operator+(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The log from the first line that starts with `from` up to (without) the first later
// line that starts with `to`.
Lines section(const Lines& log, const std::string& from, const std::string& to) {
  std::size_t b = find_prefix(log, from);
  std::size_t e = find_prefix(log, to, b + 1);
  return Lines(log.begin() + static_cast<long>(std::min(b, log.size())),
               log.begin() + static_cast<long>(std::min(e, log.size())));
}

void make_executable(const fs::path& p) {
  std::ofstream(p) << "#!/bin/sh\nexit 0\n";
  chmod(p.c_str(), 0755);
}

std::string file_text(const fs::path& p) {
  std::ifstream is(p, std::ios::binary);
  std::ostringstream ss;
  ss << is.rdbuf();
  return ss.str();
}

gui::WindowMessage command(int id) { return {gui::message_kind::menu, id}; }

// What a stand-in run saw when it was called.
struct SeenRun {
  kaven::RunNames names;
  float psid = 0;
  fs::path base_dir;
  bool cancel_given = false;
};

// A shell on a scripted window, in a scratch folder holding copies of the example
// inputs. The environment has no viewer and no terminal unless a test says so.
struct ShellRig {
  ScratchDir dir;
  gui::ScriptedWindowLayer layer;
  gui::ScriptedPrograms programs;
  gui::ShellEnvironment env;
  gui::RunFunction run_function = &kaven::kaven;

  ShellRig() {
    setenv("SOURCE_DATE_EPOCH", kEpoch, 1);
    env.path = (dir.path() / "bin").string();
    env.help_dir = dir.path();
    env.threads = 1;
    fs::create_directory(dir.path() / "bin");
  }
  fs::path path(const std::string& name) const { return dir.path() / name; }
  std::string input(const std::string& name, const Lines& lines) const {
    write_lines(path(name), lines);
    return path(name).string();
  }
  void add_viewer(const std::string& name) { make_executable(dir.path() / "bin" / name); }

  void script(std::initializer_list<gui::WindowMessage> messages,
              std::initializer_list<std::optional<std::string>> answers) {
    layer.messages.assign(messages);
    layer.dialog_answers.assign(answers);
  }
  // Start-up, the scripted commands, the close; the log after the start-up.
  Lines play() {
    gui::Shell shell(layer, programs, env, run_function);
    EXPECT_EQ(shell.run(), 0);
    names = shell.run_names();
    input_name = shell.input_name();
    output_name = shell.output_name();
    std::size_t b = find_prefix(layer.log, "message");
    return Lines(layer.log.begin() + static_cast<long>(std::min(b, layer.log.size())),
                 layer.log.end());
  }
  kaven::RunNames names;
  std::string input_name, output_name;
};

}  // namespace

TEST(Shell, StartUpOpensTheWindowAndLooksForAViewerOnce) {
  struct Case {
    std::vector<std::string> installed;  // viewers in the PATH folder
    Lines expected;
    std::string viewer;
  };
  const Case cases[] = {
      {{},
       {"initialise ' '", "open kaven-99 menu 30001 colours 16", "menu 30006 1 0",
        "status searching for evince, okular, zathura, atril, gv",
        "status evince, okular, zathura, atril, gv not found on PATH", "message 9 0", "close"},
       ""},
      // The first of the names in their order wins, whatever else is installed.
      {{"gv", "okular"},
       {"initialise ' '", "open kaven-99 menu 30001 colours 16", "menu 30006 1 0",
        "status searching for evince, okular, zathura, atril, gv", "menu 30006 1 1",
        "status okular found", "message 9 0", "close"},
       "okular"},
  };
  for (const Case& c : cases) {
    ShellRig rig;
    for (const std::string& v : c.installed) rig.add_viewer(v);
    gui::Shell shell(rig.layer, rig.programs, rig.env);
    shell.run();
    EXPECT_EQ(rig.layer.log, c.expected);
    EXPECT_EQ(shell.viewer_path(),
              c.viewer.empty() ? std::string() : (rig.dir.path() / "bin" / c.viewer).string());
    EXPECT_TRUE(rig.layer.closed);
  }
  // The window as it was opened: style values and the six commands in their order.
  ShellRig rig;
  rig.play();
  const gui::WindowStyle& s = rig.layer.style;
  EXPECT_EQ(std::vector<int>({s.flags, s.left, s.top, s.width, s.height, s.menu}),
            std::vector<int>({39, 10, 10, 0, 250, 30001}));
  EXPECT_EQ(s.title, padded("kaven-99", 80));
  EXPECT_EQ(rig.layer.menu_order,
            std::vector<int>({30002, 30008, 30009, 30010, 30011, 30006, 30004, 30007, 30005, 30003}));
  std::vector<std::string> captions;
  for (const gui::MenuItem& item : gui::menu_resource(30001)) captions.push_back(item.caption);
  EXPECT_EQ(captions, (std::vector<std::string>{"&Start KAVEN-99", "Open &CIF", "Energy &map...",
                                                "&Fit measured scan...", "&Index peaks", "&Ghostview",
                                                "&Edit input-file", "&Help input-file",
                                                "&Edit output-file", "&Exit"}));
  EXPECT_TRUE(gui::menu_resource(30000).empty());
}

TEST(Shell, MessageLoopEndsOnExitOrCloseAndIgnoresOtherMessages) {
  ShellRig rig;
  rig.script({{5, 30002}, command(29999), command(30099), command(30003), command(start)}, {});
  EXPECT_EQ(rig.play(), (Lines{"message 5 30002", "message 2 29999", "message 2 30099",
                               "message 2 30003", "close"}));
  EXPECT_EQ(rig.layer.messages.size(), 1u);  // nothing was read after the exit
}

TEST(Shell, CancelledDialogsLeaveEverythingAsItWas) {
  ShellRig rig;
  const std::string inp = rig.input("yig.inp", yig_lines());
  const Lines yig = yig_lines();
  const std::string psi_stop = rig.input("psi.inp", Lines(yig.begin(), yig.begin() + 6));
  // One run that stops, then the input dialog cancelled, then the output dialog.
  rig.script({command(start), command(start), command(start)},
             {psi_stop, rig.path("a.out").string(), std::nullopt, inp, std::nullopt});
  const Lines log = rig.play();
  std::size_t second = find_prefix(log, "message 2 30002", 1);
  EXPECT_EQ(Lines(log.begin() + static_cast<long>(second), log.end()),
            (Lines{"message 2 30002", "clear", std::string(kInputDialog) + " cancelled",
                   "message 2 30002", "clear", std::string(kInputDialog) + " -> " + inp,
                   "text 100 2000 Intput file: " + inp,
                   std::string(kOutputDialog) + " cancelled", "message 9 0", "close"}));
  // The menu was never disabled by the cancelled cycles, and the names stay those of
  // the chosen files (the input name of the last confirmed dialog).
  for (const auto& [id, on] : rig.layer.enabled) EXPECT_EQ(on, id != viewer) << id;
  EXPECT_EQ(rig.input_name, inp);
  EXPECT_EQ(rig.output_name, rig.path("a.out").string());
}

TEST(Shell, FilesThatCannotBeOpenedAreSaidAndTheProgramStaysUsable) {
  ShellRig rig;
  const std::string inp = rig.input("yig.inp", yig_lines());
  const std::string gone = rig.path("vanished.inp").string();
  const std::string folder = rig.dir.path().string();  // a folder is no file to write
  const std::string in_missing_folder = rig.path("no-such-folder/a.out").string();
  rig.script({command(start), command(start), command(start), command(start)},
             {gone, inp, folder, inp, in_missing_folder, inp, inp});
  const Lines log = rig.play();
  EXPECT_EQ(section(log, "message", "message 2 30002"),
            (Lines{"message 2 30002", "clear", std::string(kInputDialog) + " -> " + gone,
                   "text 100 4000 cannot open the input file " + gone,
                   "status cannot open the input file " + gone}));
  EXPECT_TRUE(contains(log, "status " + folder +
                                " is a folder, not a file; choose another print-output file"));
  EXPECT_TRUE(contains(log, "status cannot write the print-output file " + in_missing_folder +
                                ": cannot create a file in " + rig.path("no-such-folder").string() +
                                ": No such file or directory"));
  // The input chosen as print output would be emptied by the run: refused, kept.
  EXPECT_TRUE(contains(log, "status " + inp +
                                " is the input file of this run; choose another print-output file"));
  EXPECT_EQ(read_lines(inp), yig_lines());
  // No run started: no task, no disabled menu.
  EXPECT_FALSE(contains(log, "task"));
  EXPECT_FALSE(contains(log, "menu 30002 1 0"));
}

TEST(Shell, ARunWithAMalformedLineGivesTheErrorReport) {
  ShellRig rig;
  Lines bad = yig_lines();
  bad[2] = "12.380  12.380  x12.380   90. 90. 90.";
  const std::string inp = rig.input("bad.inp", bad);
  const std::string out = rig.path("bad.out").string();
  rig.script({command(start)}, {inp, out});
  const Lines log = rig.play();
  EXPECT_EQ(section(log, "message 2", "message 9"),
            (Lines{"message 2 30002", "clear", std::string(kInputDialog) + " -> " + inp,
                  "text 100 2000 Intput file: " + inp, std::string(kOutputDialog) + " -> " + out} +
                disable_all() +
                Lines{"status kaven-99 running", "pages cleared", "task", "bell",
                      "text 100 4000 kaven99 finished with an error",
                      "text 100 5000 for more information -->",
                      "text 100 6000 see output file:" + out, "page listing",
                      "status kaven-99 finished with an error"} +
                enable_all(false)));
  // The window shows the listing as written, ending with the message.
  EXPECT_EQ(rig.layer.pages[gui::Page::listing], file_text(out));
  EXPECT_EQ(tail(split_records(file_text(out)), 1),
            Lines{"read-error in the third line of the input-file"});
  // The plot file, opened from the input's folder before the error, is never drawn: no
  // file stays under its name.
  EXPECT_FALSE(fs::exists(rig.path("yig.ps")));
}

TEST(Shell, AStoppedRunIsReportedAsStoppedWithItsMessage) {
  struct Case {
    Lines input;
    std::string why;
  };
  Lines psi = yig_lines();
  psi[5] = "-66.   181. 50  0  1. 0.";
  Lines symbol = yig_lines();
  symbol[8] = "Xq3+";
  const Case cases[] = {
      {psi, "Psi-range is out of -180. to 180."},
      // The element check writes its message and the driver stops on its flag.
      {symbol,
       "The chemical symbol: Xq3+ does not correspond to an  atom/ion name given in the "
       "Table 6.1.1.4 of the International Tables for Crystallography, Vol. C, p. 500 - 502"},
  };
  for (const Case& c : cases) {
    ShellRig rig;
    const std::string inp = rig.input("s.inp", c.input);
    const std::string out = rig.path("s.out").string();
    rig.script({command(start)}, {inp, out});
    const Lines log = rig.play();
    EXPECT_EQ(section(log, "bell", "message 9"),
              (Lines{"bell", "text 100 4000 kaven-99 stopped before the end of the run:",
                    "text 100 5000 " + c.why, "text 100 6000 see output file:" + out,
                    "page listing", "status kaven-99 stopped: " + c.why} +
                  enable_all(false)));
    EXPECT_FALSE(contains(log, "text 100 4000 Observed-scan file: undefined"));
    // A stop before the primary-reflection line keeps the names of before the run.
    EXPECT_EQ(rig.names.dname2, padded("undefined", 72));
    EXPECT_EQ(rig.names.calname, padded("undefined", 72));
    EXPECT_EQ(rig.names.dname1, padded("yig.ps", 72));
  }
}

TEST(Shell, CompleteRunsReportTheirFilesAndShowThePlotAndTheListing) {
  struct Case {
    const char* what;
    bool viewer;
    std::string dname2;  // as the run leaves it
    bool svg;            // the run drew an SVG page
    std::string observed;
  };
  const Case cases[] = {
      {"no scan file, no viewer", false, "", true, "Observed-scan file: undefined"},
      {"scan file, viewer", true, "si222ag2.dat", true, "Observed-scan file: si222ag2.dat"},
      {"no plot drawn", true, "", false, "Observed-scan file: undefined"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ShellRig rig;
    if (c.viewer) rig.add_viewer("evince");
    const std::string inp = rig.input("yig.inp", yig_lines());
    const std::string out = rig.path("yig.out").string();
    const fs::path svg = rig.path("yig.svg");
    rig.run_function = [&](kaven::RunParameters&, kaven::RunNames& names, kaven::RunFiles&,
                           std::istream&, std::ostream& listing, const kaven::RunEnvironment& env) {
      listing << " listing of a complete run\n";
      names.dname1 = padded("yig.ps", 72);
      names.dname2 = padded(c.dname2, 72);
      names.calname = kaven::calculated_scan_name(names.dname2, names.dname1);
      kaven::RunOutcome o;
      o.result.files.plot = (env.base_dir / "yig.ps").string();
      std::ofstream(o.result.files.plot) << "%!PS\n";
      if (c.svg) {
        std::ofstream(svg) << "<svg xmlns='http://www.w3.org/2000/svg'/>\n";
        o.result.files.plot_svg = svg.string();
      }
      o.result.plotted = c.svg;
      return o;
    };
    rig.script({command(start), command(viewer)}, {inp, out});
    const Lines log = rig.play();
    const std::string cal = c.dname2.empty() ? "yig.cal" : "si222ag2.cal";
    // The scan comes to the front when the run drew one.
    Lines pages = c.svg ? Lines{"page listing", "page plot", "scan 0 steps 0 events", "page scan"}
                        : Lines{"page plot", "page listing", "scan 0 steps 0 events"};
    EXPECT_EQ(section(log, "bell", "message"),
              (Lines{"bell", "text 100 4000 " + c.observed, "text 100 5000 Calculated-scan file: " + cal,
                    "status kaven-99 finished:  graphical output file: yig.ps;  print output file:" +
                        out} +
                  pages + enable_all(c.viewer)));
    EXPECT_EQ(rig.layer.texts,
              (std::vector<gui::PlacedText>{{100, 2000, "Intput file: " + inp},
                                            {100, 4000, c.observed},
                                            {100, 5000, "Calculated-scan file: " + cal}}));
    EXPECT_EQ(rig.layer.pages[gui::Page::listing], " listing of a complete run\n");
    EXPECT_EQ(rig.layer.pages[gui::Page::plot], c.svg ? svg.string() : "");
    // No external program is started by the run itself; the viewer command opens the
    // plot of the run when there is a viewer and the run drew one.
    if (c.viewer) {
      std::vector<std::string> argv{(rig.dir.path() / "bin" / "evince").string()};
      if (c.svg) argv.push_back(rig.path("yig.ps").string());
      EXPECT_EQ(rig.programs.started, std::vector<std::vector<std::string>>{argv});
    } else {
      EXPECT_TRUE(rig.programs.started.empty());
      EXPECT_EQ(rig.layer.enabled[viewer], false);
    }
  }
}

TEST(Shell, ARealRunToItsEndGivesTheCompletionReport) {
  // The synchrotron example through the run driver: no orientation matrix, so no scan
  // file; the calculated scan is named after the plot file and lies beside the input.
  // The folder's name alone is longer than a 72-character name buffer: the whole path
  // is kept.
  ShellRig rig;
  const std::string folder = "a folder with a name longer than the name buffers of the run, " +
                             std::string(20, 'x');
  fs::create_directory(rig.path(folder));
  const std::string inp = rig.input(folder + "/si222.inp", si_lines());
  const std::string out = rig.path(folder + "/si222.out").string();
  rig.script({command(start)}, {inp, out});
  const Lines log = rig.play();
  EXPECT_EQ(section(log, "bell", "page"),
            (Lines{"bell", "text 100 4000 Observed-scan file: undefined",
                   "text 100 5000 Calculated-scan file: si222.cal",
                   "status kaven-99 finished:  graphical output file: si222.ps;  print output file:" +
                       out}));
  EXPECT_EQ(tail(log, 11), (enable_all(false) + Lines{"message 9 0", "close"}));
  // The scan to explore in front when the run drew one, the listing otherwise; the scan
  // view holds every step of the calculated scan.
  const bool drawn = !rig.layer.pages[gui::Page::plot].empty();
  EXPECT_EQ(rig.layer.front_page, drawn ? gui::Page::scan : gui::Page::listing);
  EXPECT_EQ(rig.layer.scan.calculated.size(), rig.layer.scan.psi.size());
  EXPECT_FALSE(rig.layer.scan.psi.empty());
  EXPECT_TRUE(contains(log, "text 100 2000 Intput file: " + inp));
  EXPECT_TRUE(fs::exists(rig.path(folder + "/si222.cal")));
  EXPECT_EQ(rig.names.calname, padded("si222.cal", 72));
  EXPECT_EQ(rig.names.dname2, padded("", 72));
  EXPECT_EQ(rig.layer.pages[gui::Page::listing], file_text(out));
}

TEST(Shell, NamesAndTheRunRecordAreKeptFromRunToRun) {
  ShellRig rig;
  const std::string inp = rig.input("yig.inp", yig_lines());
  std::vector<SeenRun> seen;
  int n = 0;
  rig.run_function = [&](kaven::RunParameters& par, kaven::RunNames& names, kaven::RunFiles&,
                         std::istream& input, std::ostream&, const kaven::RunEnvironment& env) {
    seen.push_back({names, par.psid, env.base_dir, env.cancel != nullptr});
    std::string first;
    std::getline(input, first);
    EXPECT_EQ(first, "YIG - KAVEN99");  // the input is open at its first line
    par.psid = 12.5f;
    kaven::RunOutcome o;
    if (n++ == 0) {
      names.dname1 = padded("yig.ps", 72);
      names.dname2 = padded("yig.dat", 72);
      names.calname = padded("yig.cal", 72);
    } else {
      o.end = kaven::RunEnd::stopped;  // stopped before line 10: names untouched
      o.stop_message = {"", " Psi-range is out of -180. to 180."};
    }
    return o;
  };
  rig.script({command(start), command(start)},
             {inp, rig.path("1.out").string(), inp, rig.path("2.out").string()});
  rig.play();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].names.dname2, padded("undefined", 72));
  EXPECT_EQ(seen[0].names.calname, padded("undefined", 72));
  EXPECT_EQ(seen[0].names.dname1, padded("", 72));
  EXPECT_EQ(seen[1].names.dname2, padded("yig.dat", 72));
  EXPECT_EQ(seen[1].names.calname, padded("yig.cal", 72));
  EXPECT_EQ(seen[1].names.dname1, padded("yig.ps", 72));
  EXPECT_EQ(seen[0].psid, 0.0f);
  EXPECT_EQ(seen[1].psid, 12.5f);
  EXPECT_EQ(seen[0].base_dir, rig.dir.path());  // relative names from the input's folder
  EXPECT_TRUE(seen[0].cancel_given);
  EXPECT_EQ(rig.layer.status, "kaven-99 stopped: Psi-range is out of -180. to 180.");
  EXPECT_EQ(rig.output_name, rig.path("2.out").string());
}

TEST(Shell, ARunThatFailsOrReportsProgressKeepsTheWindowUsable) {
  ShellRig rig;
  const std::string inp = rig.input("yig.inp", yig_lines());
  const std::string out = rig.path("yig.out").string();
  rig.run_function = [&](kaven::RunParameters&, kaven::RunNames&, kaven::RunFiles&, std::istream&,
                         std::ostream&, const kaven::RunEnvironment& env) -> kaven::RunOutcome {
    env.progress({"event search", 0.25});
    env.progress({"event search", 1.0});
    throw std::runtime_error("std::bad_alloc");
  };
  rig.script({command(start)}, {inp, out});
  const Lines log = rig.play();
  EXPECT_EQ(rig.layer.progress,
            (std::vector<std::pair<std::string, double>>{{"event search", 0.25},
                                                         {"event search", 1.0}}));
  EXPECT_EQ(section(log, "bell", "message 9"),
            (Lines{"bell", "text 100 4000 kaven99 finished with an error",
                  "text 100 5000 for more information -->", "text 100 6000 see output file:" + out,
                  "page listing", "status kaven-99 finished with an error: std::bad_alloc"} +
                enable_all(false)));
}

TEST(Shell, TheHelpCommandWritesShowsAndRemovesTheInputDescription) {
  ShellRig rig;
  const fs::path file = rig.path("input_help");
  std::string expected;
  for (std::string_view line : gui::input_description()) (expected += line) += '\n';
  // Before the second command a stale input_help lies in the folder: it is replaced
  // and removed as well.
  std::vector<bool> existed;
  rig.layer.before_message = [&](std::size_t i) {
    existed.push_back(fs::exists(file));
    if (i == 1) std::ofstream(file) << "stale\n";
  };
  rig.script({command(help), command(help)}, {});
  const Lines log = rig.play();
  EXPECT_EQ(log, (Lines{"message 2 30007", "page input_help", "message 2 30007",
                        "page input_help", "message 9 0", "close"}));
  EXPECT_EQ(existed, (std::vector<bool>{false, false, false}));
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(rig.layer.pages[gui::Page::input_help], expected);
  for (const auto& [id, on] : rig.layer.enabled) EXPECT_EQ(on, id != viewer) << id;

  // A folder that cannot take the file: said, and the description is shown all the same.
  ShellRig ro;
  ro.env.help_dir = ro.path("no-such-folder");
  ro.script({command(help)}, {});
  ro.play();
  EXPECT_EQ(ro.layer.status, "cannot write " + (ro.path("no-such-folder") / "input_help").string() +
                                 ": No such file or directory");
  EXPECT_EQ(ro.layer.pages[gui::Page::input_help], expected);
}

TEST(Shell, EditorAndViewerAreStartedWithArgumentListsAndFailuresAreSaid) {
  ShellRig rig;
  rig.add_viewer("zathura");
  // A name with blanks, quotes and a semicolon stays one argument.
  const std::string inp = rig.input("it's a \"test\"; rm -rf x.inp", yig_lines());
  Lines psi = yig_lines();
  psi[5] = "-66.   181. 50  0  1. 0.";
  write_lines(inp, psi);
  const std::string out = rig.path("o.out").string();
  rig.programs.failing = {"xdg-open"};
  rig.script({command(edit_input), command(edit_output), command(start), command(edit_input),
              command(edit_output), command(viewer)},
             {inp, out});
  gui::Shell shell(rig.layer, rig.programs, rig.env);
  // The failure of a program started earlier is said while the shell is idle.
  rig.layer.before_message = [&](std::size_t i) {
    if (i == 5) shell.report_program_failures();
  };
  shell.run();
  const Lines& log = rig.layer.log;
  EXPECT_TRUE(contains(log, "status no input file has been chosen yet"));
  EXPECT_TRUE(contains(log, "status no print-output file has been chosen yet"));
  EXPECT_EQ(rig.programs.started,
            (std::vector<std::vector<std::string>>{
                {"xdg-open", inp}, {"xdg-open", out}, {(rig.dir.path() / "bin" / "zathura").string()}}));
  EXPECT_TRUE(contains(log, "status xdg-open failed on " + inp + " (exit status 3)"));
  EXPECT_TRUE(contains(log, "status xdg-open failed on " + out + " (exit status 3)"));

  // From a terminal with $VISUAL set, the editor runs there and is waited for; a
  // missing editor is said.
  ShellRig term;
  term.env.terminal = true;
  term.env.visual = "vi -R";
  term.env.editor = "ignored";
  const std::string tin = term.input("t.inp", psi);
  term.programs.missing = {"vi"};
  term.script({command(start), command(edit_input)}, {tin, term.path("t.out").string()});
  const Lines tlog = term.play();
  EXPECT_EQ(section(tlog, "message 2 30004", "message 9"),
            (Lines{"message 2 30004", "task", "status cannot start vi: No such file or directory"}));
}

TEST(Shell, StopSummaryJoinsTheNonBlankRecords) {
  EXPECT_EQ(gui::stop_summary({"", "", "  the number of output lines is to large  ",
                               "please increase drumin on the sixth input line", " "}),
            "the number of output lines is to large please increase drumin on the sixth "
            "input line");
  EXPECT_EQ(gui::stop_summary({}), "");
}

TEST(Shell, TheCifCommandWritesAnInputBesideTheCifAndOffersToRunIt) {
  ShellRig rig;
  fs::copy_file(fs::path(KAVEN_SOURCE_DIR) / "examples/si/si.cif", rig.path("si.cif"));
  const std::string cif = rig.path("si.cif").string();
  const std::string inp = rig.path("si.inp").string();
  // The dialog comes back with the library's word on what was wrong until the values
  // convert: no primary reflection, then the synchrotron line without a wavelength, then
  // a psi range outside that of the synchrotron axis.
  rig.layer.cif_answers = {
      [](gui::CifDialogValues& v) { v.radiation = "Mo"; },
      [](gui::CifDialogValues& v) { v.hkl = {2, 2, 0}, v.radiation = "synchrotron"; },
      [](gui::CifDialogValues& v) { v.wavelength = 1.0f; },
      [](gui::CifDialogValues& v) { v.psi = {10, 20}; },
  };
  rig.layer.answers = {true};  // run it now
  rig.script({command(open_cif)}, {cif, rig.path("si.out").string()});
  const Lines log = rig.play();
  const std::string head = "dialog CIF file | CIF|*.cif;*.CIF| mode 0 -> " + cif;
  EXPECT_EQ(section(log, "dialog CIF file", "text"),
            (Lines{head, "cif dialog",
                   "cif dialog 'the primary reflection 0 0 0 has no scattering vector'",
                   "cif dialog 'give either a tube (Cu, Mo or Ag) or a synchrotron wavelength'",
                   "cif dialog 'the psi range must run upwards within 0 to 360 degrees for "
                   "synchrotron radiation'"}));
  // The first dialog shows the conversion's defaults for the first radiation.
  ASSERT_EQ(rig.layer.cif_dialog_shown.size(), 4u);
  const gui::CifDialogValues& first = rig.layer.cif_dialog_shown[0];
  EXPECT_EQ(first.formula, "Si");
  EXPECT_EQ(first.radiation, "Cu");
  EXPECT_EQ(first.hkl, (std::array<int, 3>{0, 0, 0}));
  EXPECT_EQ(first.psi, (std::array<float, 2>{-180, 180}));
  EXPECT_EQ(first.input_name, "si.inp");
  EXPECT_EQ(gui::default_psi_range("synchrotron"), (std::array<float, 2>{0, 360}));

  // Written beside the CIF, said, run on the user's word with NAME.out proposed.
  EXPECT_TRUE(contains(log, "question Input file from a CIF: Run " + inp + " now?"));
  EXPECT_TRUE(contains(log, std::string(kOutputDialog) + " proposing " +
                                rig.path("si.out").string() + " -> " + rig.path("si.out").string()));
  EXPECT_EQ(rig.input_name, inp);
  const Lines written = read_lines(inp);
  ASSERT_GT(written.size(), 5u);
  EXPECT_EQ(written[1], "si.ps");
  EXPECT_EQ(rig.layer.status.rfind("kaven-99 finished", 0), 0u) << rig.layer.status;
  EXPECT_TRUE(fs::exists(rig.path("si.ps")));
}

TEST(Shell, TheCifCommandReplacesNoFileUnaskedAndSaysWhatItCannotRead) {
  ShellRig rig;
  fs::copy_file(fs::path(KAVEN_SOURCE_DIR) / "examples/si/si.cif", rig.path("si.cif"));
  const std::string cif = rig.path("si.cif").string();
  std::ofstream(rig.path("si.inp")) << "a hand-written input\n";
  std::ofstream(rig.path("broken.cif")) << "data_x\n_cell_length_a 5.43\n";
  auto si111 = [](gui::CifDialogValues& v) { v.hkl = {1, 1, 1}; };
  auto named = [si111](const char* name) {
    return [si111, name](gui::CifDialogValues& v) { si111(v), v.input_name = name; };
  };
  // First si2.inp is written (and not run); then the hand-written si.inp is refused
  // outright, as are names off the CIF's folder and the CIF itself, and si2.inp, which
  // kaven wrote, is replaced only when the user says so.
  rig.layer.cif_answers = {
      named("si2.inp"),
      si111,                     // si.inp is the user's
      named("../si.inp"),        // not beside the CIF
      named("si.cif"),           // the CIF itself
      named("si2.inp"),          // kaven's: asked, and not replaced
      {},                        // cancelled
  };
  rig.layer.answers = {false, false};
  rig.script({command(open_cif), command(open_cif), command(open_cif)},
             {cif, cif, rig.path("broken.cif").string()});
  const Lines log = rig.play();
  const std::string si2 = rig.path("si2.inp").string();
  const std::string si2_text = file_text(si2);
  EXPECT_TRUE(contains(log, "cif dialog '" + rig.path("si.inp").string() +
                                " exists and is not an input file written by kaven (or it was "
                                "changed since)'"));
  EXPECT_TRUE(contains(log, "cif dialog 'name the new input file (a name, without a folder: it "
                            "is written beside the CIF)'"));
  EXPECT_TRUE(contains(log, "cif dialog '" + cif + " is the CIF itself'"));
  EXPECT_TRUE(contains(log, "question Input file from a CIF: " + si2 + "\nexists. Replace it?"));
  EXPECT_EQ(file_text(si2), si2_text);
  EXPECT_EQ(file_text(rig.path("si.inp")), "a hand-written input\n");
  // A CIF that cannot be converted is named with the reason; nothing is written.
  ASSERT_FALSE(rig.layer.texts.empty());
  const std::string said = rig.layer.texts.back().text;
  EXPECT_EQ(said.rfind(rig.path("broken.cif").string() + ": ", 0), 0u) << said;
  EXPECT_NE(said.find("; no input file written"), std::string::npos) << said;
  EXPECT_EQ(rig.layer.status, said);
  EXPECT_FALSE(fs::exists(rig.path("broken.inp")));
}

TEST(Shell, TheCifCommandShowsWhatWasMendedWhileReadingTheCif) {
  ShellRig rig;
  Lines cif = read_lines(fs::path(KAVEN_SOURCE_DIR) / "examples/si/si.cif");
  cif.insert(cif.begin() + 10, "_cell_length_a 5.0");  // given twice: the first value stays
  write_lines(rig.path("si.cif"), cif);
  rig.layer.cif_answers = {[](gui::CifDialogValues& v) { v.hkl = {1, 1, 1}; }};
  rig.script({command(open_cif)}, {rig.path("si.cif").string()});
  rig.play();
  ASSERT_EQ(rig.layer.cif_dialog_shown.size(), 1u);
  const std::vector<std::string>& mended = rig.layer.cif_dialog_shown[0].warnings;
  ASSERT_EQ(mended.size(), 1u);
  EXPECT_EQ(mended[0].rfind("line 11: ", 0), 0u) << mended[0];
  const auto said = std::find_if(rig.layer.texts.begin(), rig.layer.texts.end(),
                                 [](const gui::PlacedText& t) { return t.y == 4000; });
  ASSERT_NE(said, rig.layer.texts.end());
  EXPECT_EQ(said->text, "Warning: " + rig.path("si.cif").string() + " " + mended[0]);
  EXPECT_EQ(read_lines(rig.path("si.inp"))[2].substr(0, 6), "5.4309");
}
