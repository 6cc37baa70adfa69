// Reading a CIF data block into CifStructure. gemmi parses the file and reads the cell
// and the atom sites (make_small_structure_from_block); this file adds what a
// conversion must know and gemmi does not say: whether a value was there at all, the
// anisotropic B loop, and the space group as exact operators from whichever symmetry
// items the block holds.
#include "cif/cif_structure.hpp"

#include <cmath>
#include <exception>

// gemmi's formatting helper announces with #warning that it uses Debian's stb_sprintf;
// this file is compiled with that warning off (see CMakeLists.txt).
#define GEMMI_WRITE_IMPLEMENTATION
#include <gemmi/cif.hpp>
#include <gemmi/smcif.hpp>
#include <gemmi/symmetry.hpp>

namespace kaven {

namespace cif = gemmi::cif;

namespace {

// The first value of the first tag the block holds, or nullptr.
const std::string* first_value(const cif::Block& block, std::initializer_list<const char*> tags,
                               const char** found = nullptr) {
  for (const char* tag : tags)
    if (const std::string* v = block.find_value(tag); v && !cif::is_null(*v)) {
      if (found) *found = tag;
      return v;
    }
  return nullptr;
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

ExactOperator exact(const gemmi::Op& op) {
  static_assert(gemmi::Op::DEN == kTranslationDenominator);
  ExactOperator g;
  for (int j = 0; j < 3; ++j) {
    for (int k = 0; k < 3; ++k) g.rot[3 * j + k] = op.rot[j][k] / gemmi::Op::DEN;
    g.tran[j] = op.tran[j];
  }
  g.tran = wrap_translation(g.tran);
  return g;
}

// The group in gemmi's order: every operator with the first centring translation
// (zero), then with the next, so the identity comes first.
std::vector<ExactOperator> exact_group(const gemmi::GroupOps& ops) {
  std::vector<ExactOperator> r;
  for (gemmi::Op op : ops) r.push_back(exact(op));
  return r;
}

// Operators and symbol that disagree on the size of the group (a loop without its
// centring translations, say) are worth a note: the operators are what is used.
void check_against_symbol(cif::Block& block, const std::array<double, 6>& cell, CifStructure& st) {
  const std::string* hm =
      first_value(block, {"_space_group_name_H-M_alt", "_symmetry_space_group_name_H-M"});
  if (!hm) return;
  const std::string symbol = cif::as_string(*hm);
  const gemmi::SpaceGroup* sg = gemmi::find_spacegroup_by_name(symbol, cell[3], cell[5]);
  if (!sg) return;
  const std::size_t order = close_group(st.operators).size();
  const auto expected = static_cast<std::size_t>(sg->operations().order());
  if (order != expected)
    st.notes.push_back("the " + std::to_string(st.operators.size()) +
                       " symmetry operators of the CIF make a group of " + std::to_string(order) +
                       ", the symbol '" + symbol + "' one of " + std::to_string(expected) +
                       ": the operators are used");
}

void read_symmetry(cif::Block& block, const std::array<double, 6>& cell, CifStructure& st) {
  // 1. The operators themselves.
  for (const char* tag : {"_space_group_symop_operation_xyz", "_symmetry_equiv_pos_as_xyz",
                          "_space_group_symop.operation_xyz"}) {
    cif::Column col = block.find_values(tag);
    if (!col || col.length() == 0) continue;
    std::vector<ExactOperator> ops;
    for (int i = 0; i < col.length(); ++i) {
      const std::string triplet = col.str(i);
      try {
        ops.push_back(exact(gemmi::parse_triplet(triplet)));
      } catch (const std::exception&) {
        throw CifError("the symmetry operator '" + triplet + "' (" + tag + ") cannot be read");
      }
    }
    // The identity first, as the listing and the structure-factor sum expect it.
    const ExactOperator identity{};
    std::erase(ops, identity);
    ops.insert(ops.begin(), identity);
    st.operators = ops;
    st.symmetry_source = std::string("the operators of ") + tag;
    check_against_symbol(block, cell, st);
    return;
  }
  // 2. The Hall symbol fixes the setting too.
  const char* tag = nullptr;
  if (const std::string* hall =
          first_value(block, {"_space_group_name_Hall", "_symmetry_space_group_name_Hall"}, &tag)) {
    const std::string symbol = cif::as_string(*hall);
    try {
      st.operators = exact_group(gemmi::symops_from_hall(symbol.c_str()));
    } catch (const std::exception&) {
      throw CifError("the Hall symbol '" + symbol + "' cannot be read");
    }
    st.symmetry_source = "the Hall symbol '" + symbol + "'";
    return;
  }
  // 3. A Hermann-Mauguin symbol or a number: gemmi's reading of it.
  const gemmi::SpaceGroup* sg = nullptr;
  std::string given;
  if (const std::string* hm = first_value(
          block, {"_space_group_name_H-M_alt", "_symmetry_space_group_name_H-M"}, &tag)) {
    given = cif::as_string(*hm);
    sg = gemmi::find_spacegroup_by_name(given, cell[3], cell[5]);
    if (!sg) throw CifError("the space-group symbol '" + given + "' is not known");
  } else if (const std::string* nr = first_value(
                 block, {"_space_group_IT_number", "_symmetry_Int_Tables_number"}, &tag)) {
    given = cif::as_string(*nr);
    sg = gemmi::find_spacegroup_by_name(given, cell[3], cell[5]);
    if (!sg) throw CifError("the space-group number '" + given + "' is not known");
  }
  if (!sg) {
    st.operators = {ExactOperator{}};
    st.symmetry_source = "no symmetry items (P 1 assumed)";
    st.notes.push_back("the CIF gives no symmetry: space group P 1 is assumed");
    return;
  }
  st.operators = exact_group(sg->operations());
  st.symmetry_source = std::string("'") + given + "' (" + tag + ")";
  st.notes.push_back("the CIF gives no symmetry operators: '" + given + "' is taken as " +
                     sg->xhm() + " (Hall symbol " + sg->hall + ")");
}

double number(const std::string& v) { return cif::as_number(v); }

void read_anisotropic_b(cif::Block& block, CifStructure& st) {
  cif::Table tab = block.find("_atom_site_aniso_",
                              {"label", "B_11", "B_22", "B_33", "B_12", "B_13", "B_23"});
  for (auto row : tab) {
    const std::string label = row.str(0);
    for (CifSite& s : st.sites)
      if (s.label == label) {
        for (int i = 0; i < 6; ++i) s.u_aniso[i] = number(row[i + 1]) / gemmi::u_to_b();
        s.adp = Displacement::anisotropic;
      }
  }
}

CifStructure read_block(cif::Block& block) {
  CifStructure st;
  st.block_name = block.name;
  if (const std::string* f = first_value(block, {"_chemical_formula_sum"}))
    st.formula = cif::as_string(*f);
  if (const std::string* hm =
          first_value(block, {"_space_group_name_H-M_alt", "_symmetry_space_group_name_H-M"}))
    st.space_group_name = cif::as_string(*hm);

  // The cell: all six constants, each a number.
  const char* cell_tags[6] = {"_cell_length_a", "_cell_length_b", "_cell_length_c",
                              "_cell_angle_alpha", "_cell_angle_beta", "_cell_angle_gamma"};
  for (int i = 0; i < 6; ++i) {
    const std::string* v = block.find_value(cell_tags[i]);
    st.cell[i] = v ? number(*v) : NAN;
    if (!std::isfinite(st.cell[i]) || st.cell[i] <= 0)
      throw CifError(std::string("the CIF gives no cell: ") + cell_tags[i] +
                     (v ? " is not a positive number" : " is missing"));
  }

  if (!has_fractional_sites(block))
    throw CifError("the CIF holds no atom sites with fractional coordinates (_atom_site_fract_x)");
  const gemmi::SmallStructure small = gemmi::make_small_structure_from_block(block);
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
    if (row.has2(7) && cif::as_string(row[7]) == "dum") continue;  // dummy atoms carry no charge density
    CifSite site;
    site.label = s.label;
    site.type_symbol = s.type_symbol;
    site.symbol_from_label = !row.has2(1);
    site.fract = {s.fract.x, s.fract.y, s.fract.z};
    for (int k = 2; k <= 4; ++k)
      if (!std::isfinite(number(row[k])))
        throw CifError("atom site '" + s.label + "' has no fractional coordinate " +
                       "xyz"[k - 2]);
    site.occupancy = std::isfinite(s.occ) ? s.occ : 1.0;
    if ((row.has2(5) && std::isfinite(number(row[5]))) ||
        (row.has2(6) && std::isfinite(number(row[6])))) {
      site.adp = Displacement::isotropic;
      site.u_iso = s.u_iso;
    }
    if (s.aniso.nonzero()) {
      site.adp = Displacement::anisotropic;
      site.u_aniso = {s.aniso.u11, s.aniso.u22, s.aniso.u33, s.aniso.u12, s.aniso.u13, s.aniso.u23};
    }
    st.sites.push_back(site);
  }
  if (st.sites.empty()) throw CifError("the CIF holds no atom sites");
  read_anisotropic_b(block, st);
  read_symmetry(block, st.cell, st);
  return st;
}

}  // namespace

CifStructure read_cif_structure(const std::filesystem::path& path, const std::string& block) {
  cif::Document doc;
  try {
    doc = cif::read_file(path.string());
  } catch (const std::exception& e) {
    throw CifError(std::string("cannot read the CIF: ") + e.what());
  }
  return read_block(choose_block(doc, block));
}

CifStructure cif_structure_from_text(const std::string& text, const std::string& block) {
  cif::Document doc;
  try {
    doc = cif::read_string(text);
  } catch (const std::exception& e) {
    throw CifError(std::string("cannot read the CIF: ") + e.what());
  }
  return read_block(choose_block(doc, block));
}

}  // namespace kaven
