// Absorption and extinction of the crystal sphere, from tables computed by quadrature.
//
// absor1: the absorption factor A* = 1/T of a sphere, interpolated in mu R and theta.
// xtab: the primary-extinction factor of a sphere of mosaic-block size, interpolated in
// x = r/Lambda and theta.
#pragma once

namespace kaven {

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
