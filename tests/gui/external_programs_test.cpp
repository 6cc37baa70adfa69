// Starting external programs: real processes with argument lists (names with blanks,
// quotes and semicolons stay one argument), their failures as texts, the process
// group of a started program, the editor choice and the viewer look-up on PATH.
#include "gui/external_programs.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "run_fixture.hpp"

using namespace kaven_test;
namespace gui = kaven::gui;

namespace {

// failures() until `n` started programs have been seen ending (at most five seconds).
std::vector<std::string> failures_after(gui::SystemPrograms& p, const fs::path& done_marker) {
  for (int i = 0; i < 500 && !fs::exists(done_marker); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::vector<std::string> all;
  for (int i = 0; i < 100; ++i) {
    for (std::string& f : p.failures()) all.push_back(std::move(f));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return all;
}

std::string first_line(const fs::path& p) {
  std::ifstream is(p);
  std::string s;
  std::getline(is, s);
  return s;
}

}  // namespace

TEST(ExternalPrograms, ArgumentsReachTheProgramUnchanged) {
  ScratchDir dir;
  const fs::path src = dir.path() / "src.txt";
  std::ofstream(src) << "text\n";
  const std::vector<std::string> names = {"a b.out", "it's \"quoted\".out", "x; rm -rf y.out",
                                          "$(touch z).out", "*.out"};
  gui::SystemPrograms p;
  for (const std::string& n : names) {
    const fs::path dst = dir.path() / n;
    EXPECT_EQ(p.run({"cp", src.string(), dst.string()}), "") << n;
    EXPECT_EQ(first_line(dst), "text") << n;
  }
  EXPECT_FALSE(fs::exists(dir.path() / "z).out"));
  EXPECT_FALSE(fs::exists("z"));
}

TEST(ExternalPrograms, FailuresAreTexts) {
  ScratchDir dir;
  gui::SystemPrograms p;
  EXPECT_EQ(p.start({"kaven-no-such-program"}),
            "cannot start kaven-no-such-program: No such file or directory");
  EXPECT_EQ(p.run({"kaven-no-such-program", "x"}),
            "cannot start kaven-no-such-program: No such file or directory");
  EXPECT_EQ(p.run({"cp", (dir.path() / "missing").string(), (dir.path() / "b").string()}),
            "cp failed on " + (dir.path() / "b").string() + " (exit status 1)");
  EXPECT_EQ(p.run({"false"}), "false ended with exit status 1");
  EXPECT_EQ(p.start({}), "no program to start");

  // Started programs: the one that fails is reported once it has ended, the one that
  // succeeds is not.
  const fs::path marker = dir.path() / "done";
  EXPECT_EQ(p.start({"true"}), "");
  EXPECT_EQ(p.start({"sh", "-c", "touch \"$0\"; exit 4", marker.string()}), "");
  EXPECT_EQ(failures_after(p, marker),
            std::vector<std::string>{"sh failed on " + marker.string() + " (exit status 4)"});

  // Wait statuses as waitpid gives them: exit codes and signals.
  struct Case {
    std::vector<std::string> argv;
    int status;
    std::string text;
  };
  const Case cases[] = {
      {{"evince", "/x/a.ps"}, 0, ""},
      {{"evince", "/x/a.ps"}, 2 << 8, "evince failed on /x/a.ps (exit status 2)"},
      {{"evince", "/x/a.ps"}, SIGKILL, "evince failed on /x/a.ps (signal 9)"},
      {{"gv"}, SIGSEGV, "gv ended with signal 11"},
  };
  for (const Case& c : cases) EXPECT_EQ(gui::ending_text(c.argv, c.status), c.text);
}

TEST(ExternalPrograms, AStartedProgramHasAProcessGroupOfItsOwnAWaitedOneNot) {
  ScratchDir dir;
  gui::SystemPrograms p;
  // The shell writes its process id and its process group (field 5 of its stat).
  const std::string script = "echo $$ > \"$0\".pid; cut -d' ' -f5 /proc/$$/stat > \"$0\".pgid; "
                             "touch \"$0\"";
  const fs::path started = dir.path() / "started", waited = dir.path() / "waited";
  ASSERT_EQ(p.start({"sh", "-c", script, started.string()}), "");
  failures_after(p, started);
  EXPECT_EQ(first_line(started.string() + ".pgid"), first_line(started.string() + ".pid"));
  ASSERT_EQ(p.run({"sh", "-c", script, waited.string()}), "");
  EXPECT_EQ(first_line(waited.string() + ".pgid"), std::to_string(getpgrp()));
}

TEST(ExternalPrograms, TheEditorIsTheTerminalsOrTheDesktops) {
  struct Case {
    std::string visual, editor;
    bool terminal;
    std::vector<std::string> argv;
    bool wait;
  };
  const std::string f = "/data/my input.inp";
  const Case cases[] = {
      {"", "", false, {"xdg-open", f}, false},
      {"", "", true, {"xdg-open", f}, false},
      {"vim", "nano", false, {"xdg-open", f}, false},  // no terminal to run them in
      {"vim", "nano", true, {"vim", f}, true},
      {"", "nano", true, {"nano", f}, true},
      {"  emacsclient   -t ", "", true, {"emacsclient", "-t", f}, true},
      {"   ", "nano", true, {"nano", f}, true},  // a blank VISUAL counts as unset
  };
  for (const Case& c : cases) {
    const gui::EditorChoice e = gui::editor_for(f, c.visual, c.editor, c.terminal);
    EXPECT_EQ(e.argv, c.argv) << c.visual << "|" << c.editor << "|" << c.terminal;
    EXPECT_EQ(e.wait, c.wait);
  }
}

TEST(ExternalPrograms, TheViewerIsLookedUpOnPath) {
  ScratchDir dir;
  const fs::path a = dir.path() / "a", b = dir.path() / "b", c = dir.path() / "c";
  fs::create_directories(a);
  fs::create_directories(b);
  fs::create_directories(c / "evince");  // a folder named like a viewer
  auto program = [](const fs::path& p, mode_t mode) {
    std::ofstream(p) << "#!/bin/sh\n";
    chmod(p.c_str(), mode);
  };
  program(a / "okular", 0644);  // not executable
  program(b / "okular", 0755);
  program(b / "gv", 0755);
  program(a / "zathura", 0755);
  const std::string path = ":" + c.string() + ":" + a.string() + "::" + b.string() + ":";
  EXPECT_EQ(gui::find_on_path("okular", path), (b / "okular").string());
  EXPECT_EQ(gui::find_on_path("evince", path), "");
  EXPECT_EQ(gui::find_on_path("gv", b.string() + "/"), (b / "gv").string());
  // okular comes before zathura in the order of preference.
  EXPECT_EQ(gui::find_viewer(path), (b / "okular").string());
  EXPECT_EQ(gui::find_viewer(a.string()), (a / "zathura").string());
  EXPECT_EQ(gui::find_viewer(""), "");
  EXPECT_EQ(gui::viewer_names_text(), "evince, okular, zathura, atril, gv");
}
