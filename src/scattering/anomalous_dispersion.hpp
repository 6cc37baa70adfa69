// The anomalous-dispersion terms f' and f'' of an element at an X-ray wavelength, from the
// Cromer-Liberman calculation (D. T. Cromer & D. Liberman, J. Chem. Phys. 53 (1970)
// 1891-1898; Acta Cryst. A37 (1981) 267-268) as gemmi implements it. The element table
// holds f' and f'' for the three tube lines only; a synchrotron energy takes them from
// here. Near an absorption edge the values change by electrons per eV: they are those of
// an isolated atom, without the fine structure of the edge.
#pragma once

namespace kaven {

struct AnomalousDispersion {
  double fp = 0;   // f' (electrons)
  double fpp = 0;  // f'' (electrons)
};

// f' and f'' of the element with atomic number z (1..92) at the wavelength in Å (> 0).
AnomalousDispersion cromer_liberman(int z, double wavelength_A);

// Photon energy (eV) of a wavelength (Å) and back, with the hc of the calculation above.
double energy_ev_of(double wavelength_A);
double wavelength_A_of(double energy_ev);

}  // namespace kaven
