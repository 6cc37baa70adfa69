// The echo of the input in the listing: the title, the symmetry operators of the run
// (from the table or from explicit lines) and the orientation matrix with the
// reciprocal constants it implies.
#pragma once
#include <array>
#include <string_view>

#include "input/run_parameters.hpp"
#include "report/listing.hpp"

namespace kaven {

// Two empty records, the title after one blank, an empty record.
void list_title(Listing& out, std::string_view title);

// The lines of raumgr: " Space-group-Nr.   : " with the centrosymmetry and the name,
// the number of operators, then the operators four to a line in the triplet notation
// (translations as 1/2, 1/3, ...).
void list_space_group(Listing& out, const RunParameters& par, int nr);

// Explicitly given operators: ns as I4 " symmetry lines:", then one line per operator
// (3X, F6.3, 3F4.0 per row).
void list_explicit_operators(Listing& out, const RunParameters& par);

// " UB-matrix:" with its three rows (3F12.6) and the reciprocal constants it implies.
void list_orientation_matrix(Listing& out, const std::array<float, 9>& ub);

}  // namespace kaven
