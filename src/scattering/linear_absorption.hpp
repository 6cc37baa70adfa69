// The linear absorption coefficient of the crystal for the run: from the element
// absorption coefficients (mue), and then, when every atom type carries an imaginary
// dispersion term, from the absorption cross-section those terms imply,
// mu = 2 Gamma Im F(000). Two steps, because the listing shows the first value before
// the second is formed.
#pragma once
#include "input/run_parameters.hpp"
#include "scattering/mue.hpp"

namespace kaven {

// Sets par.density, par.mue and par.mur (= mue rkugel) by mue at alam1; returns mue's
// result for the listing.
AbsorptionResult tabulated_absorption(RunParameters& par);

// Every type has f'' != 0 (exact comparison), so the dispersion terms give mu.
bool dispersion_gives_absorption(const RunParameters& par);
// Replaces par.mue by 2 lambda r_e (1/V) 1000 Im F(000) and forms par.mur again; ends
// the run (RunStopped) when the structure factor cannot be formed.
void dispersion_absorption(RunParameters& par);

}  // namespace kaven
