// The external programs of the desktop shell: a text editor for the input and the
// listing, a PostScript viewer for the plot.
//
// Programs are always started with an argument list, never through a command
// interpreter, so a file name with blanks, quotes or semicolons stays one argument and
// cannot become a command.
//
// Editor: when $VISUAL (or else $EDITOR) is set and the program was started from a
// terminal (standard input is a terminal), that editor runs in the terminal and the
// shell waits for it, as for a terminal program it must. Its value is split at blanks
// into the program and its options ("emacsclient -c"); quotes are not interpreted.
// Otherwise the desktop's default application for the file opens it (xdg-open), and
// the shell does not wait.
//
// PostScript viewer: the first of evince, okular, zathura, atril, gv found on PATH,
// looked up once at start-up.
#pragma once
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace kaven::gui {

class ProgramStarter {
 public:
  virtual ~ProgramStarter() = default;
  // Starts argv[0] (looked up on PATH when it holds no slash) with the arguments and
  // does not wait. Returns "" when it started, otherwise why it could not be started.
  virtual std::string start(const std::vector<std::string>& argv) = 0;
  // Runs argv[0] with the arguments and waits for its end. Returns "" when it ended
  // with exit status 0, otherwise why it failed.
  virtual std::string run(const std::vector<std::string>& argv) = 0;
  // Programs started by start() that have ended with a failure since the last call,
  // one text each.
  virtual std::vector<std::string> failures() = 0;
};

// Starts real processes (posix_spawnp). A started program runs in a process group of
// its own, so that an interrupt typed in the terminal does not reach it, and outlives
// the shell; a waited one stays in the terminal's group so that it can read from it.
class SystemPrograms final : public ProgramStarter {
 public:
  std::string start(const std::vector<std::string>& argv) override;
  std::string run(const std::vector<std::string>& argv) override;
  std::vector<std::string> failures() override;

 private:
  struct Child {
    pid_t pid;
    std::vector<std::string> argv;
  };
  std::vector<Child> children_;
};

// The text of a program's end: "" for exit status 0, else what went wrong
// ("xdg-open failed on /x/a.out (exit status 3)"). `wait_status` as from waitpid.
std::string ending_text(const std::vector<std::string>& argv, int wait_status);

struct EditorChoice {
  std::vector<std::string> argv;  // the program, its options, the file
  bool wait = false;              // the shell waits for the end (terminal editor)
};

// How the editor is started on `file`: `visual` and `editor` are the values of $VISUAL
// and $EDITOR (empty when unset), `terminal` whether standard input is a terminal.
EditorChoice editor_for(const std::string& file, std::string_view visual,
                        std::string_view editor, bool terminal);

// The PostScript viewers looked for, in order of preference.
inline constexpr std::string_view kViewerNames[] = {"evince", "okular", "zathura", "atril",
                                                    "gv"};
// "evince, okular, zathura, atril, gv"
std::string viewer_names_text();

// Full path of the first executable regular file `name` in the folders of `path_var`
// (a PATH value; empty entries are skipped); "" when there is none.
std::string find_on_path(std::string_view name, std::string_view path_var);
// Full path of the first viewer of kViewerNames found on `path_var`; "" when none is.
std::string find_viewer(std::string_view path_var);

}  // namespace kaven::gui
