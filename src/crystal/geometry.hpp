// Cell, reciprocal cell, primary reflection and wavelength band of a run.
//
// Reciprocal metric G*: |x|^2 = x^T G* x for index triples x (Å^-2). The primary
// reflection h_p gives q = G* h_p, |h_p| and s_p = |h_p|/2 = sin(theta)/lambda; a
// primary with lambda s_p > 1 cannot reach the Ewald sphere.
//
// The checks end the run (RunStopped) with their message; nothing here writes the
// listing.
#pragma once
#include <array>
#include <vector>

#include "input/run_parameters.hpp"

namespace kaven {

// nstep = NINT((psie - psia) zsw) and the two scan arrays (0 and the 1e20 marker of a
// step without measurement); stops with its message when they cannot be allocated.
void allocate_scan(RunParameters& par, std::vector<float>& calc, std::vector<float>& meas);
// Inputs no geometry can be formed from end the run with a message: a wavelength
// that is not positive, a monochromator reflection that does not exist or cannot be
// reached (synchrotron modes); a cell without volume, a crystal or mosaic blocks
// without size, negative divergences or mosaic spread, the primary reflection 0 0 0.
void check_radiation(const RunParameters& par);
void check_cell(const RunParameters& par);
// alam, dlam, lamin, lamax, w1, w2.
void wavelength_band(RunParameters& par);
// V, V*, a*, b*, c*, reciprocal angles, G*.
void reciprocal_cell(RunParameters& par);
// q, |h_p|, d_p, s_p and the Ewald-sphere test (stops when it fails).
void primary_reflection(RunParameters& par);
// Its two parts: q, |h_p|, d_p, s_p; the test of s_p alam1 against 1.
void primary_vector(RunParameters& par);
void check_ewald_sphere(const RunParameters& par);
// fcalc1 for the primary when f = 0, the phase rule, and for a primary structure factor
// above 2 the title of a provisional output (the listing shows the warning box).
void primary_structure_factor(RunParameters& par);
// A primary structure factor above 2: the results are provisional.
bool provisional_primary(const RunParameters& par);
// Gamma, crystal cross-section and volume.
void sample_constants(RunParameters& par);

// The reciprocal constants an orientation matrix implies: the lengths of its columns
// (Å^-1) and the angles between them (degrees), a*, b*, c*, alpha*, beta*, gamma*. Only
// listed; the computation uses the cell constants.
std::array<double, 6> ub_reciprocal_constants(const std::array<float, 9>& ub);

}  // namespace kaven
