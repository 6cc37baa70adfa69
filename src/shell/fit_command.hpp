// A run with the analysis of its measured scan, as the command line performs it
// (kaven INPUT [OUTPUT] --fit [LIST] or --index): the run itself (run_command.hpp) with
// the analysis in the driver's hook, where the fit or the peak table is computed and
// listed after the measured summary and the fitted curve is left for the plot; then the
// fit's files beside the listing:
//   OUTPUT-fit.json  the fit's results (report/fit_report.hpp), also when it failed;
//   OUTPUT-fit.inp   the input with the refined values, only after a fit that
//                    converged. Its plot file is OUTPUT-fit.ps beside it and its
//                    measured scan the run's, named from its folder, so that it runs as
//                    an ordinary input and simulates the fitted curve.
// A fit that fails writes no refined input, and removes the one an earlier fit left
// under that name (unchanged since), so that none is taken for this run's. The files
// go through OutputFile: whole or not at all.
//
// Exit status as run_command's, and 3 (stopped short, with the message in the listing
// and on standard error) for an analysis that could not be made: no measured scan, too
// few measured points, parameters that are one in disguise, a fit that did not converge.
#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "analysis/scan_fit.hpp"
#include "shell/run_command.hpp"

namespace kaven {

struct AnalysisRequest {
  RunRequest run;
  bool fit = false;    // the fit (it lists the peak tables too)
  bool index = false;  // the peak table alone (without a fit)
  FitOptions options;
};

// The fit's files beside a listing: for "run.out", "run-fit.json", "run-fit.inp" and the
// refined input's plot file "run-fit.ps".
struct FitPaths {
  std::filesystem::path json, refined_input, refined_plot;
};
FitPaths fit_paths(const std::filesystem::path& listing);

struct AnalysisResult {
  RunCommandResult run;  // status and messages of the whole command
  std::optional<ScanFitResult> fit;
  std::optional<PeakTable> peaks;
  std::filesystem::path fit_json;       // written (empty when not)
  std::filesystem::path refined_input;  // written (empty when not)
};

AnalysisResult analysis_command(const AnalysisRequest& request);

// The fit's files for a fit made in some other run (the desktop program's): the JSON file
// always, the refined input after a converged fit (removing a stale one otherwise).
// `par` is the run record after the run (its input values), `input` the input file.
// Returns a message for each file that could not be written; fills the paths written.
std::vector<std::string> write_fit_files(const std::filesystem::path& listing,
                                         const std::filesystem::path& input,
                                         const RunParameters& par, const ScanFitResult& fit,
                                         AnalysisResult& written);

}  // namespace kaven
