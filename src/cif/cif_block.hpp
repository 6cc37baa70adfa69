// The items of one CIF data block that the structure reader takes, as gemmi's CIF parser
// reads them: plain values, and whether each was there at all.
//
// gemmi 0.5's document types hold a vector of a type that is still incomplete where the
// vector is declared; clang does not compile that as C++20. So the parsing lives in
// cif_block.cpp, compiled as C++17 with this header, and cif_structure.cpp (C++20) turns
// these values into a CifStructure.
#pragma once
#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kaven {

// One clear message about what the CIF lacks or holds wrongly.
class CifError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A single value and the tag it was found under (the first of the tags asked for).
struct CifTaggedValue {
  std::string tag;
  std::string value;  // unquoted
};

struct CifSiteValues {
  std::string label;
  std::string type_symbol;          // _atom_site_type_symbol, or the label
  bool type_symbol_given = false;
  std::array<double, 3> fract{};
  double occupancy = 1.0;             // 1 when not given
  bool iso_given = false;             // U_iso_or_equiv or B_iso_or_equiv is a number
  double u_iso = 0;                   // Å^2
  bool aniso_given = false;           // a non-zero anisotropic U
  std::array<double, 6> u_aniso{};    // U11 U22 U33 U12 U13 U23
};

struct CifBlockValues {
  std::string name;
  std::vector<std::string> warnings;  // what was mended or chosen while reading ("line 9: ...")
  std::vector<std::string> notes;     // which block was read, when the file holds several
  std::optional<std::string> formula;              // _chemical_formula_sum
  std::optional<CifTaggedValue> hermann_mauguin;   // _space_group_name_H-M_alt, ...
  std::optional<CifTaggedValue> hall;              // _space_group_name_Hall, ...
  std::optional<CifTaggedValue> number;            // _space_group_IT_number, ...
  std::array<double, 6> cell{};                    // a, b, c (Å), alpha, beta, gamma (degrees)
  std::string operator_tag;                        // where the operators stand, if anywhere
  std::vector<std::string> operators;              // their x,y,z triplets
  std::vector<CifSiteValues> sites;                // without dummy atoms
  std::vector<std::pair<std::string, std::array<double, 6>>> aniso_b;  // label, B11..B23
};

// The first data block with atom sites (or the block named `block`) of a CIF file or
// text, read as mended by cif_text.hpp. A tag that appears twice in a block keeps its
// first value (a repeated loop column is left out), with a warning naming both lines.
// Throws CifError naming what is missing or unreadable: the file, the place of a parse
// error, the block, the cell, the atom sites, their fractional coordinates.
CifBlockValues read_cif_block_file(const std::string& path, const std::string& block);
CifBlockValues read_cif_block_text(const std::string& text, const std::string& block);

}  // namespace kaven
