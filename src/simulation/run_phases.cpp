#include "simulation/run_phases.hpp"

#include <algorithm>

#include "core/constants.hpp"
#include "crystal/geometry.hpp"
#include "scattering/linear_absorption.hpp"
#include "simulation/event_search.hpp"
#include "simulation/reference_direction.hpp"

namespace kaven {

namespace {

// The shortest wavelength of the run: Kalpha1 of a tube, the one synchrotron line.
double shortest_wavelength(const RunParameters& par) {
  return par.isyn == 0 ? std::min(par.alam1, par.alam2) : par.alam1;
}

}  // namespace

void derive_geometry(RunParameters& par) {
  check_radiation(par);
  wavelength_band(par);
  reciprocal_cell(par);
  check_cell(par);
  primary_reflection(par);
  // The largest index box of the passes, that of the shortest wavelength.
  check_search_size(par, shortest_wavelength(par));
  sample_constants(par);
  primary_structure_factor(par);
}

AbsorptionValues derive_absorption(RunParameters& par) {
  AbsorptionValues v{tabulated_absorption(par), false};
  if (dispersion_gives_absorption(par)) {
    dispersion_absorption(par);
    v.from_dispersion = true;
  }
  return v;
}

void derive_reference(RunParameters& par, RunResult& result) {
  result.reference = reference_direction(par);
  const std::array<float, 3>& r = result.reference;
  if (par.ub_read) par.psid = upsi(par, r[0], r[1], r[2]);
}

std::array<int, 3> search_limits(const RunParameters& par) {
  return index_limits(par, shortest_wavelength(par));
}

PassRecord compute_pass(RunParameters& par, const ExtinctionTable& extinction,
                        const std::vector<WavelengthPass>& passes, std::size_t n,
                        ReflectionCache* cache, const PassOptions& opt) {
  const WavelengthPass& pass = passes[n];
  par.alam = pass.lambda;
  par.dlam = pass.dlam;
  PassRecord rec{pass, primary_pass(par, extinction, pass), {}};
  if (opt.plain || !cache) {
    rec.events = search_events_plain(par, rec.primary, n == 0);
  } else {
    EventSearchOptions search;
    search.threads = opt.threads;
    search.cancel = opt.cancel;
    search.progress = opt.progress;
    rec.events = search_events(par, rec.primary, *cache, n == 0, search);
  }
  return rec;
}

float iprim_of_passes(const std::vector<PassRecord>& passes) {
  double iprim = 0;
  for (const PassRecord& rec : passes) iprim += static_cast<float>(rec.primary.iprim);
  return static_cast<float>(iprim);
}

}  // namespace kaven
