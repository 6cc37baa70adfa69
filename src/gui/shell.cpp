#include "gui/shell.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "cif/cif_structure.hpp"
#include "gui/cif_command.hpp"
#include "gui/input_help.hpp"
#include "input/input_writer.hpp"
#include "report/record_format.hpp"
#include "shell/output_file.hpp"
#include "shell/run_files.hpp"

namespace kaven::gui {
namespace fs = std::filesystem;

namespace {

std::string env_value(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string trimmed(std::string_view s) {
  s = rec::rtrim(s);
  std::size_t b = s.find_first_not_of(' ');
  return b == std::string_view::npos ? std::string() : std::string(s.substr(b));
}

std::string read_file(const std::string& path) {
  std::ifstream is(path, std::ios::binary);
  std::ostringstream ss;
  ss << is.rdbuf();
  return ss.str();
}

// The menu commands in the order the run cycle disables them; the CIF command last.
constexpr int kCommands[] = {menu_id::start,    menu_id::edit_input, menu_id::edit_output,
                             menu_id::viewer,   menu_id::help,       menu_id::exit,
                             menu_id::open_cif, menu_id::energy_map, menu_id::fit,
                             menu_id::index};

}  // namespace

ShellEnvironment ShellEnvironment::from_process() {
  ShellEnvironment env;
  env.path = env_value("PATH");
  env.visual = env_value("VISUAL");
  env.editor = env_value("EDITOR");
  env.terminal = isatty(STDIN_FILENO) == 1;
  std::error_code ec;
  env.help_dir = fs::current_path(ec);
  if (ec) env.help_dir = ".";
  return env;
}

std::string stop_summary(const std::vector<std::string>& records) {
  std::string s;
  for (const std::string& r : records) {
    std::string t = trimmed(r);
    if (t.empty()) continue;
    if (!s.empty()) s += ' ';
    s += t;
  }
  return s;
}

Shell::Shell(WindowLayer& layer, ProgramStarter& programs, ShellEnvironment env, RunFunction run)
    : layer_(layer), programs_(programs), env_(std::move(env)), run_(std::move(run)) {
  // Before the first run the scan and calculated-scan names are undefined.
  names_.dname2 = rec::pad("undefined", 72);
  names_.calname = rec::pad("undefined", 72);
}

int Shell::run() {
  start_up();
  for (;;) {
    const WindowMessage m = layer_.wmessage();
    if (m.kind == message_kind::close) break;
    if (m.kind != message_kind::menu) continue;
    if (m.value == menu_id::exit) break;
    act(m.value);
  }
  layer_.windowclose();
  state_ = State::stopped;
  return 0;
}

void Shell::start_up() {
  layer_.winitialise(" ");
  WindowStyle style;
  style.flags = 39;
  style.left = 10;
  style.top = 10;
  style.width = 0;  // 80 % of the screen width
  style.height = 250;
  style.menu = menu_id::bar;
  style.title = rec::pad(shell_text::title, 80);
  layer_.windowopen(style);
  layer_.wmenusetstate(menu_id::viewer, menu_property::enabled, 0);
  status("searching for " + viewer_names_text());
  viewer_path_ = find_viewer(env_.path);
  if (!viewer_path_.empty()) {
    layer_.wmenusetstate(menu_id::viewer, menu_property::enabled, 1);
    status(fs::path(viewer_path_).filename().string() + " found");
  } else {
    status(viewer_names_text() + " not found on PATH");
  }
  state_ = State::idle;
}

void Shell::act(int id) {
  switch (id) {
    case menu_id::start: run_cycle(); break;
    case menu_id::edit_input: edit(input_name_, "input"); break;
    case menu_id::edit_output: edit(output_name_, "print-output"); break;
    case menu_id::viewer: start_viewer(); break;
    case menu_id::help: show_input_help(); break;
    case menu_id::open_cif: open_cif(); break;
    case menu_id::energy_map: energy_map(); break;
    case menu_id::fit: analyse(true); break;
    case menu_id::index: analyse(false); break;
    default: break;  // not a command of this window
  }
}

void Shell::status(const std::string& text) { layer_.windowoutstatusbar(1, text); }

void Shell::set_menu(bool enabled) {
  for (int id : kCommands) {
    if (enabled && id == menu_id::viewer && viewer_path_.empty()) continue;
    layer_.wmenusetstate(id, menu_property::enabled, enabled ? 1 : 0);
  }
}

void Shell::start_or_report(const std::vector<std::string>& argv, bool wait) {
  std::string failure;
  if (wait) {
    // A terminal program: the window keeps repainting and takes no commands meanwhile.
    std::atomic<bool> cancel{false};
    layer_.run_task([&] { failure = programs_.run(argv); }, cancel);
  } else {
    failure = programs_.start(argv);
  }
  if (!failure.empty()) status(failure);
}

void Shell::edit(const std::string& file, const char* which) {
  if (file.empty()) {
    status(std::string("no ") + which + " file has been chosen yet");
    return;
  }
  EditorChoice ed = editor_for(file, env_.visual, env_.editor, env_.terminal);
  start_or_report(ed.argv, ed.wait);
}

void Shell::start_viewer() {
  if (viewer_path_.empty()) return;
  // The plot of the last run that drew one; without one the viewer starts empty.
  std::vector<std::string> argv{viewer_path_};
  std::error_code ec;
  if (!last_plot_.empty() && fs::exists(last_plot_, ec)) argv.push_back(last_plot_);
  start_or_report(argv, false);
}

void Shell::show_input_help() {
  // Written to the current folder, shown, removed again.
  const fs::path file = env_.help_dir / "input_help";
  std::string failure = in_help(file);
  std::string text;
  if (failure.empty()) {
    text = read_file(file.string());
    std::error_code ec;
    fs::remove(file, ec);
  } else {
    for (std::string_view line : input_description()) (text += line) += '\n';
    status("cannot write " + file.string() + ": " + failure);
  }
  layer_.show_page(Page::input_help, text);
}

void Shell::report_program_failures() {
  if (state_ != State::idle) return;
  for (const std::string& text : programs_.failures()) status(text);
}

void Shell::run_cycle(const std::string& input_given) {
  layer_.windowclear();

  // The input file. A cancelled dialog leaves everything as it was.
  std::string input_name = input_given;
  if (input_given.empty()) {
    layer_.wselectfile2(shell_text::input_filter, file_dialog::confirm, input_name,
                        shell_text::input_dialog);
    if (layer_.winfodialog(4) != 1) return;
  }
  input_name_ = input_name;
  std::ifstream input(input_name_);
  if (!input) {
    const std::string text = "cannot open the input file " + input_name_;
    layer_.windowoutstring(100, 4000, text);
    status(text);
    return;
  }
  layer_.windowoutstring(100, 2000, "Intput file: " + input_name_);

  // The print-output file; the run's listing replaces what it held.
  std::string output_name;
  if (!input_given.empty()) output_name = fs::path(input_given).replace_extension(".out").string();
  layer_.wselectfile2(shell_text::output_filter, file_dialog::confirm, output_name,
                      shell_text::output_dialog);
  if (layer_.winfodialog(4) != 1) return;  // the input file closes on the way out
  output_name_ = output_name;
  // The listing never replaces the input file or a file that is not a listing of kaven.
  if (const std::string refused = caller_file_refusal(input_name_, output_name_); !refused.empty()) {
    const std::string text = refused + "; choose another print-output file";
    layer_.windowoutstring(100, 4000, text);
    status(text);
    return;
  }
  // Written beside its name and renamed over it when the run is over and it is whole.
  OutputFile listing(output_name_);
  if (!listing.is_open()) {
    const std::string text = "cannot write the print-output file " + output_name_ + ": " +
                             listing.error();
    layer_.windowoutstring(100, 4000, text);
    status(text);
    return;
  }

  set_menu(false);
  status(shell_text::running);
  state_ = State::running;
  layer_.clear_pages();

  // The run, off the interface thread. Relative names in the input (plot file, scan
  // file) are taken from the input file's folder.
  RunOutcome outcome;
  std::string failure;
  RunFiles files;
  std::atomic<bool> cancel{false};
  RunEnvironment env;
  env.base_dir = fs::path(input_name_).parent_path();
  env.input = input_name_;
  env.listing = output_name_;
  env.threads = env_.threads;
  env.cancel = &cancel;
  env.progress = [this](const RunProgress& p) { layer_.show_progress(p.stage, p.fraction); };
  try {
    layer_.run_task([&] { outcome = run_(par_, names_, files, input, listing.stream(), env); },
                    cancel);
  } catch (const std::exception& e) {
    failure = e.what();
  }
  layer_.windowbell(" ");
  files = RunFiles{};
  input.close();
  if (!listing.commit() && failure.empty()) {
    failure = "the listing could not be written: " + listing.error();
    std::error_code ec;
    fs::remove(output_name_, ec);  // an earlier run's listing does not stand for this one
  }

  if (failure.empty() && !outcome.result.files.plot.empty())
    last_plot_ = outcome.result.plotted ? outcome.result.files.plot : std::string();
  report_run(outcome, par_, failure);
  set_menu(true);
  state_ = State::idle;
}


void Shell::report_run(const RunOutcome& outcome, const RunParameters& par, const std::string& failure) {
  const std::string listed = read_file(output_name_);
  const RunResult& result = outcome.result;

  if (!failure.empty() || outcome.ierr > 0) {
    layer_.windowoutstring(100, 4000, "kaven99 finished with an error");
    layer_.windowoutstring(100, 5000, "for more information -->");
    layer_.windowoutstring(100, 6000, "see output file:" + output_name_);
    layer_.show_page(Page::listing, listed);
    status(failure.empty() ? "kaven-99 finished with an error"
                           : "kaven-99 finished with an error: " + failure);
  } else if (outcome.end == RunEnd::stopped) {
    // A check ended the run early: not a completion, whatever ierr says.
    std::string why = stop_summary(outcome.stop_message);
    if (why.empty()) why = "see the print output";
    layer_.windowoutstring(100, 4000, "kaven-99 stopped before the end of the run:");
    layer_.windowoutstring(100, 5000, why);
    layer_.windowoutstring(100, 6000, "see output file:" + output_name_);
    layer_.show_page(Page::listing, listed);
    status("kaven-99 stopped: " + why);
  } else {
    const std::string scan(rec::rtrim(names_.dname2));
    if (scan.empty() || scan.starts_with("undefined"))
      layer_.windowoutstring(100, 4000, "Observed-scan file: undefined");
    else
      layer_.windowoutstring(100, 4000, "Observed-scan file: " + scan);
    const std::string cal(rec::rtrim(names_.calname));
    layer_.windowoutstring(100, 5000,
                           "Calculated-scan file: " +
                               (cal.starts_with("undefined") ? cal.substr(0, 9) : cal));
    status("kaven-99 finished:  graphical output file: " + std::string(rec::rtrim(names_.dname1)) +
           ";  print output file:" + output_name_);
    std::error_code ec;
    const std::string& svg = result.files.plot_svg;
    const bool drawn = !svg.empty() && fs::exists(svg, ec);
    if (drawn) {
      layer_.show_page(Page::listing, listed);
      layer_.show_page(Page::plot, svg);
    } else {
      layer_.show_page(Page::plot, std::string());
      layer_.show_page(Page::listing, listed);
    }
    // The scan to explore and the events as a table; the view comes to the front when
    // there is a scan worth looking at.
    layer_.show_scan(scan_data(par, result));
    if (result.plotted) layer_.show_page(Page::scan, std::string());
  }
}

}  // namespace kaven::gui

namespace kaven::gui {

void Shell::open_cif() {
  layer_.windowclear();
  std::string cif;
  layer_.wselectfile2(shell_text::cif_filter, 0, cif, shell_text::cif_dialog);
  if (layer_.winfodialog(4) != 1) return;
  auto refuse = [&](const std::string& text) {
    layer_.windowoutstring(100, 4000, text);
    status(text);
  };
  CifStructure structure;
  try {
    structure = read_cif_structure(cif);
  } catch (const CifError& e) {
    refuse(cif + ": " + e.what() + "; no input file written");
    return;
  }

  // What was mended while reading, as the command line says it on standard error.
  std::string mended;
  for (const std::string& w : structure.warnings) {
    const std::string line = cif + (w.starts_with("line ") ? " " : ": ") + w;
    mended += (mended.empty() ? "Warning: " : "; ") + line;
  }
  if (!mended.empty()) layer_.windowoutstring(100, 4000, mended);

  // The dialog until its values convert, or the user gives up.
  CifDialogValues values = cif_dialog_defaults(cif, structure.formula);
  values.warnings = structure.warnings;
  std::string message;
  fs::path input;
  CifConversion conversion;
  for (;;) {
    if (!layer_.cif_dialog(values, message)) return;
    message.clear();
    const std::string name = values.input_name;
    input = fs::path(cif).parent_path() / name;
    const CifRunOptions options = cif_run_options(values, input);
    std::error_code ec;
    if (name.empty() || fs::path(name).has_parent_path() || name == "." || name == "..")
      message = "name the new input file (a name, without a folder: it is written beside the CIF)";
    else  // the files as a run takes them: the new input replaces no file kaven did not write
      message = conversion_file_refusal(cif, input, options.plot_file, options.scan_file);
    if (message.empty()) {
      try {
        conversion = input_from_cif(structure, options);
      } catch (const CifError& e) {
        message = e.what();
      }
    }
    if (!message.empty()) continue;
    // An existing file is replaced only when the user says so.
    if (fs::exists(input, ec) && fs::file_size(input, ec) > 0 &&
        !layer_.question(shell_text::cif_title, input.string() + "\nexists. Replace it?"))
      continue;
    // Whole or not at all: a failed write leaves the name as it was.
    const std::string failed = write_file_atomically(input, input_file_text(conversion.deck));
    if (failed.empty()) break;
    message = "cannot write " + input.string() + ": " + failed;
  }

  const InputDeck& d = conversion.deck;
  const std::string written =
      "Input file written: " + input.string() + " (space group " +
      (d.nr <= 230 ? std::to_string(d.nr) + " of the table"
                   : "as " + std::to_string(d.ops.size()) + " explicit operators") +
      ", " + std::to_string(d.atoms.size()) + " atoms)";
  layer_.windowoutstring(100, 2000, written);
  std::string notes;
  for (const std::string& note : conversion.notes) notes += (notes.empty() ? "Note: " : "; ") + note;
  if (!notes.empty()) layer_.windowoutstring(100, 3000, notes);
  if (!mended.empty()) layer_.windowoutstring(100, 4000, mended);
  status(written);
  if (layer_.question(shell_text::cif_title, "Run " + input.string() + " now?"))
    run_cycle(input.string());
}

}  // namespace kaven::gui
