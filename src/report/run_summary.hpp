// The listing sections around the simulated scan: the scale section before the
// wavelength passes, and after them the measured and calculated summaries, the scan
// settings and the count of crossings in the scan (or the message that none entered);
// the calculated-scan file, one record per step.
#pragma once
#include <istream>
#include <ostream>

#include "report/listing.hpp"
#include "simulation/scale_factor.hpp"
#include "simulation/scan_simulation.hpp"

namespace kaven {

// I0 from the reference reflections, or the message that the file held none, or the
// estimate from the default I0 with the size of the sample.
void list_scale_section(Listing& out, const RunParameters& par, const ScaleFactor& scale);

// Deviation, measured extremes, measured I-prim and background with their errors.
void list_measured_summary(Listing& out, const ScanReduction& red, const Deviation& dev);

// Calculated extremes and I-prim total.
void list_calculated_summary(Listing& out, const ScanProfile& profile);

// "Scan calculated for" with psia, psie, steps per degree and nnn.
void list_scan_settings(Listing& out, const RunParameters& par);

// The number of crossings that entered a plottable scan, or the three records that
// say no graphical output is produced.
void list_event_count(Listing& out, const RunParameters& par, const ScanProfile& profile);

// The calculated-scan file: psi (F10.3) and the intensity (F20.4) of every step.
void write_calculated_scan(std::ostream& os, const RunParameters& par, const ScanProfile& profile);
// Whether a file holds a calculated scan in this form (a file kaven may replace): its
// lines, as far as the first 64 KiB show them, are the two fields psi and intensity,
// each a number or the asterisks of a number too wide for its field.
bool holds_calculated_scan(std::istream& is);

}  // namespace kaven
