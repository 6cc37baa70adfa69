// A CIF data block (read by cif_block.cpp) into CifStructure: the symmetry as exact
// operators from whichever symmetry items the block holds (gemmi's symmetry tables), the
// sites with the kind of displacement parameters they have.
#include "cif/cif_structure.hpp"

#include <algorithm>
#include <cmath>
#include <exception>
#include <stdexcept>

#include <gemmi/symmetry.hpp>
#include <gemmi/math.hpp>

namespace kaven {

namespace {

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

// The numbers of a triplet ("x+1/2", "-y+3/4") have a few digits; longer ones would
// overflow gemmi's integer arithmetic on the way to a meaningless operator.
bool plain_numbers(const std::string& triplet) {
  std::size_t run = 0;
  for (char c : triplet) {
    run = (c >= '0' && c <= '9') ? run + 1 : 0;
    if (run > 4) return false;
  }
  return true;
}

// gemmi's Hall parser indexes the translation of a numeric subscript ("3_1", "6_5") by
// the axis of its symbol and does not check that there is one: a subscript on a
// diagonal axis, or on a symbol whose axis is neither written nor implied, reads
// outside an array. This checks the matrix symbols for that before gemmi reads them,
// with gemmi's rules for the implied axis: z for the first symbol, x for a 2 that
// follows a 2 or a 4.
bool hall_subscripts_have_axes(const std::string& hall) {
  std::size_t p = hall.find_first_not_of(" \t_");
  if (p == std::string::npos) return true;
  if (hall[p] == '-') p = hall.find_first_not_of(" \t_", p + 1);
  if (p == std::string::npos) return true;
  ++p;  // the lattice symbol
  int pos = 0, prev = 0;
  while (true) {
    p = hall.find_first_not_of(" \t_", p);
    if (p == std::string::npos || hall[p] == '(') return true;
    const std::size_t end = std::min(hall.find_first_of(" \t_", p), hall.size());
    const std::string token = hall.substr(p, end - p);
    p = end;
    ++pos;
    if (token == "1") continue;
    std::size_t q = token[0] == '-' ? 1 : 0;
    if (q >= token.size()) return true;  // gemmi refuses it
    const int n = token[q] - '0';
    bool subscript = false, axis = false, diagonal = false;
    for (++q; q < token.size(); ++q) {
      const char c = token[q];
      subscript |= c >= '1' && c <= '5';
      axis |= c == 'x' || c == 'y' || c == 'z';
      diagonal |= c == '\'' || c == '"' || c == '*';
    }
    const bool implied = !diagonal && (pos == 1 || (pos == 2 && n == 2 && (prev == 2 || prev == 4)));
    if (subscript && !axis && !implied) return false;
    prev = n;
  }
}

long determinant(const ExactOperator& g) {
  const auto& r = g.rot;
  return long(r[0]) * (long(r[4]) * r[8] - long(r[5]) * r[7]) -
         long(r[1]) * (long(r[3]) * r[8] - long(r[5]) * r[6]) +
         long(r[2]) * (long(r[3]) * r[7] - long(r[4]) * r[6]);
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
void check_against_symbol(const CifBlockValues& block, CifStructure& st) {
  if (!block.hermann_mauguin) return;
  const std::string& symbol = block.hermann_mauguin->value;
  const gemmi::SpaceGroup* sg = gemmi::find_spacegroup_by_name(symbol, st.cell[3], st.cell[5]);
  if (!sg) return;
  const std::size_t order = close_group(st.operators).size();
  const auto expected = static_cast<std::size_t>(sg->operations().order());
  if (order != expected)
    st.notes.push_back("the " + std::to_string(st.operators.size()) +
                       " symmetry operators of the CIF make a group of " + std::to_string(order) +
                       ", the symbol '" + symbol + "' one of " + std::to_string(expected) +
                       ": the operators are used");
}

void read_symmetry(const CifBlockValues& block, CifStructure& st) {
  // 1. The operators themselves.
  if (!block.operator_tag.empty()) {
    std::vector<ExactOperator> ops;
    for (const std::string& triplet : block.operators) {
      const std::string where = "the symmetry operator '" + triplet + "' (" + block.operator_tag + ")";
      ExactOperator g;
      try {
        if (!plain_numbers(triplet)) throw std::invalid_argument(triplet);
        const gemmi::Op op = gemmi::parse_triplet(triplet);
        for (const auto& row : op.rot)
          for (int v : row)
            if (v % gemmi::Op::DEN != 0) throw std::invalid_argument(triplet);  // "x/2"
        g = exact(op);
      } catch (const std::exception&) {
        throw CifError(where + " cannot be read");
      }
      if (std::abs(determinant(g)) != 1)
        throw CifError(where + " is no symmetry operation: the determinant of its matrix is " +
                       std::to_string(determinant(g)));
      ops.push_back(g);
    }
    // The identity first, as the listing and the structure-factor sum expect it.
    const ExactOperator identity{};
    std::erase(ops, identity);
    ops.insert(ops.begin(), identity);
    st.operators = ops;
    st.symmetry_source = "the operators of " + block.operator_tag;
    check_against_symbol(block, st);
    return;
  }
  // 2. The Hall symbol fixes the setting too.
  if (block.hall) {
    const std::string& symbol = block.hall->value;
    try {
      if (!plain_numbers(symbol) || !hall_subscripts_have_axes(symbol))
        throw std::invalid_argument(symbol);
      st.operators = exact_group(gemmi::symops_from_hall(symbol.c_str()));
    } catch (const std::exception&) {
      throw CifError("the Hall symbol '" + symbol + "' cannot be read");
    }
    st.symmetry_source = "the Hall symbol '" + symbol + "'";
    return;
  }
  // 3. A Hermann-Mauguin symbol or a number: gemmi's reading of it.
  const gemmi::SpaceGroup* sg = nullptr;
  const CifTaggedValue* given = block.hermann_mauguin ? &*block.hermann_mauguin
                                : block.number        ? &*block.number
                                                      : nullptr;
  if (given) {
    sg = gemmi::find_spacegroup_by_name(given->value, st.cell[3], st.cell[5]);
    if (!sg)
      throw CifError(std::string("the space-group ") + (block.hermann_mauguin ? "symbol" : "number") +
                     " '" + given->value + "' is not known");
  }
  if (!sg) {
    st.operators = {ExactOperator{}};
    st.symmetry_source = "no symmetry items (P 1 assumed)";
    st.notes.push_back("the CIF gives no symmetry: space group P 1 is assumed");
    return;
  }
  st.operators = exact_group(sg->operations());
  st.symmetry_source = "'" + given->value + "' (" + given->tag + ")";
  st.notes.push_back("the CIF gives no symmetry operators: '" + given->value + "' is taken as " +
                     sg->xhm() + " (Hall symbol " + sg->hall + ")");
}

CifStructure structure(const CifBlockValues& block) {
  CifStructure st;
  st.block_name = block.name;
  st.warnings = block.warnings;
  st.notes = block.notes;
  if (block.formula) st.formula = *block.formula;
  if (block.hermann_mauguin) st.space_group_name = block.hermann_mauguin->value;
  st.cell = block.cell;
  for (const CifSiteValues& s : block.sites) {
    CifSite site;
    site.label = s.label;
    site.type_symbol = s.type_symbol;
    site.symbol_from_label = !s.type_symbol_given;
    site.fract = s.fract;
    site.occupancy = s.occupancy;
    if (s.iso_given) {
      site.adp = Displacement::isotropic;
      site.u_iso = s.u_iso;
    }
    if (s.aniso_given) {
      site.adp = Displacement::anisotropic;
      site.u_aniso = s.u_aniso;
    }
    st.sites.push_back(site);
  }
  // An anisotropic B loop (B_11 ... B_23) gives the U of its sites.
  for (const auto& [label, b] : block.aniso_b)
    for (CifSite& s : st.sites)
      if (s.label == label) {
        for (int i = 0; i < 6; ++i) s.u_aniso[i] = b[i] / gemmi::u_to_b();
        s.adp = Displacement::anisotropic;
      }
  read_symmetry(block, st);
  return st;
}

}  // namespace

CifStructure read_cif_structure(const std::filesystem::path& path, const std::string& block) {
  return structure(read_cif_block_file(path.string(), block));
}

CifStructure cif_structure_from_text(const std::string& text, const std::string& block) {
  return structure(read_cif_block_text(text, block));
}

}  // namespace kaven
