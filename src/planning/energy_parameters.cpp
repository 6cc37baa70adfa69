#include "planning/energy_parameters.hpp"

#include <cstdio>

#include <gemmi/fprime.hpp>

#include "core/run_stop.hpp"
#include "crystal/geometry.hpp"
#include "input/free_format.hpp"
#include "input/input_reader.hpp"
#include "scattering/linear_absorption.hpp"
#include "scans/measured_scan.hpp"
#include "simulation/scale_factor.hpp"

namespace kaven {

DispersionTerms dispersion_at_energy(int z, double energy_kev) {
  double fpp = 0;
  const double fp = gemmi::cromer_liberman(z, energy_kev * 1000.0, &fpp);
  // The F10.4 fields of an element line, read back as the input reader reads them.
  auto as_read = [](double v) {
    char field[64];
    std::snprintf(field, sizeof field, "%10.4f", v);
    float out = 0;
    parse_fixed_real(field, 4, out);
    return out;
  };
  return {as_read(fp), as_read(fpp)};
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
  for (AtomType& t : par.types) {
    const DispersionTerms d = dispersion_at_energy(t.z, energy_kev);
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
