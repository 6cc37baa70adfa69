// The crystal-data sections of the listing, written once the geometry is set up: the
// warning box of a provisional primary structure factor, the lattice constants, the
// scattering-factor tables with F(000), the atoms with their U values, and the density
// and absorption records.
#pragma once
#include <span>
#include <string>
#include <vector>

#include "input/run_parameters.hpp"
#include "report/listing.hpp"
#include "scattering/mue.hpp"

namespace kaven {

// The box of starred records (after two empty records, followed by two) for a primary
// structure factor above 2; nothing otherwise.
void list_primary_warning(Listing& out, const RunParameters& par);
// " Lattice constants input by the user:" ... " Reciprocal volume:".
void list_lattice_constants(Listing& out, const RunParameters& par);
// The scattering-factor block of every type and the F000 record.
void list_scattering_factors(Listing& out, std::span<const AtomType> types);
// " Atomic position and temperature parameters:" with the U values.
void list_atoms(Listing& out, const RunParameters& par);

// Atom values no crystal has, each as one text naming the atom by its line (1 = the
// first atom line) and element: a negative occupancy multiplier or one above 1 (more
// than one atom on a general position), a negative U11, U22 or U33, and a displacement
// |Uij| above 1 A**2 (an atom spread over more than a bond length). The run goes on with
// them; they are said because they change the intensities by orders of magnitude.
std::vector<std::string> unphysical_atom_values(const RunParameters& par);
// A record for each type mue could not use (Z beyond its table).
void list_beyond_absorption_table(Listing& out, const AbsorptionResult& mue);
// Those records, density, linear absorption coefficient, and the notice when mu R
// exceeds 31.5.
void list_absorption(Listing& out, const RunParameters& par, const AbsorptionResult& mue);
// The absorption coefficient from the dispersion terms.
void list_dispersion_absorption(Listing& out, const RunParameters& par);

}  // namespace kaven
