// A crystal structure as a small-molecule or inorganic CIF gives it: the cell, the whole
// space group in the setting of the file, and the atom sites with occupancies and
// displacement parameters. Read with gemmi; nothing here knows the input file.
//
// The symmetry is taken from the first of these that the data block holds: the loop of
// operators (_space_group_symop_operation_xyz or _symmetry_equiv_pos_as_xyz), the Hall
// symbol, the Hermann-Mauguin symbol, the space-group number. Only the operators fix the
// setting without doubt; a symbol without origin choice is read as gemmi reads it, and
// a note says so.
#pragma once
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "cif/cif_block.hpp"  // CifError
#include "crystal/operator_group.hpp"

namespace kaven {

enum class Displacement { none, isotropic, anisotropic };

struct CifSite {
  std::string label;
  std::string type_symbol;   // _atom_site_type_symbol, or the label when there is none
  bool symbol_from_label = false;
  std::array<double, 3> fract{};
  double occupancy = 1.0;    // the fraction of the site occupied (chemical occupancy)
  Displacement adp = Displacement::none;
  double u_iso = 0;                // Å^2
  std::array<double, 6> u_aniso{};  // U11 U22 U33 U12 U13 U23 (Å^2), axes a*, b*, c*
};

struct CifStructure {
  std::string block_name;
  std::string formula;                 // _chemical_formula_sum, when given
  std::string space_group_name;        // the Hermann-Mauguin symbol, when given
  std::array<double, 6> cell{};        // a, b, c (Å), alpha, beta, gamma (degrees)
  std::vector<ExactOperator> operators;  // the group as the file states it, identity first
  std::string symmetry_source;           // where the operators came from, for messages
  std::vector<CifSite> sites;
  std::vector<std::string> notes;        // what was assumed while reading
  std::vector<std::string> warnings;     // what was mended in the file ("line 9: ...")
};

// Reads the first data block with atom sites (or the block named `block` when given),
// mending what databases and visualisers write (cif_text.hpp, cif_block.hpp) with a
// warning for each mend. Throws CifError naming what is missing: the file, the place of
// a parse error, the cell, the atom sites, their fractional coordinates, a readable
// symmetry.
CifStructure read_cif_structure(const std::filesystem::path& path, const std::string& block = {});
CifStructure cif_structure_from_text(const std::string& text, const std::string& block = {});

}  // namespace kaven
