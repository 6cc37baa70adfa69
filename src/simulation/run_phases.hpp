// The computation of a run's phases once its input has been read, without the listing:
// the run driver (shell/run_driver.cpp) lists what each of them leaves in the run record
// and the run result, and the analysis of a measured scan (analysis/) calls the same
// functions again on a copy of the record with changed parameters, so that a fitted
// curve is exactly what a run with those parameters would simulate.
//
// Every check ends the run (RunStopped) with its message, as in the driver.
#pragma once
#include <atomic>
#include <functional>
#include <vector>

#include "input/run_parameters.hpp"
#include "scattering/mue.hpp"
#include "scattering/sphere_tables.hpp"
#include "simulation/reflection_cache.hpp"
#include "simulation/run_result.hpp"

namespace kaven {

// Radiation and cell checks, wavelength band, reciprocal cell, the primary reflection
// with the Ewald-sphere test, the size of the search, Gamma and the crystal's section
// and volume, the primary structure factor (formed when par.f is 0). The scan arrays
// are the caller's (allocate_scan).
void derive_geometry(RunParameters& par);

// Density and linear absorption coefficient at alam1, then, when every type carries an
// imaginary dispersion term, mu from them. Returns the tabulated value for the listing.
struct AbsorptionValues {
  AbsorptionResult tabulated;
  bool from_dispersion = false;  // par.mue is the one of the dispersion terms
};
AbsorptionValues derive_absorption(RunParameters& par);

// The psi = 0 reference direction into the result and, with an orientation matrix, the
// offset PsiD into the record.
void derive_reference(RunParameters& par, RunResult& result);

// The index limits of the structure-factor cache: those of the shortest wavelength of
// the run, whose box holds every other pass's.
std::array<int, 3> search_limits(const RunParameters& par);

struct PassOptions {
  int threads = 0;  // 0 all cores, 1 serial
  bool plain = false;  // every structure factor formed afresh, one thread
  std::function<void(double)> progress;  // fraction of this pass done; optional
  const std::atomic<bool>* cancel = nullptr;
};

// One wavelength pass (n = 0 or 1 of wavelength_passes(par)): par.alam and par.dlam set
// to it, its primary values, the event search with the intensities. `cache` may be null
// for the plain search.
PassRecord compute_pass(RunParameters& par, const ExtinctionTable& extinction,
                        const std::vector<WavelengthPass>& passes, std::size_t n,
                        ReflectionCache* cache, const PassOptions& opt);

// I-prim total of the passes as the listing shows them (each pass's value in single
// precision, summed).
float iprim_of_passes(const std::vector<PassRecord>& passes);

}  // namespace kaven
