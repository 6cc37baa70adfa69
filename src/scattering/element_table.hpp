// Element table and atomic scattering factors.
//
// 211 species (atoms, ions and the special C and Si species) with the nine
// low-angle coefficients of International Tables C Table 6.1.1.4, four high-angle
// coefficients of ln f0 shared by all species of an element, the limit s_lim of the
// low-angle form, and f', f'' for Cu, Mo and Ag K-alpha. s = sin(theta)/lambda in Å^-1.
#pragma once
#include <span>
#include <string_view>

#include "input/run_parameters.hpp"

namespace kaven {

struct ElementEntry {
  const char* key;  // chemical symbol without trailing blanks ("H", "Ni2+", "Siva")
  int z;
  float lo[9];      // a1 b1 a2 b2 a3 b3 a4 b4 c
  float hi[4];      // g0 g1 g2 g3
  float slim;       // upper limit of the low-angle form
  float fp_cu, fpp_cu, fp_mo, fpp_mo, fp_ag, fpp_ag;
};

// The 211 entries in table order.
std::span<const ElementEntry> element_table();

// The entry whose key equals the 4-character symbol exactly (trailing blanks of the
// symbol are padding; case and leading blanks matter), or nullptr.
const ElementEntry* find_element(std::string_view atn);

// Resolves par.types[f].atn (f 0-based): sets z, coef and, for Cu, Mo and Ag tube
// radiation (par.clam), fp and fpp. An unknown symbol is the element error: the run
// ends (RunStopped) with its three message records and the type stays untouched.
void upform(RunParameters& par, int f);

// f0 of a type at s: four Gaussians plus c up to s_lim, exp(g0 + g1 s + g2 s^2/10 +
// g3 s^3/100) above, up to s = 6.
double f0(const AtomType& t, double s);

// Fills t.f0_table at s = 0, 0.05, ... while s <= 6 (120 values).
void tabulate_f0(AtomType& t);

// F(000) of the cell contents without dispersion: the sum of ncell f0(0) over the types,
// from their tables (the value the listing prints after the scattering factors).
double f000_without_dispersion(std::span<const AtomType> types);

}  // namespace kaven
