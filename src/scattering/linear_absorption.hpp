// The linear absorption coefficient of the crystal for the run: from the element
// absorption coefficients, or, when every atom type carries an imaginary dispersion
// term, from the absorption cross-section those terms imply, mu = 2 Gamma Im F(000).
#pragma once
#include "report/listing.hpp"

namespace kaven {

// Sets par.density, par.mue and par.mur (= mue rkugel) and writes the density and
// absorption records (with the notice when mu R exceeds 31.5).
void absorption_phase(RunContext& run);

}  // namespace kaven
