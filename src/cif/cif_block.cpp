// gemmi parses the file and reads the cell and the atom sites
// (make_small_structure_from_block); this file adds what the conversion must know and
// gemmi does not say: whether a value was there at all, the anisotropic B loop, and the
// symmetry items as they are written. Compiled as C++17 (see cif_block.hpp).
#include "cif/cif_block.hpp"

#include <cfloat>
#include <cmath>
#include <exception>
#include <initializer_list>

// gemmi's formatting helper announces with #warning that it uses Debian's stb_sprintf;
// this file is compiled with that warning off (see CMakeLists.txt).
#define GEMMI_WRITE_IMPLEMENTATION
#include <gemmi/cif.hpp>
#include <gemmi/smcif.hpp>

namespace kaven {

namespace cif = gemmi::cif;

namespace {

// The first value of the first tag the block holds.
std::optional<CifTaggedValue> first_value(const cif::Block& block,
                                          std::initializer_list<const char*> tags) {
  for (const char* tag : tags)
    if (const std::string* v = block.find_value(tag); v && !cif::is_null(*v))
      return CifTaggedValue{tag, cif::as_string(*v)};
  return std::nullopt;
}

bool has_fractional_sites(cif::Block& block) {
  return block.find_values("_atom_site_fract_x").item() != nullptr;
}

cif::Block& choose_block(cif::Document& doc, const std::string& name) {
  if (doc.blocks.empty()) throw CifError("the file holds no data block");
  if (!name.empty()) {
    for (cif::Block& b : doc.blocks)
      if (b.name == name) return b;
    throw CifError("the file holds no data block named '" + name + "'");
  }
  for (cif::Block& b : doc.blocks)
    if (has_fractional_sites(b)) return b;
  return doc.blocks.front();
}

double number(const std::string& v) { return cif::as_number(v); }

void read_sites(cif::Block& block, CifBlockValues& out) {
  if (!has_fractional_sites(block))
    throw CifError("the CIF holds no atom sites with fractional coordinates (_atom_site_fract_x)");
  gemmi::SmallStructure small;
  try {
    small = gemmi::make_small_structure_from_block(block);
  } catch (const std::exception& e) {
    throw CifError(std::string("the atom sites cannot be read: ") + e.what());
  }
  if (small.sites.empty()) throw CifError("the CIF holds no atom sites");
  // Which optional values each site really has.
  cif::Table tab = block.find("_atom_site_",
                              {"label", "?type_symbol", "fract_x", "fract_y", "fract_z",
                               "?U_iso_or_equiv", "?B_iso_or_equiv", "?calc_flag"});
  if (!tab.ok() || tab.length() != small.sites.size())
    throw CifError("the atom-site loop needs _atom_site_label and _atom_site_fract_x, _y, _z");
  std::size_t i = 0;
  for (auto row : tab) {
    const gemmi::SmallStructure::Site& s = small.sites[i++];
    // dummy atoms carry no charge density
    if (row.has2(7) && cif::as_string(row[7]) == "dum") continue;
    CifSiteValues site;
    site.label = s.label;
    site.type_symbol = s.type_symbol;
    site.type_symbol_given = row.has2(1);
    site.fract = {s.fract.x, s.fract.y, s.fract.z};
    for (int k = 2; k <= 4; ++k)
      if (!std::isfinite(number(row[k])))
        throw CifError("atom site '" + s.label + "' has no fractional coordinate " + "xyz"[k - 2]);
    site.occupancy = std::isfinite(s.occ) ? s.occ : 1.0;
    site.iso_given = (row.has2(5) && std::isfinite(number(row[5]))) ||
                     (row.has2(6) && std::isfinite(number(row[6])));
    site.u_iso = s.u_iso;
    site.aniso_given = s.aniso.nonzero();
    site.u_aniso = {s.aniso.u11, s.aniso.u22, s.aniso.u33, s.aniso.u12, s.aniso.u13, s.aniso.u23};
    out.sites.push_back(site);
  }
  if (out.sites.empty()) throw CifError("the CIF holds no atom sites");
  cif::Table aniso = block.find("_atom_site_aniso_",
                                {"label", "B_11", "B_22", "B_33", "B_12", "B_13", "B_23"});
  for (auto row : aniso) {
    std::array<double, 6> b{};
    for (int k = 0; k < 6; ++k) b[k] = number(row[k + 1]);
    out.aniso_b.emplace_back(row.str(0), b);
  }
}

CifBlockValues read_block(cif::Block& block) {
  CifBlockValues out;
  out.name = block.name;
  if (auto f = first_value(block, {"_chemical_formula_sum"})) out.formula = f->value;
  out.hermann_mauguin =
      first_value(block, {"_space_group_name_H-M_alt", "_symmetry_space_group_name_H-M"});
  out.hall = first_value(block, {"_space_group_name_Hall", "_symmetry_space_group_name_Hall"});
  out.number = first_value(block, {"_space_group_IT_number", "_symmetry_Int_Tables_number"});
  // The cell: all six constants, each a positive number.
  const char* cell_tags[6] = {"_cell_length_a", "_cell_length_b", "_cell_length_c",
                              "_cell_angle_alpha", "_cell_angle_beta", "_cell_angle_gamma"};
  for (int i = 0; i < 6; ++i) {
    const std::string* v = block.find_value(cell_tags[i]);
    out.cell[i] = v ? number(*v) : NAN;
    // (the run holds the cell in single precision)
    if (!std::isfinite(out.cell[i]) || out.cell[i] <= 0)
      throw CifError(std::string("the CIF gives no cell: ") + cell_tags[i] +
                     (v ? " is not a positive number" : " is missing"));
    if (i >= 3 && out.cell[i] >= 180)
      throw CifError(std::string("the CIF gives no cell: ") + cell_tags[i] +
                     " is not an angle between 0 and 180 degrees");
    if (out.cell[i] > FLT_MAX)
      throw CifError(std::string("the CIF gives no cell: ") + cell_tags[i] +
                     " is beyond single precision");
  }
  read_sites(block, out);
  for (const char* tag : {"_space_group_symop_operation_xyz", "_symmetry_equiv_pos_as_xyz",
                          "_space_group_symop.operation_xyz"}) {
    cif::Column col = block.find_values(tag);
    if (!col || col.length() == 0) continue;
    out.operator_tag = tag;
    for (int i = 0; i < col.length(); ++i) out.operators.push_back(col.str(i));
    break;
  }
  return out;
}

}  // namespace

CifBlockValues read_cif_block_file(const std::string& path, const std::string& block) {
  cif::Document doc;
  try {
    doc = cif::read_file(path);
  } catch (const std::exception& e) {
    throw CifError(std::string("cannot read the CIF: ") + e.what());
  }
  return read_block(choose_block(doc, block));
}

CifBlockValues read_cif_block_text(const std::string& text, const std::string& block) {
  cif::Document doc;
  try {
    doc = cif::read_string(text);
  } catch (const std::exception& e) {
    throw CifError(std::string("cannot read the CIF: ") + e.what());
  }
  return read_block(choose_block(doc, block));
}

}  // namespace kaven
