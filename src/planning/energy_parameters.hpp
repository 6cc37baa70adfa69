// The run record of a synchrotron input moved to another photon energy.
//
// Behind a crystal monochromator the energy is a choice: at E (keV) the wavelength is
// lambda = hc/E, and with it change the monochromator's Bragg angle and so the band
// width dlam1, the default incident intensity, the extinction constant Gamma (lambda/V),
// the dispersion corrections f' and f'' of every element, the linear absorption
// coefficient (tabulated at lambda, or 2 Gamma Im F(000) from the f''), the Bragg angle
// of the primary reflection and, when line 10 asks for it, the primary structure factor.
// Everything else of the run record (cell, operators, atoms, beam, crystal, psi range,
// thresholds, PsiD) stays.
//
// f' and f'' are the Cromer-Liberman values at E taken to the four decimals an element
// line holds (as the input file written from a CIF for a synchrotron line holds them),
// so that the values at an energy are those of a run of the input written for it.
#pragma once
#include <string>
#include <vector>

#include "input/run_parameters.hpp"

namespace kaven {

// The wavelength (Å) of a photon energy (keV) and back (scattering/anomalous_dispersion.hpp).
double wavelength_of_energy(double energy_kev);
double energy_of_wavelength(double lambda);

// f' and f'' of atomic number z at the wavelength lambda (Å; Cromer-Liberman), as an
// element line holds them: the four decimals of its fields, read back as a run reads
// them. 0 and 0 outside Z = 3..92, which the calculation does not cover.
struct DispersionTerms {
  float fp = 0, fpp = 0;
};
DispersionTerms element_line_dispersion(int z, float lambda);

// A synchrotron input read, with what line 10 gave for the primary structure factor
// (the run replaces a 0 by the value it computes, which depends on the energy).
struct EnergyCrystal {
  RunParameters par;   // input lines 1 to 12 read, the centring expansion done
  float f_input = 0;   // |F_p| of line 10: 0 asks for the computed value
  float phi_input = 0; // its phase (radians)
};

// What becomes of an energy.
enum class EnergyStatus {
  ok,
  monochromator_out_of_reach,  // the monochromator reflection cannot reflect lambda
  primary_out_of_reach,        // lambda s_p > 1: the primary reflection is outside the Ewald sphere
};
// A short text for tables and pictures ("primary reflection out of reach", ...).
const char* energy_status_text(EnergyStatus status);

// `par` (a copy of a record set up by the energy plan) brought to E: wavelength,
// monochromator and band, I0, f' and f'', the primary reflection's geometry and structure
// factor, Gamma, absorption. The checks a run makes at its wavelength decide the status;
// with a status other than ok the record is left part way.
EnergyStatus set_energy(RunParameters& par, const EnergyCrystal& crystal, double energy_kev);

}  // namespace kaven
