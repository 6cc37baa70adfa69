#include "scattering/anomalous_dispersion.hpp"

#include <gemmi/fprime.hpp>
#include <gemmi/math.hpp>

namespace kaven {

AnomalousDispersion cromer_liberman(int z, double wavelength_A) {
  AnomalousDispersion d;
  d.fp = gemmi::cromer_liberman(z, energy_ev_of(wavelength_A), &d.fpp);
  return d;
}

double energy_ev_of(double wavelength_A) { return gemmi::hc() / wavelength_A; }
double wavelength_A_of(double energy_ev) { return gemmi::hc() / energy_ev; }

}  // namespace kaven
