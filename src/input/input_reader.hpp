// The line groups of the input file, read in the order of a run. Each function reads
// its lines into the run record, forms the values derived on the spot, and ends the run
// (RunContext::stop) with the message naming the line when a read fails; run.ierr
// keeps the status of the last read.
#pragma once
#include "input/free_format.hpp"
#include "report/listing.hpp"

namespace kaven {

// Line 1 (title, echoed) and line 2 (plot-file name into par.dname1).
void read_title(RunContext& run, LineSource& src);
void read_plot_name(RunContext& run, LineSource& src);
// Lines 3 to 7: cell, radiation, beam and crystal, psi range and thresholds (with the
// psi-range check), nr na nf; then the per-atom and per-element arrays are allocated.
void read_cell_to_counts(RunContext& run, LineSource& src);
// Lines 7a/7b: ic, ns and the explicit operators (nr > 230), echoed.
void read_explicit_operators(RunContext& run, LineSource& src);
// The operator set of the run: from the table for nr <= 230 (with the lattice points
// of its lattice letter), explicitly from lines 7a/7b above 230; nr < 1 is refused.
void read_symmetry(RunContext& run, LineSource& src);
// Lines 8: chemical symbols with f', f''; each resolved in the element table.
void read_elements(RunContext& run, LineSource& src);
// Lines 9: atoms and the cell contents ncell.
void read_atoms(RunContext& run, LineSource& src);
// Line 10 (primary reflection), optional line 11 (orientation matrix, echoed with its
// reciprocal constants) and optional line 12 (scan-file name).
void read_primary_and_optional(RunContext& run, LineSource& src);

// Tube radiation constants by the two-character indicator; false if not a tube.
bool tube_constants(RunParameters& par, std::string_view clam);
// Monochromator Bragg angle and Darwin width of the synchrotron modes (radians).
void monochromator(RunParameters& par);

}  // namespace kaven
