// The tables of an energy map and an energy scan for scripts, and their part of the run
// summary.
//
// Map CSV, one row per listed event per energy, in the order of the energies and, within
// an energy, of psi: energy_kev, then the columns of the events CSV (pass 1, wavelength
// at that energy, ...; report/results_export.hpp), then `note`. An energy without a listed
// event has one row with its energy, its wavelength and a note ("no event listed",
// "primary reflection out of reach", "monochromator reflection out of reach") and empty
// event fields.
// Energy-scan CSV, one row per energy: energy_kev, wavelength, intensity (cps at the psi
// of the scan), iprim (cps), relative (intensity / iprim - 1, empty without I-prim),
// crossings (that entered), note, events (the crossings that add or take most there,
// strongest first: "h k l in-out psi +cps", separated by "; ").
// Numbers in their shortest exact form, as the other tables.
#pragma once
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "planning/energy_map.hpp"
#include "report/json_writer.hpp"
#include "report/results_export.hpp"

namespace kaven {

// The tables' columns and cells, for every reader of them (the CSV writer here, bindings
// for scripts): the map's event rows of one energy (its energies without events have
// none), the energy scan's row of one energy (an energy out of reach has NaN
// intensities and an empty text for its crossings).
const std::vector<ResultColumn>& map_columns();
void map_rows(const EnergyPoint& point, const RowSink& sink);
const std::vector<ResultColumn>& escan_columns();
std::vector<ResultCell> escan_cells(const EnergyScanPoint& point);

void write_map_csv_header(std::ostream& os);
void write_map_csv_rows(std::ostream& os, const EnergyPoint& point);
void write_escan_csv_header(std::ostream& os);
void write_escan_csv_row(std::ostream& os, const EnergyScanPoint& point);
// Whether a file starts with the header row of that table (a file kaven may replace).
bool starts_as_kaven_map_csv(std::istream& is);
bool starts_as_kaven_escan_csv(std::istream& is);

// What the run summary says of an energy map, gathered energy by energy.
struct EnergyMapSummary {
  EnergyGrid grid;
  double input_kev = 0;         // the input's own energy
  long candidates = 0;          // reflections of the largest sphere searched
  long energies_done = 0;       // energies computed (fewer when cancelled)
  long events = 0;              // rows of events over all energies
  long energies_with_events = 0;
  long out_of_reach = 0;        // energies whose wavelength cannot reach the primary (or the monochromator)
  float largest_peak = 0;       // cps
  double largest_peak_kev = 0;
  std::vector<std::pair<std::string, std::string>> files;  // kind, path
  void add(const EnergyPoint& point);
};

struct EnergyScanSummary {
  EnergyGrid grid;
  float psi = 0;
  double input_kev = 0;
  long energies_done = 0;
  long out_of_reach = 0;
  float max = 0, min = 0;  // intensity at psi (cps)
  double max_kev = 0, min_kev = 0;
  bool any = false;
  std::vector<std::pair<std::string, std::string>> files;
  void add(const EnergyScanPoint& point);
};

// The members "energy_map" and "energy_scan" of the summary object.
void write_energy_map_summary(JsonWriter& j, const EnergyMapSummary& s);
void write_energy_scan_summary(JsonWriter& j, const EnergyScanSummary& s);

}  // namespace kaven
