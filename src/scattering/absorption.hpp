// Absorption and extinction of the crystal sphere.
//
// mue: density and linear absorption coefficient from the element absorption
// coefficients (mu/rho = C lambda^3 - D lambda^4 + Klein-Nishina term per edge interval).
// absor1: the absorption factor A* = 1/T of a sphere, interpolated in mu R and theta.
// xtab: the primary-extinction factor of a sphere of mosaic-block size, interpolated in
// x = r/Lambda and theta.
#pragma once
#include <span>

#include "input/run_parameters.hpp"
#include "report/listing.hpp"

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
};
// lambda in Å, V in Å^3; uses z and ncell of every type. Z > 83 writes its message.
AbsorptionResult mue(Listing& out, float lambda, float v, std::span<const AtomType> types);

// Sphere absorption factor at mu R (< 31.5) and theta in degrees. Arguments beyond the
// grid are clamped to its last row or column.
float absor1(float mur, float theta_deg);

// Working extinction table, rows x = 0, 0.1, ..., 30 ascending, columns theta = 0..90.
struct ExtinctionTable {
  float y[301][19];
};
// Copies the constant table (stored with descending x) into ascending order.
ExtinctionTable xtab1();
// Interpolated extinction value at x >= 0 and theta in degrees (clamped to the grid).
float xtab(const ExtinctionTable& table, float x, float theta_deg);

}  // namespace kaven
