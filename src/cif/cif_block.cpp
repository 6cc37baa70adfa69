// gemmi parses the file (as cif_text.hpp mends it) and reads the cell and the atom
// sites (make_small_structure_from_block); this file adds what the conversion must know
// and gemmi does not say: whether a value was there at all, the anisotropic B loop, and
// the symmetry items as they are written. Compiled as C++17 (see cif_block.hpp).
#include "cif/cif_block.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <exception>
#include <fstream>
#include <initializer_list>
#include <map>
#include <iterator>

#include "cif/cif_text.hpp"

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

std::string block_list(const std::vector<cif::Block*>& blocks) {
  std::string s;
  for (std::size_t i = 0; i < blocks.size() && i < 5; ++i) s += (i ? ", " : "") + blocks[i]->name;
  if (blocks.size() > 5) s += ", ...";
  return s;
}

// The block named `name` (names compare without case), else the first with atom sites.
cif::Block& choose_block(cif::Document& doc, const std::string& name, CifBlockValues& out) {
  if (doc.blocks.empty()) throw CifError("the file holds no data block");
  std::vector<cif::Block*> all, chosen;
  for (cif::Block& b : doc.blocks) {
    all.push_back(&b);
    if (name.empty() ? has_fractional_sites(b) : gemmi::iequal(b.name, name)) chosen.push_back(&b);
  }
  if (!name.empty()) {
    if (chosen.empty())
      throw CifError("the file holds no data block named '" + name + "' (its blocks: " +
                     block_list(all) + ")");
    if (chosen.size() > 1)
      out.warnings.push_back("the file holds " + std::to_string(chosen.size()) +
                             " data blocks named '" + name + "': the first is read");
  } else if (chosen.size() > 1) {
    out.warnings.push_back("the file holds " + std::to_string(chosen.size()) +
                           " data blocks with atom sites (" + block_list(chosen) + "): the first, '" +
                           chosen[0]->name + "', is read (--block NAME reads another)");
  } else if (chosen.size() == 1 && all.size() > 1) {
    out.notes.push_back("the structure is read from data block '" + chosen[0]->name +
                        "', the one of the file's " + std::to_string(all.size()) +
                        " blocks with atom sites");
  }
  return chosen.empty() ? doc.blocks.front() : *chosen.front();
}

// A tag given twice keeps its first value: the later pair is dropped, a later loop
// column left out (the loop goes when no column is left).
void drop_repeated_tags(cif::Block& block, std::vector<std::string>& warnings) {
  std::map<std::string, int> first_line;
  std::vector<cif::Item> kept;
  for (cif::Item& item : block.items) {
    const std::string line = "line " + std::to_string(item.line_number) + ": ";
    if (item.type == cif::ItemType::Pair) {
      const auto [first, fresh] = first_line.emplace(gemmi::to_lower(item.pair[0]), item.line_number);
      if (!fresh) {
        warnings.push_back(line + item.pair[0] + " appears again (first on line " +
                           std::to_string(first->second) + "); the first value is taken");
        continue;
      }
    } else if (item.type == cif::ItemType::Loop) {
      cif::Loop& loop = item.loop;
      const std::size_t width = loop.tags.size();
      std::vector<bool> keep(width, true);
      for (std::size_t c = 0; c < width; ++c) {
        const auto [first, fresh] = first_line.emplace(gemmi::to_lower(loop.tags[c]), item.line_number);
        if (!fresh) {
          keep[c] = false;
          warnings.push_back(line + "the loop there repeats " + loop.tags[c] + " (first on line " +
                             std::to_string(first->second) + "); its column is left out");
        }
      }
      if (std::find(keep.begin(), keep.end(), false) != keep.end()) {
        cif::Loop cut;
        for (std::size_t c = 0; c < width; ++c)
          if (keep[c]) cut.tags.push_back(loop.tags[c]);
        for (std::size_t i = 0; i < loop.values.size(); ++i)
          if (keep[i % width]) cut.values.push_back(loop.values[i]);
        loop = std::move(cut);
        if (loop.tags.empty()) continue;
      }
    }
    kept.push_back(std::move(item));
  }
  block.items = std::move(kept);
}

double number(const std::string& v) { return cif::as_number(v); }

// A value in a message: at most 40 bytes, cut between UTF-8 characters.
std::string shown(std::string v) {
  if (v.size() <= 40) return v;
  std::size_t n = 40;
  while (n > 0 && (static_cast<unsigned char>(v[n]) & 0xC0) == 0x80) --n;
  return v.substr(0, n) + "...";
}

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

void read_block(cif::Block& block, CifBlockValues& out) {
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
    if (!v) throw CifError(std::string("the CIF gives no cell: ") + cell_tags[i] + " is missing");
    if (cif::is_null(*v))
      throw CifError(std::string("the CIF gives no cell: ") + cell_tags[i] + " has no value (" + *v + ")");
    if (!std::isfinite(out.cell[i]) || out.cell[i] <= 0)
      throw CifError(std::string("the CIF gives no cell: ") + cell_tags[i] + " '" + shown(cif::as_string(*v)) +
                     "' is not a positive number");
    if (i >= 3 && out.cell[i] >= 180)
      throw CifError(std::string("the CIF gives no cell: ") + cell_tags[i] +
                     " is not an angle between 0 and 180 degrees");
    // (the run holds the cell in single precision)
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
}

// The mended text parsed by gemmi; a parse error in words of the file's lines.
cif::Document parse(const CifText& text) {
  cif::Document doc;
  tao::pegtl::memory_input<> in(text.text, "CIF");
  try {
    cif::parse_input(doc, in);
  } catch (const tao::pegtl::parse_error& e) {
    const std::size_t at = e.positions().empty() ? 0 : e.positions().front().byte;
    // The loop being read, for a loop whose values do not fill its rows.
    CifLoopCount loop;
    const bool in_loop = doc.items_ && !doc.items_->empty() &&
                         doc.items_->back().type == cif::ItemType::Loop;
    if (in_loop) {
      const cif::Item& item = doc.items_->back();
      loop.line = static_cast<std::size_t>(item.line_number);
      loop.tags = item.loop.tags;
      loop.values = item.loop.values.size();
    }
    throw CifError("cannot read the CIF: " +
                   cif_parse_error(text, std::string(e.message()), at, in_loop ? &loop : nullptr));
  }
  return doc;
}

// "line 12: ..." by its line number; a warning without one first.
std::size_t line_of(const std::string& warning) {
  return warning.rfind("line ", 0) == 0 ? std::strtoul(warning.c_str() + 5, nullptr, 10) : 0;
}

CifBlockValues read_text(std::string_view raw, const std::string& name) {
  const CifText text = mend_cif_text(raw);
  cif::Document doc = parse(text);
  CifBlockValues out;
  out.warnings = text.warnings;
  cif::Block& block = choose_block(doc, name, out);
  drop_repeated_tags(block, out.warnings);
  std::stable_sort(out.warnings.begin(), out.warnings.end(),
                   [](const std::string& a, const std::string& b) { return line_of(a) < line_of(b); });
  read_block(block, out);
  return out;
}

}  // namespace

CifBlockValues read_cif_block_file(const std::string& path, const std::string& block) {
  std::ifstream is(path, std::ios::binary);
  if (!is) throw CifError("cannot read the CIF: the file cannot be opened");
  const std::string raw((std::istreambuf_iterator<char>(is)), std::istreambuf_iterator<char>());
  if (is.bad()) throw CifError("cannot read the CIF: the file cannot be read");
  return read_text(raw, block);
}

CifBlockValues read_cif_block_text(const std::string& text, const std::string& block) {
  return read_text(text, block);
}

}  // namespace kaven
