// Indexing the peaks and dips of a measured scan: each feature is given the events of
// the simulation that can have made it, the secondary and coupling reflections with the
// crossing, the triplet phase and the calculated psi.
//
// An event counts when its peak value is at least a small share of the strongest
// event's in the scan range (weaker ones cannot show beside it), and it goes to the
// nearest feature of its own kind (a peak when it adds more than it takes out of the
// primary beam, Ikaven >= Iaufhe, else a dip) within a few widths: twice the larger of
// the event's FWHM and the feature's, and at least three steps. The events of one
// feature lie within the resolution of the scan and are listed together, the
// strongest first. Events in pairs are common: h and h_p - h cross the sphere at the
// same psi, each the other's coupling reflection.
#pragma once
#include <array>
#include <vector>

#include "analysis/scan_peaks.hpp"
#include "input/run_parameters.hpp"
#include "simulation/run_result.hpp"

namespace kaven {

struct IndexedEvent {
  int pass = 0;                     // 0 the first wavelength pass (K-alpha1), 1 the second
  std::array<int, 3> secondary{};   // h
  std::array<int, 3> coupling{};    // h_p - h
  int crossing = 1;                 // 1 first crossing (i-o), 2 second (o-i)
  double triplet_deg = 0;           // phase(h) + phase(h_p - h) - phase(h_p), in (-180, 180]
  double psi_calc = 0;              // degrees
  double delta = 0;                 // measured psi - calculated psi (degrees)
  double peak_cps = 0;              // max(Ikaven, Iaufhe) K^2 / FWHM (cps of the run)
  double fwhm = 0;                  // degrees
  bool adds = true;                 // Ikaven >= Iaufhe
};

struct IndexedFeature {
  ScanFeature feature;
  std::vector<IndexedEvent> events;  // the strongest first; empty: none near it
};

// Events with a peak value below this share of the strongest in the scan range are
// passed over.
inline constexpr double kIndexedShare = 0.01;

std::vector<IndexedFeature> index_features(const std::vector<ScanFeature>& features,
                                           const std::vector<PassRecord>& passes,
                                           const RunParameters& par);

// The median FWHM (degrees) of the events of the scan range that count for the indexing:
// the width a measured peak is expected to have (0 without events).
double typical_event_width(const std::vector<PassRecord>& passes, const RunParameters& par);

}  // namespace kaven
