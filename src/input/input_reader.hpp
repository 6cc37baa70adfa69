// The line groups of the input file, read in the order of a run. Each function reads
// its lines into the run record and forms the values derived on the spot; when a read
// fails it ends the run (RunStopped, core/run_stop.hpp) with the message naming the
// line and the read's status. Nothing here writes the listing: the run driver echoes
// what was read (report/input_echo.hpp), and resolves the symmetry and the chemical
// symbols between the reads (raumgr, upform).
#pragma once
#include <string_view>

#include "input/free_format.hpp"
#include "input/run_parameters.hpp"

namespace kaven {

// Line 1 (the title) and line 2 (plot-file name into par.dname1).
void read_title(RunParameters& par, LineSource& src);
void read_plot_name(RunParameters& par, LineSource& src);
// Lines 3 to 7: cell, radiation, beam and crystal, psi range and thresholds (with the
// psi-range check), nr na nf; then the per-atom and per-element arrays are allocated.
void read_cell_to_counts(RunParameters& par, LineSource& src);

// Where the operators of the run come from, by nr of line 7: the built-in table for
// 1..230 (raumgr), explicit lines 7a/7b above 230. nr < 1 ends the run as a read error
// of line 7.
enum class SymmetrySource { table, explicit_lines };
SymmetrySource symmetry_source(const RunParameters& par);
// Lines 7a/7b: ic, ns and the explicit operators (nr > 230); more than 24 end the run.
void read_explicit_operators(RunParameters& par, LineSource& src);

// One line 8 (element f, 0-based): the chemical symbol with f' and f''.
void read_element_line(RunParameters& par, LineSource& src, int f);
// Lines 9: atoms and the cell contents ncell (par.ns, par.ic and par.ncent must be set).
void read_atoms(RunParameters& par, LineSource& src);
// Line 10 (primary reflection), optional line 11 (orientation matrix) and optional line
// 12 (scan-file name). Returns the status of the orientation-matrix read: 0, or
// kStatusEndOfFile when the file ends before line 11 (the run goes on without matrix
// and scan file, and the run status keeps the end of file).
int read_primary_and_optional(RunParameters& par, LineSource& src);

// Tube radiation constants by the two-character indicator; false if not a tube.
bool tube_constants(RunParameters& par, std::string_view clam);
// Monochromator Bragg angle and Darwin width of the synchrotron modes (radians).
void monochromator(RunParameters& par);
// The relative width dlam1 of the synchrotron line (after the monochromator and line 5).
void synchrotron_band(RunParameters& par);
// The default incident intensity of the synchrotron settings at the wavelength alam1
// (counts mm^-2 s^-1).
float synchrotron_i0(float alam1);

}  // namespace kaven
