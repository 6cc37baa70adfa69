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
#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "input/run_parameters.hpp"
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

struct EnergyMapSummary;   // report/energy_map_export.hpp
struct EnergyScanSummary;

// What the summary says of the run besides its result.
struct RunStatus {
  std::string input_file;  // empty for a run of an input text (null in the summary)
  bool complete = true;
  std::vector<std::string> stop_message;  // the records of the stop
  int ierr = 0;
  // The plans computed beside the run (kaven --energy-map, --energy-scan), when asked.
  const EnergyMapSummary* energy_map = nullptr;
  const EnergyScanSummary* energy_scan = nullptr;
};

// The tables of the CSV files, for every reader of them: the CSV writer here and the
// Python module (a dict of arrays keyed by the column names). A cell holds the value as
// the run stored it (a float stays a float, psi of a step is a double); the CSV writes
// it in its shortest exact form, empty when it is not finite.
enum class ColumnKind { integer, real32, real64, text };
struct ResultColumn {
  std::string_view name;
  ColumnKind kind;
};
using ResultCell = std::variant<int, float, double, std::string>;  // in the order of ColumnKind
// Called once per row with its cells in the order of the columns (the vector is reused).
using RowSink = std::function<void(const std::vector<ResultCell>&)>;

const std::vector<ResultColumn>& events_columns();
const std::vector<ResultColumn>& scan_columns();
// The events the listing lists, pass after pass, in the listing's order.
void event_rows(const RunParameters& par, const RunResult& result, const RowSink& sink);
// The cells of one event: of pass 1 or 2 at its wavelength, with its triplet phase (deg).
std::vector<ResultCell> event_cells(int pass, float wavelength, double triplet_deg,
                                    const MultipleDiffractionEvent& event);
// A CSV header of the columns, and a row of cells (numbers in their shortest exact form,
// empty when not finite).
void write_csv_header(std::ostream& os, const std::vector<ResultColumn>& columns);
void write_csv_row(std::ostream& os, const std::vector<ResultCell>& cells);
// Every step of the scan; the measured value is NaN where the step holds no measurement.
void scan_rows(const RunParameters& par, const RunResult& result, const RowSink& sink);

// The lines of a stop message as the summary lists them: each record without its
// leading and trailing blanks, blank records left out.
std::vector<std::string> message_lines(const std::vector<std::string>& records);

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

}  // namespace kaven
