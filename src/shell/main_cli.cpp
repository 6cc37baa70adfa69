// kaven INPUT [OUTPUT]: one simulation run from the command line.
//
// Exit status: 0 complete run; 1 the run finished with an error (a malformed input
// value or a file that could not be opened); 2 usage error; 3 the run stopped early
// with a message in the listing (the message also goes to standard error).
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "report/record_format.hpp"
#include "shell/run_driver.hpp"

namespace fs = std::filesystem;

namespace {

void usage(std::ostream& os) {
  os << "usage: kaven INPUT [OUTPUT]\n"
        "  Simulates the Renninger (psi) scan described by the input file INPUT and writes\n"
        "  the print-output listing to OUTPUT (default: INPUT with the extension .out),\n"
        "  the calculated scan (.cal) and the PostScript plot named in the input.\n"
        "  File names in the input are taken relative to the folder of INPUT.\n"
        "exit status: 0 complete, 1 finished with an error, 2 usage, 3 stopped early\n";
}

// The closing report on standard output: which files the run wrote.
void report_files(std::ostream& os, const kaven::RunOutcome& outcome) {
  const kaven::RunResult& r = outcome.result;
  os << (outcome.end == kaven::RunEnd::complete ? "kaven: run complete\n"
                                                 : "kaven: run stopped early, see the listing\n");
  os << "  listing:              " << r.files.listing << '\n';
  if (!r.files.cal.empty()) os << "  calculated scan:      " << r.files.cal << '\n';
  if (r.plotted) {
    os << "  plot:                 " << r.files.plot << '\n';
    if (!r.files.plot_svg.empty()) os << "  plot (SVG):           " << r.files.plot_svg << '\n';
  } else if (outcome.end == kaven::RunEnd::complete) {
    os << "  plot:                 none (no event entered the scan or the scan is flat)\n";
  }
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
  if (argc < 2 || argc > 3 || std::string(argv[1]).starts_with("-")) {
    usage(std::cerr);
    return 2;
  }
  fs::path input_path = argv[1];
  fs::path output_path = argc == 3 ? fs::path(argv[2]) : fs::path(input_path).replace_extension(".out");
  std::ifstream input(input_path);
  if (!input) {
    std::cerr << "kaven: cannot open the input file " << input_path.string() << '\n';
    return 1;
  }
  std::ofstream listing(output_path, std::ios::out | std::ios::trunc);
  if (!listing) {
    std::cerr << "kaven: cannot write the print-output file " << output_path.string() << '\n';
    return 1;
  }
  kaven::RunParameters par;
  kaven::RunNames names;
  kaven::RunOutcome outcome;
  {
    kaven::RunFiles files;
    kaven::RunEnvironment env;
    env.base_dir = input_path.parent_path();
    env.listing = output_path;
    env.errors = &std::cerr;
    outcome = kaven::kaven(par, names, files, input, listing, env);
  }
  listing.flush();
  if (!listing) {
    std::cerr << "kaven: writing " << output_path.string() << " failed\n";
    return 1;
  }
  if (outcome.ierr > 0) {
    std::cerr << "kaven: finished with an error, see " << output_path.string() << '\n';
    return 1;
  }
  report_files(std::cout, outcome);
  if (outcome.end == kaven::RunEnd::stopped) return 3;
  return 0;
}
