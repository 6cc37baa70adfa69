// The events of a run as the listing lists them, over all its wavelength passes, and
// the question a reader of the scan asks of a peak: which events make the scan at this
// psi? An event stands at its psi with a profile about as wide as its FWHM; a pointer
// or a measured peak finds it within half that width, or within a tolerance of its own
// (a screen pixel, a measuring step) when that is wider.
#pragma once
#include <cstddef>
#include <vector>

#include "input/run_parameters.hpp"
#include "simulation/run_result.hpp"

namespace kaven {

// An event the listing lists: with drumin > 0 and psia <= PSI <= psie.
bool listed_event(const RunParameters& par, const MultipleDiffractionEvent& event);

// The triplet phase Phi = phase1 + phase2 - phase of the primary, the phase the
// interference term turns with, in degrees within (-180, 180].
double triplet_phase_deg(const RunParameters& par, const MultipleDiffractionEvent& event);
// The same with the primary's phase (radians) given: of a run at another energy.
double triplet_phase_deg(float primary_phase, const MultipleDiffractionEvent& event);

struct ListedEvent {
  int pass = 0;        // 1 for K-alpha1 or the synchrotron line, 2 for K-alpha2
  float lambda = 0;    // wavelength of the pass (Å)
  MultipleDiffractionEvent event;
  double triplet_deg = 0;  // triplet phase (degrees)
  double ikaven_peak = 0;  // peak height of the intensity added, Ikaven / FWHM (cps)
  double iaufhe_peak = 0;  // peak height of the intensity taken out, Iaufhe / FWHM (cps)
};

// Every listed event of every pass, ordered by psi (pass 1 before pass 2 at equal psi).
std::vector<ListedEvent> listed_events(const RunParameters& par, const RunResult& result);

// The events at psi (degrees): those within max(FWHM / 2, tolerance_deg) of it,
// strongest first (larger of the two peak heights), nearer first among equals.
// Indices into `events`.
std::vector<std::size_t> events_at_psi(const std::vector<ListedEvent>& events, double psi_deg,
                                       double tolerance_deg);

}  // namespace kaven
