#include "planning/energy_parameters.hpp"

#include <cstdio>

#include "core/run_stop.hpp"
#include "crystal/geometry.hpp"
#include "input/free_format.hpp"
#include "input/input_reader.hpp"
#include "scattering/anomalous_dispersion.hpp"
#include "scattering/linear_absorption.hpp"
#include "scans/measured_scan.hpp"
#include "simulation/scale_factor.hpp"

namespace kaven {

double wavelength_of_energy(double energy_kev) { return wavelength_A_of(energy_kev * 1000.0); }
double energy_of_wavelength(double lambda) { return energy_ev_of(lambda) / 1000.0; }

DispersionTerms element_line_dispersion(int z, float lambda) {
  const AnomalousDispersion d = cromer_liberman(z, double(lambda));
  // The F10.4 fields of an element line, read back as the input reader reads them.
  auto as_read = [](double v) {
    char field[64];
    std::snprintf(field, sizeof field, "%10.4f", v);
    float out = 0;
    parse_fixed_real(field, 4, out);
    return out;
  };
  // (as the CIF path keeps them, in single precision, before it writes them)
  return {as_read(static_cast<float>(d.fp)), as_read(static_cast<float>(d.fpp))};
}

const char* energy_status_text(EnergyStatus status) {
  switch (status) {
    case EnergyStatus::ok: return "";
    case EnergyStatus::monochromator_out_of_reach: return "monochromator reflection out of reach";
    case EnergyStatus::primary_out_of_reach: return "primary reflection out of reach";
  }
  return "";
}

EnergyStatus set_energy(RunParameters& par, const EnergyCrystal& crystal, double energy_kev) {
  par.alam1 = static_cast<float>(wavelength_of_energy(energy_kev));
  // The input written for this energy holds the wavelength in single precision, and its
  // element lines the values at that wavelength.
  for (AtomType& t : par.types) {
    const DispersionTerms d = element_line_dispersion(t.z, par.alam1);
    t.fp = d.fp;
    t.fpp = d.fpp;
  }
  // The synchrotron line of input line 4 at this wavelength, with the band of line 5.
  monochromator(par);
  synchrotron_band(par);
  par.i0 = synchrotron_i0(par.alam1);
  par.i0 = scale_factor(par, MeasuredScan{}, false).i0;
  try {
    check_radiation(par);
  } catch (const RunStopped&) {
    return EnergyStatus::monochromator_out_of_reach;
  }
  wavelength_band(par);
  primary_vector(par);
  try {
    check_ewald_sphere(par);
  } catch (const RunStopped&) {
    return EnergyStatus::primary_out_of_reach;
  }
  sample_constants(par);
  par.f = crystal.f_input;
  par.phi = crystal.phi_input;
  primary_structure_factor(par);
  tabulated_absorption(par);
  if (dispersion_gives_absorption(par)) dispersion_absorption(par);
  return EnergyStatus::ok;
}

}  // namespace kaven
