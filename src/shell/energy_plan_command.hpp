// Planning a measurement beside a run: kaven INPUT [OUTPUT] --energy-map E1 E2 N and
// --energy-scan PSI E1 E2 N (planning/energy_map.hpp for what they compute).
//
// Files, beside the listing (OUTPUT without its extension): OUTPUT-map.csv, the map
// page OUTPUT-map.ps with its SVG copy OUTPUT-map.svg; OUTPUT-escan.csv and the plot
// OUTPUT-escan.svg. Each is written to a temporary file and renamed only when it is
// whole (shell/output_file.hpp): a map that fails or is cancelled leaves none of them,
// and no name holds half a file. The tables are written energy by energy as the plan
// delivers them; only the page's picture is kept until the end.
#pragma once
#include <atomic>
#include <filesystem>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "planning/energy_map.hpp"
#include "report/energy_map_export.hpp"
#include "report/listing.hpp"
#include "shell/run_command.hpp"
#include "shell/run_driver.hpp"
#include "shell/run_files.hpp"

namespace kaven {

struct EnergyPlanPaths {
  std::filesystem::path map_csv, map_ps, map_svg, escan_csv, escan_svg;
};
// For the listing "run.out": "run-map.csv", "run-map.ps", "run-map.svg",
// "run-escan.csv", "run-escan.svg".
EnergyPlanPaths energy_plan_paths(const std::filesystem::path& listing);

// Reads input lines 1 to 12 as a run reads them (nothing listed, no file opened) into
// the crystal of a plan. Ends (RunStopped) with the read error of a line.
EnergyCrystal read_energy_crystal(std::istream& input);

struct EnergyScanRequest {
  float psi = 0;  // degrees
  EnergyGrid grid;
};

struct EnergyPlanRequest {
  std::optional<EnergyGrid> map;
  std::optional<EnergyScanRequest> scan;
  int threads = 0;                                    // 0: all cores
  std::function<void(const RunProgress&)> progress;  // optional: "energy map", "energy scan"
  const std::atomic<bool>* cancel = nullptr;          // optional
  // Optional: each energy as its row is written, in the order of the grid, on one of
  // the working threads, one call at a time (a script keeps the rows).
  std::function<void(const EnergyPoint&)> map_point;
  std::function<void(const EnergyScanPoint&)> scan_point;
};

// Why a request cannot be computed for the crystal (tube radiation; a psi off the psi
// axis of the radiation), or empty.
std::string energy_request_problem(const EnergyPlanRequest& request, const EnergyCrystal& crystal);

// The files of a request, with the roles their checks take.
std::vector<ExportFile> energy_plan_files(const EnergyPlanRequest& request, const EnergyPlanPaths& paths);

struct EnergyPlanOutcome {
  bool ok = true;                     // every file asked for was written whole
  std::vector<std::string> messages;  // why not (without the program's name)
  std::optional<EnergyMapSummary> map;
  std::optional<EnergyScanSummary> scan;
  std::vector<std::pair<std::string, std::string>> written;  // what, file
};

// Computes what the request asks for and writes its files.
EnergyPlanOutcome run_energy_plans(const EnergyCrystal& crystal, const EnergyPlanRequest& request,
                                   const EnergyPlanPaths& paths);

// The files of a map or a scan computed already (kept as values), written whole or not
// at all; the summaries are filled as the files are written. Empty on success, else why.
std::string write_energy_map_files(const EnergyPlanPaths& paths, const EnergyPlan& plan,
                                   const EnergyGrid& grid, const std::vector<EnergyPoint>& points,
                                   EnergyMapSummary* summary = nullptr);
std::string write_energy_scan_files(const EnergyPlanPaths& paths, const EnergyPlan& plan,
                                    const EnergyScanRequest& scan, const std::vector<EnergyScanPoint>& points,
                                    EnergyScanSummary* summary = nullptr);

// The plans beside a run, as `kaven INPUT --energy-map ...` and the desktop program's
// energy map compute them: the input read before the run, the files checked with the
// run's before its listing is opened, the plans computed after the run.
struct EnergyPlansBesideRun {
  EnergyPlanRequest plan;
  std::optional<EnergyCrystal> crystal;  // none: the input could not be read (the run lists why)
  EnergyPlanOutcome outcome;
  EnergyMapSummary map_summary;  // the summaries the run's JSON file names
  EnergyScanSummary scan_summary;
};

// Reads the crystal of `input` into `beside` and says why its plans cannot be computed
// (a tube input, a psi off the psi axis): then nothing may be written. Empty when they
// can, or when the input cannot be read (the run then stops with the read error).
std::string read_plan_crystal(const std::filesystem::path& input, EnergyPlansBesideRun& beside);

// Adds the plans to the run of `request`: their files (named after request.output) join
// the caller's files, and after the run they are computed with the run's progress and
// cancel flag. `beside` and `request` must outlive run_command.
void add_energy_plans(RunRequest& request, EnergyPlansBesideRun& beside);

// A run with its plans over energy after it, as `kaven INPUT [OUTPUT] --energy-map E1 E2 N
// --energy-scan PSI E1 E2 N` makes it. The input's first twelve lines are read before
// the run: an input the plans cannot take (tube radiation, a psi off the axis) is
// refused with nothing written. An input that cannot be read is left to the run, whose
// listing says why (and no plan is made). The plans take the run's threads, progress
// and cancel.
struct EnergyRunRequest {
  RunRequest run;  // run.input is read (not an input text)
  std::optional<EnergyGrid> map;
  std::optional<EnergyScanRequest> scan;
  std::function<void(const EnergyPoint&)> map_point;       // as in EnergyPlanRequest
  std::function<void(const EnergyScanPoint&)> scan_point;  // as in EnergyPlanRequest
};

// run.summary points at the summaries in `plans`: the result stays where it was filled.
struct EnergyRunResult {
  std::string refused;  // why the plans cannot be made for the input; nothing was run
  RunCommandResult run;
  EnergyPlansBesideRun plans;  // plans.outcome.written: the plans' files (what, file)

  EnergyRunResult() = default;
  EnergyRunResult(const EnergyRunResult&) = delete;
  EnergyRunResult& operator=(const EnergyRunResult&) = delete;
};
void energy_run_command(const EnergyRunRequest& request, EnergyRunResult& out);

}  // namespace kaven
