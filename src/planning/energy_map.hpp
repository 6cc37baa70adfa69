// Planning a measurement at a synchrotron: where multiple diffraction puts peaks and dips
// into the primary reflection as the energy changes.
//
// - The energy map: at each energy of a grid, the events of the input's psi range that
//   the listing of a run at that energy would list (peak value at least drumin), with
//   their psi and intensities: psi across, energy up, each event a track.
// - The energy scan: the intensity of the primary reflection at one psi against the
//   energy, I-prim plus the profile of every crossing of the turn at that psi (the scan
//   model of a run, evaluated at one step), with the crossings that make it.
//
// An energy map is many runs' searches over one reflection list: the reflections of the
// largest sphere (that of the highest energy), their geometry apart from the wavelength,
// the orbits and the geometric structure-factor sums are formed once (EnergyPlan); each
// energy then brings a copy of the run record to its wavelength and f', f''
// (planning/energy_parameters.hpp) and runs the event search of a pass over the list.
// Every value at an energy is that of a run of the input written for that energy.
//
// Energies run on all cores, one energy to a thread at a time, and reach the caller in
// the order of the grid, never many more at once than there are threads: the memory
// does not grow with the number of energies.
#pragma once
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "planning/candidate_sums.hpp"
#include "planning/energy_parameters.hpp"
#include "scattering/sphere_tables.hpp"
#include "simulation/event_intensity.hpp"
#include "simulation/event_search.hpp"

namespace kaven {

// n energies from e1 to e2 (keV), evenly spaced, both ends included.
struct EnergyGrid {
  double e1_kev = 0, e2_kev = 0;
  int n = 0;
  double energy(int i) const { return i == n - 1 ? e2_kev : e1_kev + (e2_kev - e1_kev) * i / (n - 1); }
};

// At most this many energies in a grid (a map of a few thousand already resolves
// anything a page can show; the limit catches a mistyped count).
inline constexpr int kMaxEnergies = 100000;

// Why a grid cannot be used (E1 >= E2, an energy that is not positive or not finite,
// fewer than 2 or more than kMaxEnergies energies), or empty.
std::string energy_grid_problem(const EnergyGrid& grid);

// Why an input cannot be mapped over energy (tube radiation, whose energy is fixed),
// or empty.
std::string energy_input_problem(const RunParameters& par);

// The work that does not depend on the energy, for energies up to `highest_kev`: the
// run record set up (cell, metric, primary geometry, f0 tables, PsiD), the candidate
// reflections of the largest sphere with their structure-factor sums, the extinction
// table. Ends (RunStopped) with the message a run would give for a record that cannot
// be set up (a cell without volume, a search box too large, ...).
class EnergyPlan {
 public:
  EnergyPlan(const EnergyCrystal& crystal, double highest_kev, int threads = 0);
  const EnergyCrystal& crystal() const { return crystal_; }
  // The run record before any energy is set (at the input's own energy).
  const RunParameters& base() const { return crystal_.par; }
  const CandidateSums& sums() const { return *sums_; }
  double highest_kev() const { return highest_kev_; }
  const ExtinctionTable& extinction() const { return extinction_; }
  // The box the screening margin is formed for: the index limits at the highest energy
  // widened by the primary indices.
  std::array<int, 3> margin_box() const { return margin_box_; }

 private:
  EnergyCrystal crystal_;
  double highest_kev_;
  ExtinctionTable extinction_;
  std::array<int, 3> margin_box_{};
  std::unique_ptr<CandidateSums> sums_;
};

// One energy of the map.
struct EnergyPoint {
  int index = 0;            // in the grid
  double energy_kev = 0;
  float wavelength = 0;     // Å, as the run record holds it
  EnergyStatus status = EnergyStatus::ok;
  std::vector<float> fp, fpp;  // per atom type
  float primary_f = 0, primary_phase = 0;  // |F_p| and its phase (radians)
  float mue = 0;            // linear absorption coefficient (cm^-1)
  PrimaryPass primary{};    // the primary reflection's pass values (status ok)
  // The events the listing lists (psia <= psi <= psie, peak value >= drumin), sorted by
  // psi, with the counters of the whole pass; no scan crossings.
  EventPassResult pass;
};

// One crossing's share of the energy scan at its psi.
struct ScanShare {
  std::array<int, 3> secondary{}, coupling{};
  Crossing crossing = Crossing::first;
  float psi = 0;       // of the crossing (degrees)
  double cps = 0;      // what it adds at the scan's psi (negative: a dip)
};

// One energy of the energy scan.
struct EnergyScanPoint {
  int index = 0;
  double energy_kev = 0;
  float wavelength = 0;
  EnergyStatus status = EnergyStatus::ok;
  float iprim = 0;      // I-prim (cps)
  float intensity = 0;  // the scan at psi: I-prim plus every crossing (cps)
  long crossings = 0;   // crossings of the turn that entered
  // The crossings that add or take at least kShareShown of I-prim (of the largest share
  // when I-prim is 0), the strongest first, at most kSharesKept.
  std::vector<ScanShare> shares;
};
inline constexpr double kShareShown = 0.005;
inline constexpr std::size_t kSharesKept = 8;

struct EnergyMapOptions {
  int threads = 0;  // 0: all cores
  // Fraction of the energies done (0..1), one call at a time; optional.
  std::function<void(double)> progress;
  // Set to end early: the energies not yet delivered are left out.
  const std::atomic<bool>* cancel = nullptr;
};

// The map over the grid, each energy handed to `sink` in the order of the grid, on one of
// the working threads, one call at a time. Returns false when cancelled. Every energy
// of the grid must lie at or below plan.highest_kev() (std::invalid_argument otherwise).
bool energy_map(const EnergyPlan& plan, const EnergyGrid& grid, const EnergyMapOptions& opt,
                const std::function<void(EnergyPoint&&)>& sink);
// The same, kept.
std::vector<EnergyPoint> energy_map(const EnergyPlan& plan, const EnergyGrid& grid,
                                    const EnergyMapOptions& opt = {});

// The energy at one psi (degrees, within the psi axis of the input's radiation).
bool energy_scan(const EnergyPlan& plan, const EnergyGrid& grid, float psi, const EnergyMapOptions& opt,
                 const std::function<void(EnergyScanPoint&&)>& sink);
std::vector<EnergyScanPoint> energy_scan(const EnergyPlan& plan, const EnergyGrid& grid, float psi,
                                         const EnergyMapOptions& opt = {});

// The one energy of the map, on the calling thread (what a run at that energy lists).
EnergyPoint map_energy(const EnergyPlan& plan, int index, double energy_kev);
EnergyScanPoint scan_energy(const EnergyPlan& plan, int index, double energy_kev, float psi);

}  // namespace kaven
