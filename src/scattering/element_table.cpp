// Element table lookup and the two-range atomic scattering factor.
//
// Below s_lim f0 is the four-Gaussian fit of International Tables Vol. C Table
// 6.1.1.4 (good to s = 2 Å^-1, for a few light ions only to 1.5); above it ln f0 is a
// cubic in s fitted to the Hartree-Fock values up to s = 6, where the Gaussians have
// long since died away but core electrons still scatter. f0 carries no dispersion:
// f' and f'' are added by the structure factor.
#include "scattering/element_table.hpp"

#include <cmath>
#include <iterator>
#include <string>

#include "core/fixed_text.hpp"
#include "core/run_stop.hpp"

namespace kaven {

namespace {

constexpr ElementEntry kElements[] = {
#include "data/element_table.inc"
};
static_assert(std::size(kElements) == 211);

// The high-angle polynomial divides s^2 by 10 and s^3 by 100 with these constants.
constexpr float kTenth = 0.1f;
constexpr float kHundredth = 0.01f;
constexpr double kModelLimit = 6.0;  // Å^-1; beyond it f0 is not modelled
constexpr float kTableStep = 0.05f;

}  // namespace

std::span<const ElementEntry> element_table() { return kElements; }

const ElementEntry* find_element(std::string_view atn) {
  // The symbol is a 4-character field: only its trailing blanks are padding.
  std::string field = rec::pad(atn, 4);
  std::string_view symbol = rec::rtrim(field);
  for (const ElementEntry& e : kElements)
    if (symbol == e.key) return &e;
  return nullptr;
}

void upform(RunParameters& par, int f) {
  AtomType& t = par.types.at(static_cast<std::size_t>(f));
  const ElementEntry* e = find_element(t.atn);
  if (!e) {
    const std::string first = " The chemical symbol: " + rec::pad(t.atn, 4) +
                              " does not correspond to an " + " atom/ion name";
    stop_run({first,
              " given in the Table 6.1.1.4 of the International Tables for Crystallography,",
              " Vol. C, p. 500 - 502"});
  }
  t.z = e->z;
  for (int i = 0; i < 9; ++i) t.coef[i] = e->lo[i];
  for (int i = 0; i < 4; ++i) t.coef[9 + i] = e->hi[i];
  t.coef[13] = e->slim;
  // Tube radiation: the table's dispersion corrections win over the element line.
  const std::string clam = rec::pad(par.clam, 2);
  if (clam == "Cu") {
    t.fp = e->fp_cu;
    t.fpp = e->fpp_cu;
  } else if (clam == "Mo") {
    t.fp = e->fp_mo;
    t.fpp = e->fpp_mo;
  } else if (clam == "Ag") {
    t.fp = e->fp_ag;
    t.fpp = e->fpp_ag;
  }
}

double f0(const AtomType& t, double s) {
  const auto& c = t.coef;
  if (s <= c[13]) {
    const double s2 = s * s;
    return c[0] * std::exp(-c[1] * s2) + c[2] * std::exp(-c[3] * s2) + c[4] * std::exp(-c[5] * s2) +
           c[6] * std::exp(-c[7] * s2) + c[8];
  }
  if (s > kModelLimit) return 0.0;  // the structure factor treats such reflections as 0
  return std::exp(c[9] + c[10] * s + c[11] * s * s * kTenth + c[12] * s * s * s * kHundredth);
}

void tabulate_f0(AtomType& t) {
  // s accumulates the single-precision step, so the grid points lie a little above
  // multiples of 0.05 (s = 2 is just past a limit of 2.0) and 6.0 is never reached.
  std::size_t i = 0;
  for (double s = 0.0; s <= kModelLimit && i < t.f0_table.size(); s += kTableStep)
    t.f0_table[i++] = static_cast<float>(f0(t, s));
}

double f000_without_dispersion(std::span<const AtomType> types) {
  double f000 = 0;
  for (const AtomType& t : types) f000 += static_cast<double>(t.ncell) * t.f0_table[0];
  return f000;
}

}  // namespace kaven
