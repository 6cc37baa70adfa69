// Density and linear absorption coefficient of the crystal from its cell contents.
//
// mu/rho of an element is C lambda^3 - D lambda^4 (photo-absorption plus coherent
// scattering, one (C, D) per interval between absorption edges) plus the Klein-Nishina
// cross section of its Z electrons, in the form of International Tables for X-ray
// Crystallography Vol. III (1962), pp. 157ff.
#pragma once
#include <span>
#include <vector>

#include "input/run_parameters.hpp"

namespace kaven {

// Element absorption coefficients of Z = 1..83: up to five wavelength intervals, each
// with C, D and its upper limit e (Å; interval 1 starts at 0), and the atomic weight.
struct ElementAbsorption {
  float c[5], d[5], e[5];
  float a;
};
const ElementAbsorption& element_absorption(int z);

struct AbsorptionResult {
  float mu;       // cm^-1; 1.0 when a type has Z > 83
  float density;  // g/cm^3 (types with Z > 83 left out)
  // Atomic numbers of the types beyond the table (Z > 83), in type order: the listing
  // names each, since mu cannot be formed with them.
  std::vector<int> beyond_table;
};
// lambda in Å, V in Å^3; uses z and ncell of every type.
AbsorptionResult mue(float lambda, float v, std::span<const AtomType> types);

}  // namespace kaven
