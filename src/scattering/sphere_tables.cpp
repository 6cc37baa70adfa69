// Sphere absorption and primary-extinction tables and their bilinear interpolation.
//
// Both tables are computed by numerical quadrature over the sphere (tools/
// gen_sphere_absorption.py, tools/gen_extinction_table.py). The absorption table has
// two row spacings in mu R (0.1 up to 9.9, then 0.5 from 10 to 31.5); the extinction
// table rows are x = r/Lambda in steps of 0.1. Columns are theta = 0, 5, ..., 90 deg.
// Index conversions truncate toward zero; arguments beyond the grid are clamped to its
// last row or column, negative arguments to the first.
#include "scattering/sphere_tables.hpp"

#include "core/constants.hpp"

namespace kaven {

namespace {

constexpr int kAbsorptionRows = 144;
constexpr int kColumns = 19;
constexpr int kExtinctionRows = 301;

// A*(mu R, theta), rows mu R = 0.0, 0.1, ..., 9.9, 10.0, 10.5, ..., 31.5.
constexpr float kSphereAbsorption[kAbsorptionRows][kColumns] = {
#include "data/sphere_absorption.inc"
};

// Y(x, theta), rows x = 30.0, 29.9, ..., 0.0 (descending, as the data were laid down).
constexpr float kExtinctionDescending[kExtinctionRows][kColumns] = {
#include "data/extinction_table.inc"
};

// Zero-based lower node and the weight of the upper one; the last node takes weight 0
// and serves as its own upper neighbour.
struct Node {
  int lo;
  int hi;
  double w;
};

Node clamped(int lo, double w, int count) {
  if (lo >= count - 1) return {count - 1, count - 1, 0.0};
  return {lo, lo + 1, w};
}

// Theta column: tens and fives of degrees taken apart, so that e.g. 47.5 lands on
// the 45-degree node with weight 0.5.
Node theta_column(double theta) {
  if (!(theta > 0.0)) return {0, 1, 0.0};
  if (theta > 90.0) theta = 90.0;
  int c10 = static_cast<int>(0.1 * theta);
  int c5 = static_cast<int>((theta - 10.0 * c10) * 0.2);
  int node = 5 * c5 + 10 * c10;
  int col = node / 5;  // trunc(0.2 * node + 1) - 1, node being a multiple of 5
  return clamped(col, (theta - node) * 0.2, kColumns);
}

// mu R row: steps of 0.1 below 10, of 0.5 from 10 on; the two parts are contiguous, so
// 9.95 interpolates between the rows 9.9 and 10.0.
Node mur_row(double m) {
  if (m >= 10.0) {
    int k = static_cast<int>(2.0 * (m - 10.0));
    return clamped(k + 100, (m - (10.0 + 0.5 * k)) * 2.0, kAbsorptionRows);
  }
  int k = static_cast<int>(10.0 * m);
  return clamped(k, (m - 0.1 * k) * 10.0, kAbsorptionRows);
}

}  // namespace

float absor1(float mur, float theta_deg) {
  // Clamping first also keeps the index conversions in range.
  Node r = mur_row(mur > 0.0f ? (mur < kMaxMuR ? double(mur) : double(kMaxMuR)) : 0.0);
  Node c = theta_column(theta_deg);
  const auto& t = kSphereAbsorption;
  double a0 = t[r.lo][c.lo] - (double(t[r.lo][c.lo]) - t[r.lo][c.hi]) * c.w;
  double a1 = t[r.hi][c.lo] - (double(t[r.hi][c.lo]) - t[r.hi][c.hi]) * c.w;
  return static_cast<float>(a0 - (a0 - a1) * r.w);
}

ExtinctionTable xtab1() {
  ExtinctionTable table{};
  for (int i = 0; i < kExtinctionRows; ++i)
    for (int j = 0; j < kColumns; ++j)
      table.y[i][j] = kExtinctionDescending[kExtinctionRows - 1 - i][j];
  return table;
}

float xtab(const ExtinctionTable& table, float x, float theta_deg) {
  double xd = x > 0.0f ? (x < 30.0f ? double(x) : 30.0) : 0.0;
  double th = theta_deg > 0.0f ? (theta_deg < 90.0f ? double(theta_deg) : 90.0) : 0.0;
  int row = static_cast<int>(10.0 * xd + 1.0) - 1;  // zero-based
  int col = static_cast<int>(0.2 * th + 1.0) - 1;
  Node r = clamped(row, (xd - 0.1 * row) * 10.0, kExtinctionRows);
  Node c = clamped(col, (th - 5.0 * col) / 5.0, kColumns);
  const auto& y = table.y;
  double y0 = y[r.lo][c.lo] + (double(y[r.lo][c.hi]) - y[r.lo][c.lo]) * c.w;
  double y1 = y[r.hi][c.lo] + (double(y[r.hi][c.hi]) - y[r.hi][c.lo]) * c.w;
  return static_cast<float>(y0 + (y1 - y0) * r.w);
}

}  // namespace kaven
