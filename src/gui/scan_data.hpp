// What the window's scan view and event table show of a run, copied out of the run
// result so that the window keeps it while the next run overwrites the run record: the
// calculated and the measured scan on their psi steps, the primary's level and the
// listed events. The texts of an event (table cells, tooltip lines) are made here too,
// so that both show the same values the same way.
#pragma once
#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "input/run_parameters.hpp"
#include "simulation/listed_events.hpp"
#include "simulation/run_result.hpp"

namespace kaven::gui {

struct ScanData {
  std::string title;
  std::array<int, 3> primary{};
  std::vector<double> psi;         // degrees, one per step
  std::vector<float> calculated;   // cps per step
  // cps per step, kNoMeasurement where nothing was measured; empty without a measured
  // scan. Drawn `measured_shift` steps further, as the plot draws it (the shift of its
  // best match with the calculation).
  std::vector<float> measured;
  int measured_shift = 0;
  // The simulation fitted to the measured scan (a fit beside the run), in its units and
  // moved with it, kNoMeasurement where not drawn; empty without a fit.
  std::vector<float> fitted;
  float iprim = 0;       // I-prim of the calculation (cps): the level without events
  int passes = 1;        // 2 for the two K-alpha lines of a tube
  std::vector<ListedEvent> events;

  bool has_scan() const { return !calculated.empty(); }
  bool has_measured() const { return !measured.empty(); }
};

ScanData scan_data(const RunParameters& par, const RunResult& result);

// The columns of an event, as the table heads them and the tooltip orders them.
enum class EventColumn {
  pass, secondary, coupling, crossing, psi, triplet, ikaven, iaufhe, fwhm, f1, f2, count
};
const char* event_column_name(EventColumn c);
// The cell of an event in a column ("4 2 0", "i-o", "12.341", ...).
std::string event_cell(const ListedEvent& e, EventColumn c);
// The number a column sorts by: the value itself, indices h, k, l in that order.
double event_sort_key(const ListedEvent& e, EventColumn c);

// The tooltip of the events `at` (indices into data.events) at psi: a heading line and
// one line per event (secondary / coupling, crossing, psi, triplet phase, peak heights),
// at most `max_lines` of them and a line that counts the rest. Empty without events.
std::vector<std::string> event_tooltip_lines(const ScanData& data, std::span<const std::size_t> at,
                                             double psi, std::size_t max_lines = 8);

}  // namespace kaven::gui
