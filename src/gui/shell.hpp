// The desktop shell of kaven: the main window with its six commands, the run cycle
// (choose the input and print-output files, run, report), the external editor and
// PostScript viewer, and the input description. Written against the windowing
// operations of window_layer.hpp and the program starter of external_programs.hpp, so
// that the whole cycle runs in tests on a scripted window.
//
// The run itself goes off the interface thread with every menu command disabled; the
// window shows its progress, then the plot (SVG) and the listing of the run.
#pragma once
#include <filesystem>
#include <functional>
#include <string>

#include "gui/external_programs.hpp"
#include "gui/window_layer.hpp"
#include "analysis/scan_fit.hpp"
#include "input/run_parameters.hpp"
#include "shell/run_command.hpp"
#include "shell/run_driver.hpp"

namespace kaven::gui {

// Menu resource and command identifiers of the main window.
namespace menu_id {
inline constexpr int bar = 30001;
inline constexpr int start = 30002;
inline constexpr int exit = 30003;
inline constexpr int edit_input = 30004;
inline constexpr int edit_output = 30005;
inline constexpr int viewer = 30006;
inline constexpr int help = 30007;
inline constexpr int open_cif = 30008;
inline constexpr int energy_map = 30009;
inline constexpr int fit = 30010;
inline constexpr int index = 30011;
}  // namespace menu_id

// What the shell takes from the process it runs in.
struct ShellEnvironment {
  std::string path;     // PATH: where the PostScript viewer is looked for
  std::string visual;   // $VISUAL
  std::string editor;   // $EDITOR
  bool terminal = false;  // standard input is a terminal
  std::filesystem::path help_dir = ".";  // where input_help is written: the current folder
  int threads = 0;                       // threads of a run: 0 all cores

  static ShellEnvironment from_process();
};

// One simulation run: the run driver kaven(), or a stand-in in tests.
using RunFunction = std::function<RunOutcome(RunParameters&, RunNames&, RunFiles&, std::istream&,
                                             std::ostream&, const RunEnvironment&)>;

class Shell {
 public:
  Shell(WindowLayer& layer, ProgramStarter& programs, ShellEnvironment env,
        RunFunction run = &kaven);

  // Start-up, then one action per menu command until "&Exit" or a close request.
  // Returns the program's exit status (0).
  int run();

  // Says in the status bar which programs started earlier have failed since (called
  // now and then by the program while the shell waits for a message).
  void report_program_failures();

  // The five names kept between runs.
  const std::string& input_name() const { return input_name_; }
  const std::string& output_name() const { return output_name_; }
  const RunNames& run_names() const { return names_; }  // scan, cal and plot names
  const std::string& viewer_path() const { return viewer_path_; }

 private:
  enum class State { starting, idle, running, stopped };

  void start_up();
  void act(int id);
  // The run cycle; with `input` given it is not asked for (the input the CIF command
  // wrote) and the print-output dialog proposes NAME.out beside it.
  void run_cycle(const std::string& input = {});
  void open_cif();
  // The energy map of a synchrotron input beside its run, the fit of the simulation to
  // the measured scan and the peak table of the scan: each the command line's run with
  // its option (kaven INPUT OUTPUT --energy-map E1 E2 N, --fit, --index), off the
  // interface thread, then reported as a run is.
  void energy_map();
  void analyse(bool fit);
  // Asks for the input and the print-output files, proposing the current ones; false
  // when a dialog was cancelled.
  bool choose_files();
  // Runs a command-line run off the interface thread with the window's progress and
  // cancel, then reports it as the run cycle reports a run.
  RunCommandResult run_request(RunRequest& request, const std::function<RunCommandResult()>& work);
  // The report of a run that has ended: the texts, the status bar, the pages.
  void report_run(const RunOutcome& outcome, const RunParameters& par, const std::string& failure);
  void edit(const std::string& file, const char* which);
  void start_viewer();
  void show_input_help();
  void set_menu(bool enabled);
  void status(const std::string& text);
  void start_or_report(const std::vector<std::string>& argv, bool wait);

  WindowLayer& layer_;
  ProgramStarter& programs_;
  ShellEnvironment env_;
  RunFunction run_;
  State state_ = State::starting;

  std::string input_name_;
  std::string output_name_;
  RunNames names_;            // dname2 (scan), calname, dname1 (plot) of the run driver
  std::string viewer_path_;   // empty when no viewer was found
  std::string last_plot_;     // the PostScript file of the last run that drew one
  RunParameters par_;         // the run record: lives as long as the shell
};

// Texts of the window and the status bar.
namespace shell_text {
inline constexpr const char* title = "kaven-99";
inline constexpr const char* input_filter = "Input file|*.inp;*.in;*.ein;*.txt|";
inline constexpr const char* output_filter = "Output file|*.out;*.aus|";
inline constexpr const char* input_dialog = "inut file";
inline constexpr const char* output_dialog = "Print-output file";
inline constexpr const char* running = "kaven-99 running";
inline constexpr const char* cif_filter = "CIF|*.cif;*.CIF|";
inline constexpr const char* cif_dialog = "CIF file";
inline constexpr const char* cif_title = "Input file from a CIF";
inline constexpr const char* fit_title = "Fit measured scan";
}  // namespace shell_text

// The records of a run's stop message as one line: blank records dropped, each
// record without its leading and trailing blanks, joined by one blank.
std::string stop_summary(const std::vector<std::string>& records);

// The energy map's first energies for an input at `input_kev`: 0.5 keV on either side in
// steps of 10 eV (101 energies), wide enough for the fine structure near an edge.
EnergyMapValues energy_map_defaults(const std::string& input, double input_kev);
// The fit dialog's first values: every parameter of the fit, the library's default list
// checked; the options off, the interference term the input's.
FitDialogValues fit_dialog_defaults(const std::string& input);
// The fit options of the dialog's values, or why they cannot be fitted (the library's
// message for a list it refuses, or for no parameter at all).
std::string fit_options_of(const FitDialogValues& values, FitOptions& options);

}  // namespace kaven::gui
