// What one run produced, for the phases that come after the one that made it: the
// summaries and the calculated-scan file, the plot, the exports and the desktop window
// all read these same values. The run record RunParameters keeps the input and what
// persists from run to run; everything a run derives for its own output lives here.
#pragma once
#include <array>
#include <string>
#include <vector>

#include "scans/measured_scan.hpp"
#include "simulation/event_intensity.hpp"
#include "simulation/event_search.hpp"
#include "simulation/scale_factor.hpp"
#include "simulation/scan_simulation.hpp"

namespace kaven {

// One wavelength pass: Kalpha1 or Kalpha2 of a tube, or the synchrotron line.
struct PassRecord {
  WavelengthPass pass;
  PrimaryPass primary;
  EventPassResult events;  // listed events sorted by psi, counters, scan crossings
};

// The files a run wrote (empty when not written), as the user named them or as they
// were derived (the calculated-scan file from its name rule).
struct RunFilesWritten {
  std::string listing;
  std::string plot;      // PostScript page
  std::string plot_svg;  // the same page as SVG
  std::string cal;
  std::string events_csv, scan_csv, summary_json;
};

struct RunResult {
  std::array<float, 3> reference{};  // psi = 0 reference direction (reciprocal components)
  std::vector<PassRecord> passes;
  // Every crossing handed to the scan simulation, in the order of the search: first
  // crossing before second, pass 1 before pass 2.
  std::vector<ScanCrossing> crossings;
  // Primary Bragg angle (degrees): the sum over the passes while they run, then their
  // mean in the laboratory mode (the single value in the synchrotron modes).
  double theta_prim_deg = 0;
  // The primary structure factor was formed by the run (read as 0), not given: a run
  // with another cell forms it again.
  bool primary_f_computed = false;

  MeasuredScan measured;
  ScaleSource scale_source = ScaleSource::default_i0;
  ScanReduction reduction;
  ScanProfile profile;
  Deviation deviation;

  // A simulation fitted to the measured scan (analysis beside the run), in the units of
  // the measured scan at every step (kNoMeasurement where it is not drawn), with its R:
  // the plot draws it over the measured scan. Empty without a fit.
  std::vector<float> fitted;
  float fitted_r = 0;

  bool plotted = false;  // a plottable scan: crossings entered and max > min
  // Structure factors of the passes: sums formed, reflections kept, storage (none for
  // the plain variant, which forms every one afresh).
  ReflectionCache::Counts structure_factors;
  RunFilesWritten files;
};

}  // namespace kaven
