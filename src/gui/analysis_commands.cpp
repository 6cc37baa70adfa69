// The commands of the desktop program beside the run: the energy map of a synchrotron
// input and the analysis of the measured scan (the fit, the peak table). Each is the
// command line's run with its option, through the same library calls
// (shell/energy_plan_command.hpp, shell/fit_command.hpp), so that the window writes the
// files `kaven INPUT OUTPUT --energy-map E1 E2 N`, `--fit LIST ...` or `--index` writes;
// the dialogs only gather the option values, which the library checks.
#include <algorithm>
#include <cstdio>

#include "analysis/fit_parameters.hpp"
#include "gui/shell.hpp"
#include "planning/energy_parameters.hpp"
#include "report/fit_report.hpp"
#include "shell/energy_plan_command.hpp"
#include "shell/fit_command.hpp"

namespace kaven::gui {

namespace fs = std::filesystem;

namespace {

std::string joined(const std::vector<std::string>& messages) {
  std::string s;
  for (const std::string& m : messages) s += (s.empty() ? "" : "; ") + m;
  return s;
}

std::string fixed(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

}  // namespace

EnergyMapValues energy_map_defaults(const std::string& input, double input_kev) {
  EnergyMapValues v;
  v.input = input;
  v.input_kev = input_kev;
  v.e1_kev = input_kev - 0.5;
  v.e2_kev = input_kev + 0.5;
  v.n = 101;
  return v;
}

FitDialogValues fit_dialog_defaults(const std::string& input) {
  FitDialogValues v;
  v.input = input;
  const std::vector<FitParameter> refined = default_fit_parameters();
  for (const FitParameterInfo& p : fit_parameter_table())
    v.parameters.emplace_back(std::string(p.name),
                              std::find(refined.begin(), refined.end(), p.id) != refined.end());
  return v;
}

std::string fit_options_of(const FitDialogValues& values, FitOptions& options) {
  std::string list;
  for (const auto& [name, refined] : values.parameters)
    if (refined) list += (list.empty() ? "" : ",") + name;
  // An empty list is the library's default one: here it means that none was chosen.
  if (list.empty()) return "choose at least one parameter to fit";
  const FitListResult parsed = parse_fit_parameters(list);
  if (!parsed.error.empty()) return parsed.error;
  options.refine = parsed.parameters;
  options.dispersion_at_fitted_energy = values.dispersion;
  options.readings = values.readings;
  options.nnn = values.nnn;
  return {};
}

bool Shell::choose_files() {
  // The current files are proposed: the commands work on the input last run.
  std::string input = input_name_;
  layer_.wselectfile2(shell_text::input_filter, file_dialog::confirm, input, shell_text::input_dialog);
  if (layer_.winfodialog(4) != 1) return false;
  std::string output = output_name_.empty() || input != input_name_
                           ? default_listing_name(input).string()
                           : output_name_;
  layer_.wselectfile2(shell_text::output_filter, file_dialog::confirm, output,
                      shell_text::output_dialog);
  if (layer_.winfodialog(4) != 1) return false;
  input_name_ = input;
  output_name_ = output;
  layer_.windowoutstring(100, 2000, "Input file: " + input_name_);
  return true;
}

RunCommandResult Shell::run_request(RunRequest& request,
                                    const std::function<RunCommandResult()>& work) {
  set_menu(false);
  status(shell_text::running);
  state_ = State::running;
  layer_.clear_pages();

  std::atomic<bool> cancel{false};
  request.input = input_name_;
  request.output = output_name_;
  request.threads = env_.threads;
  request.cancel = &cancel;
  request.progress = [this](const RunProgress& p) { layer_.show_progress(p.stage, p.fraction); };
  RunCommandResult r;
  std::string failure;
  try {
    layer_.run_task([&] { r = work(); }, cancel);
  } catch (const std::exception& e) {
    failure = e.what();
  }
  layer_.windowbell(" ");
  if (failure.empty() && r.status == 1) failure = joined(r.messages);
  if (!r.ran) {
    // Refused before the listing was opened: nothing was written.
    const std::string text = failure.empty() ? "nothing was run" : failure;
    layer_.windowoutstring(100, 4000, text);
    status(text);
  } else {
    names_ = r.names;
    if (failure.empty() && !r.outcome.result.files.plot.empty())
      last_plot_ = r.outcome.result.plotted ? r.outcome.result.files.plot : std::string();
    report_run(r.outcome, r.par, failure);
  }
  set_menu(true);
  state_ = State::idle;
  return r;
}

void Shell::energy_map() {
  layer_.windowclear();
  if (!choose_files()) return;
  auto refuse = [&](const std::string& text) {
    layer_.windowoutstring(100, 4000, text);
    status(text);
  };

  // The input is read first: a tube input is refused before anything is run.
  EnergyPlansBesideRun plans;
  plans.plan.map = EnergyGrid{};
  if (const std::string why = read_plan_crystal(input_name_, plans); !why.empty()) {
    refuse("no energy map: " + why);
    return;
  }
  if (!plans.crystal) {
    refuse("no energy map: " + input_name_ + " cannot be read as an input file (Start KAVEN-99 lists why)");
    return;
  }
  EnergyMapValues values =
      energy_map_defaults(input_name_, energy_of_wavelength(plans.crystal->par.alam1));
  std::string message;
  for (;;) {
    if (!layer_.energy_map_dialog(values, message)) return;
    message = energy_grid_problem({values.e1_kev, values.e2_kev, values.n});
    if (message.empty()) break;
  }
  plans.plan.map = EnergyGrid{values.e1_kev, values.e2_kev, values.n};

  RunRequest request;
  request.output = output_name_;  // the map's files are named after the listing
  add_energy_plans(request, plans);
  const RunCommandResult r = run_request(request, [&] { return run_command(request); });
  if (!r.ran) return;
  const EnergyPlanPaths paths = energy_plan_paths(output_name_);
  const EnergyPlanOutcome& out = plans.outcome;
  if (out.ok && out.map) {
    const EnergyMapSummary& m = *out.map;
    std::string text = "energy map: " + std::to_string(m.energies_done) + " energies from " +
                       fixed(m.grid.e1_kev, 4) + " to " + fixed(m.grid.e2_kev, 4) + " keV, " +
                       std::to_string(m.events) + " listed events";
    if (m.events > 0)
      text += ", the strongest " + fixed(m.largest_peak, 1) + " cps at " + fixed(m.largest_peak_kev, 4) + " keV";
    text += "; page " + paths.map_svg.string();
    layer_.windowoutstring(100, 7000, text);
    layer_.show_page(Page::energy_map, paths.map_svg.string());
    status(text);
  } else {
    const std::string why = out.messages.empty() ? "no energy map" : joined(out.messages);
    layer_.windowoutstring(100, 7000, why);
    status(why);
  }
}

void Shell::analyse(bool fit) {
  layer_.windowclear();
  if (!choose_files()) return;
  AnalysisRequest request;
  request.fit = fit;
  request.index = !fit;
  if (fit) {
    FitDialogValues values = fit_dialog_defaults(input_name_);
    std::string message;
    for (;;) {
      if (!layer_.fit_dialog(values, message)) return;
      message = fit_options_of(values, request.options);
      if (message.empty()) break;
    }
  }
  AnalysisResult a;
  const RunCommandResult r = run_request(request.run, [&] {
    a = analysis_command(request);
    return a.run;
  });
  if (!r.ran || r.status == 1) return;

  if (fit && a.fit && a.fit->ok) {
    const ScanFitSolution& s = written_solution(*a.fit);
    std::string text = "fit: R " + fixed(s.quality.r, 4) + ", R(w) " + fixed(s.quality.r_weighted, 4);
    if (r.par.isyn > 0)
      text += ", energy " + fixed(s.energy_eV / 1000, 5) + " keV (" + fixed(s.wavelength_A, 6) + " A)";
    else
      text += ", cell a " + fixed(s.cell_a, 5) + " A";
    text += ", psi offset " + fixed(s.values[FitParameter::psi_offset], 4) + " deg";
    layer_.windowoutstring(100, 7000, text);
    if (!a.refined_input.empty()) {
      const std::string refined = a.refined_input.string();
      text += "; refined input written: " + refined;
      status(text);
      if (layer_.question(shell_text::fit_title,
                          "The refined input was written to\n" + refined +
                              "\nOpen it as the current input?")) {
        input_name_ = refined;
        output_name_ = default_listing_name(refined).string();
        layer_.windowoutstring(100, 8000, "Current input: " + input_name_);
      }
    } else {
      status(text);
    }
    return;
  }
  if (!fit && a.peaks) {
    const std::string text = "peak table: " + std::to_string(a.peaks->peaks.size()) +
                             " peaks and dips of the measured scan indexed (see the listing)";
    layer_.windowoutstring(100, 7000, text);
    status(text);
    return;
  }
  // The analysis could not be made: the library's message.
  const std::string why = joined(r.messages);
  if (!why.empty()) {
    layer_.windowoutstring(100, 7000, why);
    status(why);
  }
}

}  // namespace kaven::gui
