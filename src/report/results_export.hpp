// Results of a run for scripts (pandas, spreadsheets), written beside the listing when
// asked, from the run result after the run. The listing does not change.
//
// Events CSV, one row per event the listing lists (both passes), header:
//   pass, wavelength (Å), h1, k1, l1, f1, phase1 (deg), theta1 (deg), h2, k2, l2, f2,
//   phase2, theta2, triplet_phase (phase1 + phase2 - primary phase, deg, -180..180],
//   ikaven, iaufhe (integrated, cps deg, times K^2), ikaven_peak, iaufhe_peak (cps, the
//   listing's columns: integrated / FWHM), p12, absorption (sqrt(A1 A2)),
//   inverse_absorption (the listing's abs*), crossing (in-out or out-in), fwhm, beta,
//   psi (deg).
// Scan CSV, one row per step i = 0..nstep: psi (deg), calculated (cps), measured (cps,
//   as the comparison and the plot use it; empty where the step holds no measurement).
// Summary JSON: input file, status, radiation and passes, primary reflection, the psi
//   convention, counts, extremes, scale, deviation and the files written.
// Numbers are written in their shortest exact form. A value that is not finite is an
// empty CSV field and null in JSON.
#pragma once
#include <filesystem>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "input/run_parameters.hpp"
#include "report/energy_map_export.hpp"
#include "simulation/run_result.hpp"

namespace kaven {

// The files beside the listing: for "run.out", "run-events.csv", "run-scan.csv" and
// "run.json".
struct ExportPaths {
  std::filesystem::path events_csv, scan_csv, summary_json;
};
ExportPaths export_paths(const std::filesystem::path& listing);

// Whether a file starts as the export of that kind does (a file kaven may replace): the
// header row of a CSV, the opening of the summary with the program's name.
enum class ExportKind { events_csv, scan_csv, summary_json };
bool starts_as_kaven_export(std::istream& is, ExportKind kind);

// What the summary says of the run besides its result.
struct RunStatus {
  std::string input_file;
  bool complete = true;
  std::vector<std::string> stop_message;  // the records of the stop
  int ierr = 0;
  // The plans computed beside the run (kaven --energy-map, --energy-scan), when asked.
  const EnergyMapSummary* energy_map = nullptr;
  const EnergyScanSummary* energy_scan = nullptr;
};

void write_events_csv(std::ostream& os, const RunParameters& par, const RunResult& result);
// The header row of the events CSV, and the fields of one event (pass 1 or 2 at its
// wavelength, its triplet phase in degrees).
const std::vector<std::string>& events_header();
std::vector<std::string> event_csv_fields(int pass, float wavelength, double triplet_deg,
                                          const MultipleDiffractionEvent& event);
// One CSV row: the fields joined by commas, a line end.
void write_csv_row(std::ostream& os, const std::vector<std::string>& fields);
void write_scan_csv(std::ostream& os, const RunParameters& par, const RunResult& result);
void write_summary_json(std::ostream& os, const RunParameters& par, const RunResult& result,
                        const RunStatus& status);

// Writes the files asked for beside the listing and names them in result.files: the
// events CSV (the passes the run listed), the scan CSV (only when the run reached its
// end, so that every step holds a simulated value) and, last, the summary that names
// them all. Returns a message for each file that could not be written.
std::vector<std::string> write_exports(const std::filesystem::path& listing, bool csv, bool json,
                                       const RunParameters& par, RunResult& result,
                                       const RunStatus& status);

}  // namespace kaven
