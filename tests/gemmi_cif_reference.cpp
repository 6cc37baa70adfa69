#include "tests/gemmi_cif_reference.hpp"

#include <gemmi/cif.hpp>
#include <gemmi/sfcalc.hpp>
#include <gemmi/smcif.hpp>

namespace kaven_test {

namespace {

// gemmi's calculator asks a table for the scattering factor of each element; this one
// answers 1 for the element being summed and 0 for every other, so that each call gives
// the geometric sum of one element.
struct OneElement {
  static inline gemmi::El current = gemmi::El::X;
  struct Coef {
    double value;
    double calculate_sf(double) const { return value; }
  };
  static bool has(gemmi::El) { return true; }
  static Coef get(gemmi::El el) { return {el == current ? 1.0 : 0.0}; }
};

}  // namespace

struct GemmiCifReference::Impl {
  gemmi::SmallStructure small;
};

GemmiCifReference::GemmiCifReference(const std::string& cif_text) : impl_(new Impl) {
  gemmi::cif::Document doc = gemmi::cif::read_string(cif_text);
  impl_->small = gemmi::make_small_structure_from_block(doc.blocks.at(0));
  impl_->small.change_occupancies_to_crystallographic();
}

GemmiCifReference::~GemmiCifReference() = default;

bool GemmiCifReference::has_space_group() const { return impl_->small.find_spacegroup() != nullptr; }

double GemmiCifReference::stol(int h, int k, int l) const {
  return std::sqrt(impl_->small.cell.calculate_stol_sq({{h, k, l}}));
}

std::complex<double> GemmiCifReference::geometric_sum(const std::string& element, int h, int k,
                                                      int l) const {
  OneElement::current = gemmi::find_element(element.c_str());
  gemmi::StructureFactorCalculator<OneElement> calc(impl_->small.cell);
  return calc.calculate_sf_from_small_structure(impl_->small, {{h, k, l}});
}

}  // namespace kaven_test
