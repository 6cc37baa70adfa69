// kaven INPUT [OUTPUT] [--csv] [--json]: one simulation run from the command line, with
// results for scripts beside the listing when asked; with --energy-map or --energy-scan
// also a plan of the measurement over energy (a synchrotron input).
// kaven INPUT [OUTPUT] --fit [LIST] | --index: the same run with the analysis of its
// measured scan (the fit of the simulation to it, or the table of its peaks).
// kaven --from-cif STRUCTURE.cif --hkl H K L [options] -o NEW.inp: an input file from a
// CIF.
//
// Exit status: 0 complete run (or input file written); 1 the run finished with an error
// (a malformed input value or a file that could not be opened), or the CIF could not be
// turned into an input file or the input file may not be written; 2 usage error (or an
// option value of --from-cif that means nothing); 3 the run stopped early with a message in
// the listing (the message also goes to standard error).
#include <atomic>
#include <charconv>
#include <csignal>
#include <thread>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cif/input_from_cif.hpp"
#include "report/fit_report.hpp"
#include "report/record_format.hpp"
#include "report/results_export.hpp"
#include "shell/fit_command.hpp"
#include "shell/output_file.hpp"
#include "shell/energy_plan_command.hpp"
#include "shell/run_command.hpp"
#include "shell/run_driver.hpp"
#include "shell/run_files.hpp"
#include "shell/terminal_progress.hpp"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

void usage(std::ostream& os) {
  os << "usage: kaven INPUT [OUTPUT] [--csv] [--json] [--energy-map E1 E2 N] [--energy-scan PSI E1 E2 N]\n"
        "       kaven INPUT [OUTPUT] [--csv] [--json] --fit [LIST] [--dispersion] [--readings] [--interference N]\n"
        "       kaven INPUT [OUTPUT] [--csv] [--json] --index\n"
        "       kaven --from-cif STRUCTURE.cif --hkl H K L [options] -o NEW.inp\n"
        "\n"
        "  Simulates the Renninger (psi) scan described by the input file INPUT and writes\n"
        "  the print-output listing to OUTPUT (default: INPUT with the extension .out),\n"
        "  the calculated scan (.cal) and the PostScript plot named in the input, with an\n"
        "  SVG copy of the plot beside it (.svg).\n"
        "  File names in the input are taken relative to the folder of INPUT.\n"
        "    --csv    also write the listed events of every pass (OUTPUT-events.csv) and\n"
        "             the scan, calculated and measured, step by step (OUTPUT-scan.csv)\n"
        "    --json   also write a summary of the run for scripts (OUTPUT.json)\n"
        "  (OUTPUT here without its extension; the listing does not change.)\n"
        "    --energy-map E1 E2 N\n"
        "             for a synchrotron input, the events of its psi range at N energies\n"
        "             from E1 to E2 keV (2 <= N <= 100000), each computed as a run at that\n"
        "             energy lists them (f', f'' from Cromer-Liberman): OUTPUT-map.csv, one\n"
        "             row per event per energy, and the map page OUTPUT-map.ps with its\n"
        "             SVG copy OUTPUT-map.svg (psi across, energy up)\n"
        "    --energy-scan PSI E1 E2 N\n"
        "             the intensity of the primary reflection at PSI degrees against the\n"
        "             energy (I-prim and every crossing of the turn), with the crossings\n"
        "             that make it: OUTPUT-escan.csv and the plot OUTPUT-escan.svg\n"
        "\n"
        "  The measured scan named in the input (line 12), analysed beside the run:\n"
        "    --index  the peaks and dips of the measured scan with the events that made them\n"
        "             (a section of the listing after the measured summary)\n"
        "    --fit [LIST]  least-squares fit of the simulation to the measured scan, the\n"
        "             parameters of LIST refined (names separated by commas, default\n"
        "             psi,lambda_a,scale,background; also slope, primary, events, diverp,\n"
        "             divers, eta, radius); the peak tables before and after, the fit and\n"
        "             the asymmetry of each peak in the listing, the fitted curve on the\n"
        "             plot, OUTPUT-fit.json, and OUTPUT-fit.inp: the input with the refined\n"
        "             values, which runs as an ordinary input (written only when the fit\n"
        "             converged)\n"
        "    --dispersion  with --fit, synchrotron: f' and f'' at the fitted energy\n"
        "             (Cromer-Liberman) and the fit again with them; both reported\n"
        "    --readings  with --fit: every reading of the measured psi axis the lattice\n"
        "             allows (rotations about h_p), the one the model prefers kept\n"
        "    --interference N  with --fit: the interference term nnn of the fitted model\n"
        "             (default: the input's)\n"
        "\n"
        "  --from-cif writes an input file for the structure of a CIF (cell, space group,\n"
        "  atoms, displacement parameters) and the experiment given by the options:\n"
        "    --hkl H K L            primary reflection (required)\n"
        "    --radiation Cu|Mo|Ag   X-ray tube, K-alpha1 and K-alpha2 (f', f'' from the table)\n"
        "    --wavelength L --synchrotron\n"
        "                           synchrotron line of L Å behind a crystal monochromator\n"
        "                           (f', f'' computed for that energy, Cromer-Liberman)\n"
        "    --polarisation sigma|pi  synchrotron polarisation normal to (sigma, default) or\n"
        "                           in (pi) the scattering plane of the primary reflection\n"
        "    --monochromator A H K L F  cubic monochromator crystal: cell constant (Å),\n"
        "                           reflection, structure factor (default 5.4309 1 1 1 58.19,\n"
        "                           silicon 111)\n"
        "    --divergence P S       beam divergence parallel and normal to the primary\n"
        "                           scattering plane, degrees (default 0.14 0.14 for a tube,\n"
        "                           0.005 0.01 for the synchrotron)\n"
        "    --crystal-radius R     crystal sphere radius, µm (default 150)\n"
        "    --block-radius R       mosaic-block radius, µm (default 150)\n"
        "    --mosaic ETA           mosaic spread, degrees (default 0)\n"
        "    --psi A E              psi range, degrees (default -180 180 for a tube, 0 360\n"
        "                           for the synchrotron)\n"
        "    --steps-per-degree Z   scan steps per degree, negative for no simulated scan\n"
        "                           (default 50)\n"
        "    --interference N       interference term indicator nnn (default 0: none)\n"
        "    --drumin I             intensity threshold of the listing, cps (default 1)\n"
        "    --zeimax I             maximum intensity of the plot, 0 automatic (default 0)\n"
        "    --primary-interval P1 P2  psi interval of the measured primary intensity\n"
        "                           (default: the start of the psi range)\n"
        "    --ub U11 U12 U13 U21 U22 U23 U31 U32 U33  orientation matrix\n"
        "    --scan FILE            measured-scan file (needs --ub)\n"
        "    --title TEXT           title (default: formula, space group, primary reflection,\n"
        "                           CIF name)\n"
        "    --plot FILE            plot file (default: NEW with the extension .ps)\n"
        "    --block NAME           data block of the CIF (default: the first with atoms)\n"
        "  The space group is written as its table number when the CIF's operators are\n"
        "  those of the table's setting, otherwise as explicit operators. NEW.inp replaces\n"
        "  only an empty file or an input file kaven wrote.\n"
        "\n"
        "exit status: 0 complete (or input written), 1 finished with an error (or the CIF\n"
        "could not be converted, or NEW.inp may not be written, or an unknown fit\n"
        "parameter), 2 usage (or an option value that means nothing), 3 stopped early (or\n"
        "the analysis asked for could not be made: no measured scan, a fit that failed)\n";
}

// The closing report on standard output: which files the run wrote.
void report_files(std::ostream& os, const kaven::RunOutcome& outcome) {
  const kaven::RunResult& r = outcome.result;
  os << (outcome.end == kaven::RunEnd::complete ? "kaven: run complete\n"
                                                 : "kaven: run stopped early, see the listing\n");
  os << "  listing:              " << r.files.listing << '\n';
  if (!r.files.cal.empty()) os << "  calculated scan:      " << r.files.cal << '\n';
  if (!r.files.events_csv.empty()) os << "  events (CSV):         " << r.files.events_csv << '\n';
  if (!r.files.scan_csv.empty()) os << "  scan (CSV):           " << r.files.scan_csv << '\n';
  if (!r.files.summary_json.empty()) os << "  summary (JSON):       " << r.files.summary_json << '\n';
  if (r.plotted) {
    os << "  plot:                 " << r.files.plot << '\n';
    if (!r.files.plot_svg.empty()) os << "  plot (SVG):           " << r.files.plot_svg << '\n';
  } else if (outcome.end == kaven::RunEnd::complete) {
    os << "  plot:                 none (no event entered the scan or the scan is flat)\n";
  }
}

struct UsageError {
  std::string what;
};

// The command line after the program name, taken option by option.
class Arguments {
 public:
  Arguments(int argc, char** argv) : args_(argv + 1, argv + argc) {}
  bool done() const { return pos_ >= args_.size(); }
  std::string next() { return args_.at(pos_++); }
  std::string value(const std::string& option) {
    if (done()) throw UsageError{option + " needs a value"};
    return next();
  }
  template <class T>
  T number(const std::string& option) {
    const std::string s = value(option);
    T v{};
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || p != s.data() + s.size())
      throw UsageError{option + ": '" + s + "' is not a number"};
    return v;
  }
  template <class T, std::size_t N>
  std::array<T, N> numbers(const std::string& option) {
    std::array<T, N> a{};
    for (T& v : a) v = number<T>(option);
    return a;
  }

 private:
  std::vector<std::string> args_;
  std::size_t pos_ = 0;
};

int from_cif(Arguments& args) {
  kaven::CifRunOptions o;
  std::string cif_path, output, block;
  bool hkl = false, synchrotron = false, synchrotron_only = false;
  while (!args.done()) {
    const std::string a = args.next();
    if (a == "--from-cif") cif_path = args.value(a);
    else if (a == "-o") output = args.value(a);
    else if (a == "--hkl") o.hkl = args.numbers<int, 3>(a), hkl = true;
    else if (a == "--radiation") o.tube = args.value(a);
    else if (a == "--wavelength") o.wavelength = args.number<float>(a);
    else if (a == "--synchrotron") synchrotron = true;
    else if (a == "--polarisation") {
      const std::string v = args.value(a);
      if (v != "sigma" && v != "pi") throw UsageError{"--polarisation is sigma or pi"};
      o.isyn = v == "sigma" ? 1 : 2;
      synchrotron_only = true;
    } else if (a == "--monochromator") {
      o.mono.a = args.number<float>(a);
      o.mono.hkl = args.numbers<int, 3>(a);
      o.mono.f = args.number<float>(a);
      synchrotron_only = true;
    } else if (a == "--divergence") o.divergence = args.numbers<float, 2>(a);
    else if (a == "--crystal-radius") o.rkugel_um = args.number<float>(a);
    else if (a == "--block-radius") o.radius_um = args.number<float>(a);
    else if (a == "--mosaic") o.eta = args.number<float>(a);
    else if (a == "--psi") o.psi_range = args.numbers<float, 2>(a);
    else if (a == "--steps-per-degree") o.zsw1 = args.number<float>(a);
    else if (a == "--interference") o.nnn = args.number<int>(a);
    else if (a == "--drumin") o.drumin = args.number<float>(a);
    else if (a == "--zeimax") o.zeimax = args.number<float>(a);
    else if (a == "--primary-interval") o.primary_interval = args.numbers<float, 2>(a);
    else if (a == "--ub") o.ub = args.numbers<float, 9>(a);
    else if (a == "--scan") o.scan_file = args.value(a);
    else if (a == "--title") o.title = args.value(a);
    else if (a == "--plot") o.plot_file = args.value(a);
    else if (a == "--block") block = args.value(a);
    else throw UsageError{"unknown option " + a};
  }
  if (cif_path.empty() || output.empty() || !hkl)
    throw UsageError{"--from-cif needs the CIF, --hkl H K L and -o NEW.inp"};
  if (std::string why = kaven::cif_radiation_problem(
          o, synchrotron, synchrotron_only, [](std::string_view option) { return "--" + std::string(option); });
      !why.empty())
    throw UsageError{why};
  if (o.plot_file.empty()) o.plot_file = kaven::default_plot_file(output);
  o.cif_name = fs::path(cif_path).filename().string();

  // Every option value before anything is read or written: a value that means nothing
  // is an error of the command line (status 2), as an unknown option is.
  if (const auto problems = kaven::cif_option_problems(o); !problems.empty()) {
    for (const kaven::CifOptionProblem& p : problems) std::cerr << "kaven: " << p.option << ": " << p.message << '\n';
    std::cerr << "kaven: no input file written\n";
    return 2;
  }
  // The files as a run takes them (shell/run_files.hpp): the new input file replaces
  // no file kaven did not write.
  if (const std::string refused = kaven::conversion_file_refusal(cif_path, output, o.plot_file, o.scan_file);
      !refused.empty()) {
    std::cerr << "kaven: " << refused << "; no input file written\n";
    return 1;
  }
  kaven::CifConversion conv;
  try {
    const kaven::CifStructure cif = kaven::read_cif_structure(cif_path, block);
    for (const std::string& w : cif.warnings)
      std::cerr << "kaven: warning: " << cif_path << (w.starts_with("line ") ? " " : ": ") << w << '\n';
    conv = kaven::input_from_cif(cif, o);
  } catch (const kaven::CifError& e) {
    std::cerr << "kaven: " << cif_path << ": " << e.what() << "; no input file written\n";
    return 1;
  }
  for (const std::string& note : conv.notes) std::cerr << "kaven: note: " << note << '\n';
  // Whole or not at all: a full disk leaves the name as it was.
  if (const std::string failed = kaven::write_file_atomically(output, kaven::input_file_text(conv.deck));
      !failed.empty()) {
    std::cerr << "kaven: " << failed << "; no input file written\n";
    return 1;
  }
  const kaven::InputDeck& d = conv.deck;
  std::cout << "kaven: wrote " << output << ": space group "
            << (d.nr <= 230 ? std::to_string(d.nr) + " of the table"
                            : "as " + std::to_string(d.ops.size()) + " explicit operators")
            << ", " << d.atoms.size() << " atoms, " << d.elements.size() << " elements\n";
  return 0;
}

// Ctrl-C, a termination request or a closed terminal ends the run as the desktop
// program's close does: the run stops at its next check, its unfinished files are
// removed and the listing says so. The signals are blocked and taken by a thread of its
// own, which sets the run's cancel flag; a second signal ends the program at once.
class InterruptWatch {
 public:
  explicit InterruptWatch(std::atomic<bool>& cancel) {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    sigaddset(&signals_, SIGHUP);  // the terminal closed
    pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
    thread_ = std::thread([this, &cancel] {
      const timespec tick{0, 100'000'000};
      while (!done_.load()) {
        const int sig = sigtimedwait(&signals_, nullptr, &tick);
        if (sig > 0 && cancel.exchange(true)) _exit(128 + sig);
      }
    });
  }
  ~InterruptWatch() {
    done_.store(true);
    thread_.join();
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

 private:
  sigset_t signals_{}, previous_{};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// --energy-map E1 E2 N and --energy-scan PSI E1 E2 N.
struct EnergyOptions {
  std::optional<kaven::EnergyGrid> map;
  std::optional<kaven::EnergyScanRequest> scan;
  bool any() const { return map || scan; }
};

// Takes the option at argv[i] with its values when it is one of them (i then stands on
// its last value).
bool take_energy_option(int argc, char** argv, int& i, EnergyOptions& o) {
  const std::string a = argv[i];
  if (a != "--energy-map" && a != "--energy-scan") return false;
  auto number = [&](auto& v) {
    if (++i >= argc) throw UsageError{a + " needs its values"};
    const std::string s = argv[i];
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || p != s.data() + s.size())
      throw UsageError{a + ": '" + s + "' is not a number"};
  };
  kaven::EnergyGrid g;
  float psi = 0;
  if (a == "--energy-scan") number(psi);
  number(g.e1_kev);
  number(g.e2_kev);
  number(g.n);
  if (std::string why = kaven::energy_grid_problem(g); !why.empty()) throw UsageError{a + ": " + why};
  if (a == "--energy-map") o.map = g;
  else o.scan = kaven::EnergyScanRequest{psi, g};
  return true;
}

int run(const fs::path& input_path, const fs::path& output_path, bool csv, bool json,
        const EnergyOptions& energy) {
  kaven::RunRequest request;
  std::atomic<bool> interrupted{false};
  InterruptWatch watch(interrupted);
  request.cancel = &interrupted;
  request.input = input_path;
  request.output = output_path;
  request.csv = csv;
  request.json = json;
  // A bar on standard error for a run that lasts, when that is a terminal; the messages
  // of the run follow once the bar is gone.
  kaven::TerminalProgress progress(std::cerr, isatty(STDERR_FILENO) == 1);
  request.progress = [&progress](const kaven::RunProgress& p) { progress.report(p); };
  // Said at once, before the work it announces; the bar is drawn again after it.
  request.notice = [&progress](const std::string& text) {
    progress.finish();
    std::cerr << "kaven: " << text << std::endl;
  };
  // The plans over energy read the input first: a tube input is refused before any
  // file is written.
  kaven::EnergyRunRequest plans;
  plans.run = std::move(request);
  plans.map = energy.map;
  plans.scan = energy.scan;
  kaven::EnergyRunResult out;
  kaven::energy_run_command(plans, out);
  if (!out.refused.empty()) {
    std::cerr << "kaven: " << out.refused << "; nothing written\n";
    return 1;
  }
  const kaven::RunCommandResult& r = out.run;
  progress.finish();
  for (const std::string& m : r.messages) std::cerr << "kaven: " << m << '\n';
  std::cerr << std::flush;
  if (r.status == 1) return 1;
  report_files(std::cout, r.outcome);
  for (const auto& [what, file] : out.plans.outcome.written) {
    const std::string label = what + ":";
    std::cout << "  " << label << std::string(label.size() < 22 ? 22 - label.size() : 1, ' ') << file << '\n';
  }
  return r.status;
}

// The analysis of the measured scan asked for on the command line.
struct AnalysisArguments {
  bool fit = false, index = false, dispersion = false, readings = false;
  std::string list;  // the fit's parameters, empty for the default ones
  int nnn = -1;
  bool any() const { return fit || index || dispersion || readings || nnn >= 0; }
};

// A parameter list: names and commas only (a file name has a dot or a slash).
bool looks_like_list(const std::string& a) {
  return !a.empty() && a.find_first_not_of("abcdefghijklmnopqrstuvwxyz_0123456789,") == std::string::npos;
}

// Takes the analysis option at argv[i] with its values; false when argv[i] is none.
bool analysis_argument(int argc, char** argv, int& i, AnalysisArguments& a) {
  const std::string arg = argv[i];
  if (arg == "--fit") {
    a.fit = true;
    if (i + 1 < argc && looks_like_list(argv[i + 1])) a.list = argv[++i];
  } else if (arg.starts_with("--fit=")) {
    a.fit = true;
    a.list = arg.substr(6);
  } else if (arg == "--index") {
    a.index = true;
  } else if (arg == "--dispersion") {
    a.dispersion = true;
  } else if (arg == "--readings") {
    a.readings = true;
  } else if (arg == "--interference") {
    if (i + 1 >= argc) throw UsageError{"--interference needs a value"};
    const std::string v = argv[++i];
    int n = -1;
    auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
    if (ec != std::errc() || p != v.data() + v.size() || n < 0)
      throw UsageError{"--interference: '" + v + "' is not a count"};
    a.nnn = n;
  } else {
    return false;
  }
  return true;
}

int run_analysis(const fs::path& input_path, const fs::path& output_path, bool csv, bool json,
                 const AnalysisArguments& a) {
  if (!a.fit && (a.dispersion || a.readings || a.nnn >= 0))
    throw UsageError{"--dispersion, --readings and --interference go with --fit"};
  kaven::AnalysisRequest request;
  request.run.input = input_path;
  request.run.output = output_path;
  request.run.csv = csv;
  request.run.json = json;
  request.fit = a.fit;
  request.index = a.index;
  if (a.fit) {
    const kaven::FitListResult list = kaven::parse_fit_parameters(a.list);
    if (!list.error.empty()) {
      std::cerr << "kaven: " << list.error << "; nothing written\n";
      return 1;
    }
    request.options.refine = list.parameters;
    request.options.dispersion_at_fitted_energy = a.dispersion;
    request.options.readings = a.readings;
    request.options.nnn = a.nnn;
  }
  std::atomic<bool> interrupted{false};
  InterruptWatch watch(interrupted);
  request.run.cancel = &interrupted;  // Ctrl-C ends the run and the fit
  kaven::TerminalProgress progress(std::cerr, isatty(STDERR_FILENO) == 1);
  request.run.progress = [&progress](const kaven::RunProgress& p) { progress.report(p); };
  request.run.notice = [&progress](const std::string& text) {
    progress.finish();
    std::cerr << "kaven: " << text << std::endl;
  };
  const kaven::AnalysisResult r = kaven::analysis_command(request);
  progress.finish();
  for (const std::string& m : r.run.messages) std::cerr << "kaven: " << m << '\n';
  std::cerr << std::flush;
  if (r.run.status == 1) return 1;
  report_files(std::cout, r.run.outcome);
  if (!r.fit_json.empty()) std::cout << "  fit (JSON):           " << r.fit_json.string() << '\n';
  if (!r.refined_input.empty()) std::cout << "  refined input:        " << r.refined_input.string() << '\n';
  if (r.fit && r.fit->ok) {
    const kaven::ScanFitSolution& s = kaven::written_solution(*r.fit);
    char line[256];
    std::snprintf(line, sizeof line,
                  "  fit: R %.4f, R(w) %.4f, chi2/dof %.4g; wavelength %.6f A (%.2f eV), psi offset %.4f deg\n",
                  s.quality.r, s.quality.r_weighted, s.quality.chi2_dof, s.wavelength_A, s.energy_eV,
                  s.values[kaven::FitParameter::psi_offset]);
    std::cout << line;
  }
  return r.run.status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2) {
    std::string a = argv[1];
    if (a == "--help" || a == "-h") {
      usage(std::cout);
      return 0;
    }
    if (a == "--version") {
      std::cout << "kaven " << KAVEN_VERSION << '\n';
      return 0;
    }
  }
  try {
    for (int i = 1; i < argc; ++i)
      if (std::string(argv[i]) == "--from-cif") {
        Arguments args(argc, argv);
        return from_cif(args);
      }
    std::vector<std::string> files;
    bool csv = false, json = false;
    AnalysisArguments analysis;
    EnergyOptions energy;
    for (int i = 1; i < argc; ++i) {
      const std::string a = argv[i];
      if (a == "--csv") csv = true;
      else if (a == "--json") json = true;
      else if (analysis_argument(argc, argv, i, analysis)) continue;
      else if (take_energy_option(argc, argv, i, energy)) continue;
      else if (a.starts_with("-")) throw UsageError{"unknown option " + a};
      else files.push_back(a);
    }
    if (files.empty() || files.size() > 2) throw UsageError{};
    const fs::path input_path = files[0];
    const fs::path output_path =
        files.size() == 2 ? fs::path(files[1]) : kaven::default_listing_name(input_path);
    if (analysis.any() && energy.any())
      throw UsageError{"--fit and --index do not go with --energy-map or --energy-scan"};
    if (analysis.any()) return run_analysis(input_path, output_path, csv, json, analysis);
    return run(input_path, output_path, csv, json, energy);
  } catch (const UsageError& e) {
    if (!e.what.empty()) std::cerr << "kaven: " << e.what << '\n';
    usage(std::cerr);
    return 2;
  }
}
