// Cell, reciprocal cell, primary reflection and wavelength band of a run.
//
// Reciprocal metric G*: |x|^2 = x^T G* x for index triples x (Å^-2). The primary
// reflection h_p gives q = G* h_p, |h_p| and s_p = |h_p|/2 = sin(theta)/lambda; a
// primary with lambda s_p > 1 cannot reach the Ewald sphere.
#pragma once
#include <vector>

#include "input/run_parameters.hpp"
#include "report/listing.hpp"

namespace kaven {

// nstep = NINT((psie - psia) zsw) and the two scan arrays (0 and the 1e20 marker of a
// step without measurement); stops with its message when they cannot be allocated.
void allocate_scan(RunContext& run, std::vector<float>& calc, std::vector<float>& meas);
// Inputs no geometry can be formed from end the run with a message: a wavelength
// that is not positive, a monochromator reflection that does not exist or cannot be
// reached (synchrotron modes); a cell without volume, mosaic blocks without size, the
// primary reflection 0 0 0.
void check_radiation(RunContext& run);
void check_cell(RunContext& run);
// alam, dlam, lamin, lamax, w1, w2.
void wavelength_band(RunParameters& par);
// V, V*, a*, b*, c*, reciprocal angles, G*.
void reciprocal_cell(RunParameters& par);
// q, |h_p|, d_p, s_p and the Ewald-sphere test (stops when it fails).
void primary_reflection(RunContext& run);
// fcalc1 for the primary when f = 0, the phase rule, and the box and replaced title
// for a primary structure factor above 2.
void primary_structure_factor(RunContext& run);
// Gamma, crystal cross-section and volume.
void sample_constants(RunParameters& par);
// " Lattice constants input by the user:" ... " Reciprocal volume:".
void list_lattice_constants(RunContext& run);
// " Atomic position and temperature parameters:" with the U values.
void list_atoms(RunContext& run);

}  // namespace kaven
