#include "report/crystal_data.hpp"

#include <cmath>
#include <cstdio>
#include <string>

#include "core/constants.hpp"
#include "crystal/geometry.hpp"
#include "report/record_format.hpp"
#include "scattering/element_table.hpp"

namespace kaven {

void list_primary_warning(Listing& out, const RunParameters& par) {
  if (!provisional_primary(par)) return;
  const std::string stars(76, '*');
  const std::string side = "**" + std::string(72, ' ') + "**";
  out.blank(2);
  for (const std::string& r :
       {stars, stars, side,
        std::string("**    The structure factor of the primary reflection is larger than 2!    **"),
        std::string("**    This part of KAVEN-xx is in work!                                   **"),
        std::string("**    Only provisional results are obtained!                              **"),
        std::string("**    Calculation without interference term, (nnn = 0) is recommended!    **"),
        side, side, stars, stars})
    out.record(r);
  out.blank(2);
}

void list_lattice_constants(Listing& out, const RunParameters& p) {
  using namespace rec;
  out.blank(2);
  out.record(" Lattice constants input by the user:");
  out.record(F(10, 4, p.a) + F(10, 4, p.b) + F(10, 4, p.c) + X(2) + F(10, 2, p.alpha) +
             F(10, 2, p.beta) + F(10, 2, p.gamma));
  out.record(" Volume:" + F(12, 4, p.vol));
  out.blank();
  out.record(" Reciprocal lattice constants:");
  out.record(F(10, 4, p.as) + F(10, 4, p.bs) + F(10, 4, p.cs) + X(2) + F(10, 2, p.alphas) +
             F(10, 2, p.betas) + F(10, 2, p.gammas));
  out.record(" Reciprocal volume:" + F(12, 6, p.rvol));
}

void list_scattering_factors(Listing& out, std::span<const AtomType> types) {
  using namespace rec;
  out.blank(2);
  out.record(std::string(" Scattering factor tables: Int.") +
             " Tables for Crystallography, Vol. C, 219 - 222, 500 - 503");
  for (const AtomType& t : types) {
    out.blank();
    out.record(" " + pad(t.atn, 4) + ":" + I(3, std::lround(t.ncell)) +
               " atoms with atomic number" + I(3, t.z));
    out.blank();
    out.record(" f':" + F(8, 4, t.fp) + X(5) + "f'':" + F(8, 4, t.fpp));
    out.blank();
    out.record(" f : (sin(theta)/lambda = 0., 0.1, 0.2, ... 5.9)");
    out.blank();
    std::string line;
    for (int i = 0; i < 60; ++i) {  // every second table value: s = 0.0, 0.1, ... 5.9
      line += F(7, 3, t.f0_table[2 * i]);
      if (i % 10 == 9) {
        out.record(line);
        line.clear();
      }
    }
  }
  out.blank();
  out.record(" F000:" + F(8, 2, f000_without_dispersion(types)));
}

void list_atoms(Listing& out, const RunParameters& p) {
  using namespace rec;
  out.blank();
  out.record(" Atomic position and temperature parameters:");
  // U = beta / (2 pi^2 a*_i a*_j)
  const double c0 = double(kBetaToU);
  const double rs[3] = {p.as, p.bs, p.cs};
  const int pair[6][2] = {{0, 0}, {1, 1}, {2, 2}, {0, 1}, {0, 2}, {1, 2}};
  for (const Atom& a : p.atoms) {
    int t = a.fnr > 0.0f && a.fnr < 1.0e6f ? static_cast<int>(std::lround(a.fnr)) : 0;
    std::string atn = t >= 1 && t <= static_cast<int>(p.types.size())
                          ? p.types[static_cast<std::size_t>(t - 1)].atn
                          : std::string(4, ' ');
    out.blank();
    out.record(" " + A(4, atn) + F(9, 6, a.afact) + X(2) + F(10, 6, a.x) + F(10, 6, a.y) +
               F(10, 6, a.z));
    std::string beta = " beta:", u = " u   :";
    for (int j = 0; j < 6; ++j) {
      beta += F(10, 6, a.bt[j]);
      u += F(10, 6, static_cast<float>(c0 * a.bt[j] / (rs[pair[j][0]] * rs[pair[j][1]])));
    }
    out.record(beta);
    out.record(u);
  }
}

std::vector<std::string> unphysical_atom_values(const RunParameters& p) {
  std::vector<std::string> notes;
  const double c0 = double(kBetaToU);
  const double rs[3] = {p.as, p.bs, p.cs};
  const int pair[6][2] = {{0, 0}, {1, 1}, {2, 2}, {0, 1}, {0, 2}, {1, 2}};
  static const char* const names[6] = {"U11", "U22", "U33", "U12", "U13", "U23"};
  auto text = [](double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return std::string(buf);
  };
  for (std::size_t n = 0; n < p.atoms.size(); ++n) {
    const Atom& a = p.atoms[n];
    const int t = a.fnr > 0.0f && a.fnr < 1.0e6f ? static_cast<int>(std::lround(a.fnr)) : 0;
    std::string atom = "atom " + std::to_string(n + 1);
    if (t >= 1 && t <= static_cast<int>(p.types.size()))
      atom += " (" + std::string(rec::rtrim(p.types[static_cast<std::size_t>(t - 1)].atn)) + ")";
    if (a.afact < 0)
      notes.push_back(atom + ": the occupancy multiplier " + text(a.afact) + " is negative");
    else if (a.afact > 1)
      notes.push_back(atom + ": the occupancy multiplier " + text(a.afact) +
                      " puts more than one atom on a general position");
    for (int j = 0; j < 6; ++j) {
      const double u = c0 * a.bt[j] / (rs[pair[j][0]] * rs[pair[j][1]]);
      if (j < 3 && u < 0)
        notes.push_back(atom + ": " + names[j] + " = " + text(u) + " A**2 (beta" +
                        std::to_string(pair[j][0] + 1) + std::to_string(pair[j][1] + 1) + " = " +
                        text(a.bt[j]) + ") is negative");
      else if (!(std::fabs(u) <= 1.0))
        notes.push_back(atom + ": " + names[j] + " = " + text(u) + " A**2 (beta" +
                        std::to_string(pair[j][0] + 1) + std::to_string(pair[j][1] + 1) + " = " +
                        text(a.bt[j]) + ") is beyond 1 A**2");
    }
  }
  return notes;
}

void list_beyond_absorption_table(Listing& out, const AbsorptionResult& r) {
  for (int z : r.beyond_table)
    out.record(std::string(" The linear absorption coefficient cannot be ") +
               " calculated for the atomic number " + rec::I(3, z));
}

void list_absorption(Listing& out, const RunParameters& p, const AbsorptionResult& r) {
  using namespace rec;
  list_beyond_absorption_table(out, r);
  out.blank(2);
  out.record(" Density                                               :" + F(10, 3, p.density) +
             " g/cm -3");
  out.record(" Linear absorption coefficient (I.T., 1962, III, 157ff):" + F(10, 3, p.mue) +
             " cm -1");
  if (p.mur > kMaxMuR) {
    out.blank(2);
    out.record(" mue*radius is greater than 31.5,");
    out.record(" the absorption factor cannot be calculated");
    out.record(" the absorption factor is set to 1.");
    out.blank(2);
  }
}

void list_dispersion_absorption(Listing& out, const RunParameters& p) {
  out.record(" Linear absorption coefficient (dispersion correction) :" + rec::F(10, 3, p.mue) +
             " cm -1");
  out.blank(2);
}

}  // namespace kaven
