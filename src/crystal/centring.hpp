// Lattice-centring expansion: the operator sets carry no centring translations, so
// every atom of the asymmetric unit is copied to its centring-related positions once
// per run. Reflections forbidden by the centring then cancel in the structure-factor
// sum without any extinction-rule test.
#pragma once
#include <array>
#include <string_view>
#include <vector>

#include "input/run_parameters.hpp"

namespace kaven {

// Appends the centring copies of the atoms by the lattice letter (first character of
// the space-group name): I, A, B, C one copy, F three, any other letter none. The
// shifted coordinates are not reduced modulo 1.
void bravai(RunParameters& par, std::string_view space_group_name);

// Lattice points per cell of a lattice letter: 2 for A, B, C, I; 4 for F; else 1.
int lattice_points(char letter);

// The centring translations of a lattice letter other than zero (fractions of the
// cell edges): one for I, A, B, C, three for F, none for any other letter.
std::vector<std::array<float, 3>> centring_shifts(char letter);

}  // namespace kaven
