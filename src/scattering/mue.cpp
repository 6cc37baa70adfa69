// Density and linear absorption coefficient; the coefficients are
// data/element_absorption.inc.
#include "scattering/mue.hpp"

#include <cmath>

namespace kaven {

namespace {

constexpr ElementAbsorption kTable[83] = {
#include "data/element_absorption.inc"
};

constexpr int kLastZ = 83;

// Klein-Nishina cross section per electron times Avogadro's number (cm^2/mol):
// 2 pi r_e^2 N_A = 0.30044827, kappa = h/(m c lambda) with the Compton wavelength
// 0.024262113 Å. Tends to the Thomson value 0.4006 for long wavelengths.
double klein_nishina(float lambda) {
  const float kappa = static_cast<float>(0.024262113 / lambda);
  const float log_term = static_cast<float>(std::log(1.0 + 2.0 * kappa));
  const double k = kappa, l = log_term;
  return 0.30044827 * (l / (2.0 * k) - (1.0 + 3.0 * k) / ((1.0 + 2.0 * k) * (1.0 + 2.0 * k)) +
                       ((1.0 + k) / (k * k)) * (2.0 * (1.0 + k) / (1.0 + 2.0 * k) - l / k));
}

// The interval (0-based) whose coefficients apply at lambda. The strict comparisons
// come first: interval k covers e(k-1) < lambda < e(k). A wavelength exactly on an edge
// takes the interval that ends there, the short-wavelength side: a photon of exactly
// the binding energy can already eject the electron, so the edge belongs to the
// absorbing branch. Beyond the last limit the last interval is extended. Intervals
// with a zero limit (unused, or the 0 0 0 first interval below a K edge under 0.3 Å)
// are never chosen.
int interval_of(const ElementAbsorption& el, float lambda) {
  if (lambda < el.e[0]) return 0;
  for (int k = 1; k < 5; ++k)
    if (el.e[k - 1] < lambda && lambda < el.e[k]) return k;
  int last = 0;
  for (int k = 0; k < 5; ++k) {
    if (el.e[k] <= 0) continue;
    if (lambda <= el.e[k]) return k;
    last = k;
  }
  return last;
}

}  // namespace

const ElementAbsorption& element_absorption(int z) {
  static constexpr ElementAbsorption kNone{};
  if (z < 1 || z > kLastZ) return kNone;
  return kTable[z - 1];
}

AbsorptionResult mue(float lambda, float v, std::span<const AtomType> types) {
  const float sigma = static_cast<float>(klein_nishina(lambda));
  double mass = 0;  // sum of A ncell (g/mol of the cell's atoms)
  double sum = 0;
  AbsorptionResult r;
  for (const AtomType& t : types) {
    if (t.z > kLastZ) {
      r.beyond_table.push_back(t.z);
      continue;
    }
    if (t.z < 1) continue;  // an unresolved type carries neither mass nor absorption
    const ElementAbsorption& el = kTable[t.z - 1];
    const int k = interval_of(el, lambda);
    const double lam = lambda;
    const float mu_m = static_cast<float>(
        el.c[k] * lam * lam * lam - el.d[k] * lam * lam * lam * lam + double(sigma) * t.z / el.a);
    mass += double(el.a) * t.ncell;
    // mass of the cell's atoms times mu/rho: 1/N_A = 0.16604207e-23 mol, and with V in
    // Å^3 (1e-24 cm^3) the factor 10 / V below gives cm^-1
    sum += double(el.a) * mu_m * t.ncell * 0.16604207;
  }
  r.mu = !r.beyond_table.empty() ? 1.0f : static_cast<float>(sum * 10.0 / v);
  r.density = static_cast<float>(mass * 10.0 / (6.0225701 * v));
  return r;
}

}  // namespace kaven
