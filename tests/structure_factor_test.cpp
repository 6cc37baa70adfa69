// Structure factors checked against a second computation of the same sum. The reference
// expands every atom of the asymmetric unit by gemmi's full space group of the same
// setting (all operators, centring translations and inversion included), rotates the
// anisotropic betas with each image (beta' = R beta R^T) and forms
//   F = sum afact (f0 + f' + i f'') exp(-h^T beta' h) exp(2 pi i h.x')
// in double. Since afact is the site multiplicity over the general multiplicity, every
// image carrying afact weighs each distinct site once, exactly as the reduced operator
// set, the centring copies and the doubling for an inversion centre do. Agreement
// therefore tests the operator table, bravai and the combination of f', f'' together.
#include "scattering/structure_factor.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "crystal/centring.hpp"
#include "crystal/geometry.hpp"
#include "crystal/reflection_symmetry.hpp"
#include "crystal/space_group.hpp"
#include "report/record_format.hpp"
#include "scattering/element_table.hpp"
#include "simulation/reflection_cache.hpp"

#include <gemmi/symmetry.hpp>
#include <gemmi/unitcell.hpp>

namespace {

using namespace kaven;
using cplx = std::complex<double>;
constexpr double kTwoPi = 2 * std::numbers::pi;

struct TypeSpec {
  const char* atn;
  float fp, fpp;  // kept with clam "dl"; replaced by the table for Cu, Mo, Ag
};

struct AtomSpec {
  float fnr, afact, x, y, z;
  std::array<float, 6> bt;  // beta11 beta22 beta33 beta12 beta13 beta23
};

// A run record built as the driver builds it: cell, table operators, resolved types,
// atoms, centring copies. `asym` keeps the atoms before the centring expansion.
struct Crystal {
  RunParameters par;
  std::vector<Atom> asym;
};

Crystal make_crystal(std::array<float, 6> cell, int nr, const char* clam,
                     const std::vector<TypeSpec>& types, const std::vector<AtomSpec>& atoms) {
  Crystal c;
  RunParameters& par = c.par;
  par.a = cell[0], par.b = cell[1], par.c = cell[2];
  par.alpha = cell[3], par.beta = cell[4], par.gamma = cell[5];
  par.clam = clam;
  par.nr = nr;
  raumgr(par, nr);
  par.ncent = lattice_points(par.space_group[0]);
  for (const TypeSpec& ts : types) {
    AtomType t;
    t.atn = rec::pad(ts.atn, 4);
    t.fp = ts.fp;
    t.fpp = ts.fpp;
    par.types.push_back(t);
    EXPECT_NO_THROW(upform(par, static_cast<int>(par.types.size()) - 1)) << ts.atn;
    tabulate_f0(par.types.back());
  }
  par.nf = static_cast<int>(par.types.size());
  for (const AtomSpec& s : atoms) {
    Atom a;
    a.fnr = s.fnr, a.afact = s.afact, a.x = s.x, a.y = s.y, a.z = s.z;
    std::copy(s.bt.begin(), s.bt.end(), a.bt);
    par.atoms.push_back(a);
  }
  c.asym = par.atoms;
  par.na = static_cast<int>(par.atoms.size());
  bravai(par, par.space_group);
  return c;
}

// Largest deviations seen in one comparison series, for the test log.
struct Deviation {
  double rel = 0, phase = 0, tiny_abs = 0;
  int compared = 0, tiny = 0;
  void print(const char* what) const {
    std::printf("%-28s %4d compared: max rel |F| %.2e, max phase %.2e rad; "
                "%4d tiny: max |dF| %.2e\n", what, compared, rel, phase, tiny, tiny_abs);
  }
};

// |F| and phase to 1e-4 (relative, rad) where |F| is above `tiny`; below it the
// complex difference must stay under `tiny` too.
void expect_agrees(const StructureFactor& got, cplx ref, double tiny, Deviation& dev,
                   const std::string& label) {
  const double fr = std::abs(ref);
  const cplx g = std::polar(double(got.fmod), double(got.phase));
  if (fr < tiny) {
    ++dev.tiny;
    dev.tiny_abs = std::max(dev.tiny_abs, std::abs(g - ref));
    EXPECT_LT(std::abs(g - ref), tiny) << label;
    return;
  }
  ++dev.compared;
  const double rel = std::abs(got.fmod - fr) / fr;
  const double dphi = std::abs(std::remainder(double(got.phase) - std::arg(ref), kTwoPi));
  dev.rel = std::max(dev.rel, rel);
  dev.phase = std::max(dev.phase, dphi);
  EXPECT_LT(rel, 1e-4) << label << " |F| " << got.fmod << " ref " << fr;
  EXPECT_LT(dphi, 1e-4) << label << " phase " << got.phase << " ref " << std::arg(ref);
}


gemmi::GroupOps group(const char* hm) {
  const gemmi::SpaceGroup* sg = gemmi::find_spacegroup_by_name(hm);
  if (!sg) ADD_FAILURE() << "gemmi does not know " << hm;
  return sg ? sg->operations() : gemmi::GroupOps{};
}

// s = sin(theta)/lambda from the cell, independently of the program's geometry.
float stol(const RunParameters& p, int h, int k, int l) {
  gemmi::UnitCell cell(p.a, p.b, p.c, p.alpha, p.beta, p.gamma);
  return static_cast<float>(std::sqrt(cell.calculate_stol_sq({{h, k, l}})));
}

cplx reference_f(const Crystal& c, const gemmi::GroupOps& ops, int h, int k, int l, double s) {
  const double hv[3] = {double(h), double(k), double(l)};
  cplx sum = 0;
  for (const Atom& a : c.asym) {
    const AtomType& t = c.par.types.at(static_cast<std::size_t>(a.fnr) - 1);
    const cplx f(std::max(0.0, f0(t, s) + t.fp), t.fpp);
    const double b[3][3] = {{a.bt[0], a.bt[3], a.bt[4]},
                            {a.bt[3], a.bt[1], a.bt[5]},
                            {a.bt[4], a.bt[5], a.bt[2]}};
    for (gemmi::Op op : ops) {
      const auto x = op.apply_to_xyz({a.x, a.y, a.z});
      double r[3][3], q = 0, hx = 0;
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) r[i][j] = double(op.rot[i][j]) / gemmi::Op::DEN;
      for (int i = 0; i < 3; ++i) {
        hx += hv[i] * x[i];
        for (int j = 0; j < 3; ++j) {
          double bij = 0;  // (R beta R^T)_ij
          for (int m = 0; m < 3; ++m)
            for (int n = 0; n < 3; ++n) bij += r[i][m] * b[m][n] * r[j][n];
          q += hv[i] * bij * hv[j];
        }
      }
      sum += double(a.afact) * f * std::exp(-q) * std::polar(1.0, kTwoPi * hx);
    }
  }
  return sum;
}

// Every h k l of the box against the reference at its own s.
Deviation compare_box(Crystal& c, const char* hm, int lo, int hi, double tiny) {
  const gemmi::GroupOps ops = group(hm);
  StructureFactorCalculator calc(c.par);
  Deviation dev;
  for (int h = lo; h <= hi; ++h)
    for (int k = lo; k <= hi; ++k)
      for (int l = lo; l <= hi; ++l) {
        const float s = stol(c.par, h, k, l);
        if (s > 6.0f) continue;
        expect_agrees(calc(h, k, l, s), reference_f(c, ops, h, k, l, s), tiny, dev,
                      std::string(hm) + " " + std::to_string(h) + " " + std::to_string(k) +
                          " " + std::to_string(l));
      }
  return dev;
}

// The largest |F| among the reflections of the box that the lattice forbids.
template <class Forbidden>
float largest_forbidden(Crystal& c, int lo, int hi, Forbidden forbidden) {
  StructureFactorCalculator calc(c.par);
  float largest = 0;
  for (int h = lo; h <= hi; ++h)
    for (int k = lo; k <= hi; ++k)
      for (int l = lo; l <= hi; ++l)
        if (forbidden(h, k, l))
          largest = std::max(largest, calc(h, k, l, stol(c.par, h, k, l)).fmod);
  return largest;
}

Crystal yig() {  // Y3Fe5O12 as in examples/yig/yig.inp, Ag radiation
  return make_crystal({12.38f, 12.38f, 12.38f, 90, 90, 90}, 230, "Ag",
                      {{"Y3+", 0, 0}, {"Fe3+", 0, 0}, {"O1-", 0, 0}},
                      {{1, 0.25f, 0.125f, 0.0f, 0.25f, {4.909e-4f, 4.909e-4f, 4.909e-4f, 0, 0, 0}},
                       {2, 0.16667f, 0, 0, 0, {5.728e-4f, 5.728e-4f, 5.728e-4f, 0, 0, 0}},
                       {2, 0.25f, 0.375f, 0.0f, 0.25f, {5.564e-4f, 5.564e-4f, 5.564e-4f, 0, 0, 0}},
                       {3, 1.0f, -0.0271f, 0.0568f, 0.1504f,
                        {6.873e-4f, 6.873e-4f, 6.873e-4f, 0, 0, 0}}});
}

TEST(StructureFactor, YigMatchesFullGroupExpansionAndBodyCentringCancels) {
  Crystal c = yig();
  ASSERT_EQ(c.par.ns, 24);
  ASSERT_EQ(c.par.ic, 1);
  ASSERT_EQ(c.par.atoms.size(), 8u);
  compare_box(c, "I a -3 d", -3, 6, 1e-2).print("YIG 230, 1000 hkl");
  auto odd_sum = [](int h, int k, int l) { return (h + k + l) % 2 != 0; };
  const float odd = largest_forbidden(c, -3, 9, odd_sum);
  std::printf("YIG largest |F| with h+k+l odd: %.2e\n", double(odd));
  EXPECT_LT(odd, 0.001f);
}

TEST(StructureFactor, SiliconInP1barAndFd3mGiveTheSameStructureFactors) {
  const std::array<float, 6> cell{5.4309f, 5.4309f, 5.4309f, 90, 90, 90};
  const std::array<float, 6> iso{0.0039f, 0.0039f, 0.0039f, 0, 0, 0};
  const std::vector<TypeSpec> siva{{"Siva", 0.0522f, 0.0431f}};
  Crystal p1bar = make_crystal(cell, 2, "dl", siva,
                               {{1, 1, 0.125f, 0.125f, 0.125f, iso},
                                {1, 1, 0.125f, 0.625f, 0.625f, iso},
                                {1, 1, 0.625f, 0.125f, 0.625f, iso},
                                {1, 1, 0.625f, 0.625f, 0.125f, iso}});
  // 8a of F d -3 m: 8 sites among the 192 images of the general position.
  Crystal fd3m =
      make_crystal(cell, 227, "dl", siva, {{1, 8.0f / 192.0f, 0.125f, 0.125f, 0.125f, iso}});
  ASSERT_EQ(fd3m.par.atoms.size(), 4u);
  compare_box(p1bar, "P -1", -4, 6, 1e-2).print("Si P-1, 1331 hkl");
  compare_box(fd3m, "F d -3 m:2", -4, 6, 1e-2).print("Si 227, 1331 hkl");

  StructureFactorCalculator a(p1bar.par), b(fd3m.par);
  Deviation dev;
  for (int h = -3; h <= 8; ++h)
    for (int k = -3; k <= 8; ++k)
      for (int l = 0; l <= 8; ++l) {
        const float s = stol(p1bar.par, h, k, l);
        const StructureFactor fb = b(h, k, l, s);
        expect_agrees(a(h, k, l, s), std::polar(double(fb.fmod), double(fb.phase)), 1e-2, dev,
                      "P-1 vs 227 " + std::to_string(h) + std::to_string(k) + std::to_string(l));
      }
  dev.print("Si P-1 vs 227");
  // Forbidden by the F lattice (mixed parity), by the d glide (0 k l with k+l = 4n+2)
  // and, for atoms on 8a, every all-even h k l with h+k+l = 4n+2 (2 2 2 among them).
  auto mixed = [](int h, int k, int l) { return (h - k) % 2 != 0 || (k - l) % 2 != 0; };
  const float fmixed = largest_forbidden(fd3m, -4, 8, mixed);
  std::printf("Si 227 largest |F| with mixed parity: %.2e\n", double(fmixed));
  EXPECT_LT(fmixed, 0.001f);
  for (auto [h, k, l] : {std::array{2, 0, 0}, {2, 2, 2}, {4, 2, 0}, {6, 0, 0}})
    EXPECT_LT(b(h, k, l, stol(fd3m.par, h, k, l)).fmod, 0.001f) << h << k << l;

  // F m -3 m copper at the origin: 1 0 0 cancels, 2 0 0 is four atoms in phase.
  Crystal cu = make_crystal({3.615f, 3.615f, 3.615f, 90, 90, 90}, 225, "Cu", {{"Cu", 0, 0}},
                            {{1, 4.0f / 192.0f, 0, 0, 0, {0.005f, 0.005f, 0.005f, 0, 0, 0}}});
  StructureFactorCalculator fcu(cu.par);
  const float cu_mixed = largest_forbidden(cu, -4, 8, mixed);
  std::printf("Cu 225 largest |F| with mixed parity: %.2e\n", double(cu_mixed));
  EXPECT_LT(cu_mixed, 0.001f);
  EXPECT_LT(fcu(1, 0, 0, stol(cu.par, 1, 0, 0)).fmod, 0.001f);
  const float s200 = stol(cu.par, 2, 0, 0);
  const AtomType& tcu = cu.par.types[0];
  const double f200 = 4 * std::abs(cplx(f0(tcu, s200) + tcu.fp, tcu.fpp)) * std::exp(-4 * 0.005);
  EXPECT_NEAR(fcu(2, 0, 0, s200).fmod, f200, 1e-4 * f200);
}

TEST(StructureFactor, HexagonalSpecialPositionsMatchFullGroupExpansion) {
  // h-BN-like P 63/m m c: B at 2c, N at 2d (site symmetry -6m2: beta11 = beta22 =
  // 2 beta12, beta13 = beta23 = 0), plus an O at a general 24l with unconstrained betas
  // so that every rotation of the group meets the beta transformation.
  Crystal c = make_crystal(
      {2.504f, 2.504f, 6.661f, 90, 90, 120}, 194, "dl",
      {{"B", 0.0f, 0.001f}, {"N", 0.004f, 0.003f}, {"O", 0.011f, 0.006f}},
      {{1, 2.0f / 24, 1.0f / 3, 2.0f / 3, 0.25f, {0.012f, 0.012f, 0.004f, 0.006f, 0, 0}},
       {2, 2.0f / 24, 1.0f / 3, 2.0f / 3, 0.75f, {0.016f, 0.016f, 0.005f, 0.008f, 0, 0}},
       {3, 1.0f, 0.17f, 0.41f, 0.07f, {0.009f, 0.014f, 0.003f, 0.002f, -0.001f, 0.0007f}}});
  ASSERT_EQ(c.par.ns, 12);
  compare_box(c, "P 63/m m c", -4, 5, 1e-2).print("P 63/m m c, 1000 hkl");
}

TEST(StructureFactor, AcentricMonoclinicWithAnisotropicBetasAndAnomalousScattering) {
  const std::vector<TypeSpec> types{{"Cu", -1.9646f, 0.5888f}, {"O", 0.047f, 0.032f},
                                    {"C", 0.0f, 0.0f}};
  const std::vector<AtomSpec> atoms{
      {1, 1, 0.1123f, 0.2345f, 0.3456f, {0.0041f, 0.0062f, 0.0033f, 0.0008f, -0.0011f, 0.0005f}},
      {2, 1, 0.4321f, 0.0876f, 0.7654f, {0.0072f, 0.0091f, 0.0049f, -0.0013f, 0.0017f, 0.0021f}},
      {3, 1, 0.8765f, 0.6543f, 0.1987f, {0.0055f, 0.0048f, 0.0061f, 0.0009f, 0.0004f, -0.0012f}}};
  for (auto [nr, hm] : {std::pair{4, "P 1 21 1"}, {9, "C 1 c 1"}}) {
    Crystal c = make_crystal({7.1f, 5.3f, 9.2f, 90, 103.5f, 90}, nr, "dl", types, atoms);
    ASSERT_EQ(c.par.ic, 2) << hm;
    compare_box(c, hm, -4, 5, 1e-2).print(hm);
  }
}

TEST(StructureFactor, F000IsTheWeightedSumOfScatteringFactors) {
  Crystal c = yig();
  const RunParameters& p = c.par;
  double re = 0, im = 0;
  for (const Atom& a : p.atoms) {
    const AtomType& t = p.types[static_cast<std::size_t>(a.fnr) - 1];
    const double w = double(a.afact) * p.ns * (p.ic == 1 ? 2 : 1);
    re += w * (f0(t, 0) + t.fp);
    im += w * t.fpp;
  }
  StructureFactorCalculator calc(c.par);
  const StructureFactor f = calc(0, 0, 0, 0);
  EXPECT_NEAR(f.fmod, std::hypot(re, im), 1e-5 * re);
  EXPECT_NEAR(f.im, im, 1e-5 * re);
  EXPECT_NEAR(f.phase, std::atan2(im, re), 1e-5);
  // The same as counting the cell: 24 Y, 16 + 24 Fe, 96 O (afact 0.16667 for 16a).
  auto fz = [&](int t) { return f0(p.types[t], 0) + p.types[t].fp; };
  EXPECT_NEAR(re, 24 * fz(0) + 40 * fz(1) + 96 * fz(2), 1e-4 * re);
  EXPECT_NEAR(im, 24 * p.types[0].fpp + 40 * p.types[1].fpp + 96 * p.types[2].fpp, 1e-4 * re);
}


TEST(StructureFactor, ModelLimitPhaseRulesAndTypeNumbers) {
  const std::array<float, 6> cell{5, 6, 7, 90, 90, 90};
  const std::array<float, 6> no_b{0, 0, 0, 0, 0, 0};
  // Type 1 ordinary, type 2 with f0 + f' < 0 (clamped to 0) and f'' < 0, type 3 idem
  // with f'' > 0.
  const std::vector<TypeSpec> types{{"Fe3+", 0.3f, 0.9f}, {"C", -1000, -2}, {"O", -1000, 3}};
  auto one_atom = [&](int nr, float fnr, float x) {
    return make_crystal(cell, nr, "dl", types, {{fnr, 1, x, 0, 0, no_b}});
  };

  // Model limit: s = 6.0 is computed (high-angle f0), beyond it F = 0 and phase 0.
  Crystal p1 = one_atom(1, 1, 0.2f);
  StructureFactorCalculator c1(p1.par);
  const AtomType& fe = p1.par.types[0];
  const StructureFactor at6 = c1(1, 0, 0, 6.0f);
  EXPECT_NEAR(at6.fmod, std::abs(cplx(f0(fe, 6.0) + fe.fp, fe.fpp)), 1e-5);
  EXPECT_GT(f0(fe, 6.0), 0.01);
  const StructureFactor beyond = c1(1, 0, 0, 6.01f);
  EXPECT_EQ(beyond.fmod, 0.0f);
  EXPECT_EQ(beyond.phase, 0.0f);

  // A negative atan2 result below -0.001 is shifted by 2 pi; one above it is kept.
  {
    Crystal near0 = make_crystal(cell, 1, "dl", {{"C", 0, 0}}, {{1, 1, -0.0001f, 0, 0, no_b}});
    const StructureFactor f = StructureFactorCalculator(near0.par)(1, 0, 0, 0.1f);
    EXPECT_NEAR(f.phase, -kTwoPi * 0.0001, 1e-6);
    Crystal shifted = make_crystal(cell, 1, "dl", {{"C", 0, 0}}, {{1, 1, 0.8f, 0, 0, no_b}});
    EXPECT_NEAR(StructureFactorCalculator(shifted.par)(1, 0, 0, 0.1f).phase, kTwoPi * 0.8, 2e-5);
  }

  // Clamped f0 + f' with f'' still scattering: Re is exactly 0, so the phase is
  // -pi/2 (not shifted) for f'' < 0 and pi/2 for f'' > 0; both acentric and centric.
  for (int nr : {1, 2}) {
    const float mult = nr == 2 ? 2.0f : 1.0f;
    Crystal neg = one_atom(nr, 2, 0);
    const StructureFactor fn = StructureFactorCalculator(neg.par)(1, 2, 3, 0.3f);
    EXPECT_EQ(fn.phase, -1.5707963f) << nr;
    EXPECT_FLOAT_EQ(fn.fmod, 2.0f * mult) << nr;
    EXPECT_FLOAT_EQ(fn.im, -2.0f * mult) << nr;
    Crystal pos = one_atom(nr, 3, 0);
    const StructureFactor fpos = StructureFactorCalculator(pos.par)(1, 2, 3, 0.3f);
    EXPECT_EQ(fpos.phase, 1.5707963f) << nr;
    EXPECT_FLOAT_EQ(fpos.fmod, 3.0f * mult) << nr;
  }

  // Centric without f'': phases exactly 0 or pi.
  {
    Crystal c = make_crystal(cell, 2, "dl", {{"C", 0, 0}}, {{1, 1, 0.5f, 0, 0, no_b}});
    StructureFactorCalculator calc(c.par);
    EXPECT_EQ(calc(1, 0, 0, 0.1f).phase, 3.1415927f);
    EXPECT_EQ(calc(2, 0, 0, 0.2f).phase, 0.0f);
    EXPECT_EQ(calc(1, 0, 0, 0.1f).im, 0.0f);
  }

  // fnr is truncated: 2.9 is type 2.
  {
    auto f_of = [&](float fnr) {
      Crystal c = make_crystal(cell, 1, "dl", {{"C", 0.1f, 0.2f}, {"O", 0.3f, 0.4f}},
                               {{fnr, 1, 0.13f, 0.27f, 0.31f, no_b}});
      return StructureFactorCalculator(c.par)(1, 2, 1, 0.25f);
    };
    EXPECT_EQ(f_of(2.9f).fmod, f_of(2.0f).fmod);
    EXPECT_EQ(f_of(2.9f).phase, f_of(2.0f).phase);
    EXPECT_GT(std::abs(f_of(2.9f).fmod - f_of(1.9f).fmod), 1.0f);
    // Type numbers no type count reaches (and beyond an int: converting them is undefined,
    // which the sanitizer build reports) name no type: the atom scatters nothing.
    for (float none : {0.5f, 3.0f, -7.0f, 3.9e31f, -3.9e31f, std::nanf("")}) {
      EXPECT_EQ(f_of(none).fmod, 0.0f) << none;
      EXPECT_EQ(kaven::type_number(Atom{none}), none > -1 && none < 1e6f ? int(none) : 0) << none;
    }
  }

  // fcalc1 returns what the calculator gives, the imaginary part included.
  {
    Crystal c = one_atom(1, 1, 0.2f);
    StructureFactor f{-1, -1, -1};
    EXPECT_NO_THROW(f = fcalc1(c.par, 1, 1, 0, 0.2f));
    const StructureFactor r = StructureFactorCalculator(c.par)(1, 1, 0, 0.2f);
    EXPECT_EQ(f.fmod, r.fmod);
    EXPECT_EQ(f.phase, r.phase);
    EXPECT_EQ(f.im, r.im);
  }
}

TEST(StructureFactor, IndicesBeyondTheSquareRootOfTheIntegerRangeKeepTheirTemperatureFactor) {
  // One atom in P1 and P-1: |F| = |f0 + f' + i f''| exp(-beta11 h^2) (doubled by the
  // inversion). h^2 of 50000 is beyond the 32-bit integers; the factor must still be
  // exp(-0.25), not that of a wrapped product.
  const std::array<float, 6> cell{5, 6, 7, 90, 90, 90};
  for (int nr : {1, 2}) {
    Crystal c = make_crystal(cell, nr, "dl", {{"C", 0.1f, 0.2f}},
                             {{1, 1, 0.0f, 0, 0, {1e-10f, 1e-10f, 0, 0, 0, 0}}});
    const AtomType& t = c.par.types[0];
    const double scatter = std::abs(cplx(f0(t, 0.1) + t.fp, t.fpp)) * (nr == 2 ? 2 : 1);
    StructureFactorCalculator calc(c.par);
    for (auto [h, k] : {std::pair{50000, 0}, std::pair{0, -50000}, std::pair{-50000, 0}}) {
      const StructureFactor f = calc(h, k, 0, 0.1f);
      EXPECT_NEAR(f.fmod, scatter * std::exp(-0.25), 1e-4 * scatter) << nr << " " << h << " " << k;
    }
  }
}

// ---- the run's cache of structure factors ------------------------------------------

// A crystal without symmetry: `n` atoms of C and O at scattered positions with
// anisotropic betas, and anomalous scattering, so that Friedel's law fails.
Crystal scattered_p1(int n) {
  std::vector<AtomSpec> atoms;
  for (int i = 0; i < n; ++i) {
    const float u = float((i * 37) % 101) / 101, v = float((i * 53) % 103) / 103,
                w = float((i * 71) % 107) / 107;
    const float b = 0.002f + 0.0001f * float(i % 7);
    atoms.push_back({float(1 + i % 2), 1, u, v, w, {b, 1.3f * b, 0.8f * b, 0.2f * b, -0.1f * b, 0.15f * b}});
  }
  return make_crystal({9.1f, 10.3f, 11.7f, 90, 90, 90}, 1, "dl", {{"Fe", -1.1f, 3.2f}, {"O", 0.05f, 0.03f}},
                      atoms);
}

// The orbit of h under gemmi's whole group, together with that of -h.
std::set<std::array<int, 3>> gemmi_orbit(const gemmi::GroupOps& ops, const std::array<int, 3>& h) {
  std::set<std::array<int, 3>> out;
  for (const gemmi::Op& op : ops) {
    const gemmi::Op::Miller g = op.apply_to_hkl({h[0], h[1], h[2]});
    out.insert({g[0], g[1], g[2]});
    out.insert({-g[0], -g[1], -g[2]});
  }
  return out;
}

// Screening values derived through the orbits (the phase shifts of the translations, F(-h)
// from the sums of h, rows by recurrence) stay within the cache's margin of the direct sum
// of every reflection, centric or not, with anomalous scattering, anisotropic betas and
// hexagonal rotations, and systematic absences taken as 0 without a sum; exact values are
// the direct sum to the bit. The orbits and absences are those of gemmi's group; an
// operator set that is no group is not used as one.
TEST(ReflectionCache, ScreeningValuesStayWithinTheirMarginExactValuesAreTheDirectSum) {
  struct Case {
    std::string name;
    Crystal crystal;
    const char* hm;  // gemmi's group, or nullptr: no group relation expected
  };
  std::vector<Case> cases;
  cases.push_back({"YIG I a -3 d", yig(), "I a -3 d"});
  cases.push_back({"Si F d -3 m", make_crystal({5.4309f, 5.4309f, 5.4309f, 90, 90, 90}, 227, "dl",
                                               {{"Siva", 0.0522f, 0.0431f}},
                                               {{1, 8.0f / 192.0f, 0.125f, 0.125f, 0.125f,
                                                 {0.0039f, 0.0039f, 0.0039f, 0, 0, 0}}}),
                   "F d -3 m:2"});
  cases.push_back({"P 63/m m c", make_crystal({2.504f, 2.504f, 6.661f, 90, 90, 120}, 194, "dl",
                                              {{"B", 0.0f, 0.001f}, {"O", 0.011f, 0.006f}},
                                              {{1, 2.0f / 24, 1.0f / 3, 2.0f / 3, 0.25f,
                                                {0.012f, 0.012f, 0.004f, 0.006f, 0, 0}},
                                               {2, 1.0f, 0.17f, 0.41f, 0.07f,
                                                {0.009f, 0.014f, 0.003f, 0.002f, -0.001f, 0.0007f}}}),
                   "P 63/m m c"});
  cases.push_back({"C 1 c 1 anomalous",
                   make_crystal({7.1f, 5.3f, 9.2f, 90, 103.5f, 90}, 9, "dl",
                                {{"Cu", -1.9646f, 0.5888f}, {"O", 0.047f, 0.032f}},
                                {{1, 1, 0.1123f, 0.2345f, 0.3456f,
                                  {0.0041f, 0.0062f, 0.0033f, 0.0008f, -0.0011f, 0.0005f}},
                                 {2, 1, 0.4321f, 0.0876f, 0.7654f,
                                  {0.0072f, 0.0091f, 0.0049f, -0.0013f, 0.0017f, 0.0021f}}}),
                   "C 1 c 1"});
  cases.push_back({"P 1 anomalous", scattered_p1(40), "P 1"});
  {
    // YIG with one operator left out: no group, every reflection summed for itself.
    Case broken{"YIG without its last operator", yig(), nullptr};
    broken.crystal.par.ns -= 1;
    cases.push_back(std::move(broken));
  }
  constexpr int kBox = 6;
  for (Case& c : cases) {
    RunParameters& par = c.crystal.par;
    reciprocal_cell(par);
    for (auto method : {ReflectionCache::Method::direct, ReflectionCache::Method::rows}) {
      const bool rows = method == ReflectionCache::Method::rows;
      SCOPED_TRACE(c.name + (rows ? ", by rows" : ""));
      ReflectionCache cache(par, kBox, kBox, kBox, method);
      EXPECT_EQ(cache.symmetry().uses_group(), c.hm != nullptr);
      EXPECT_EQ(cache.uses_rows(), rows);
      ReflectionCache::Reader reader(cache);
      StructureFactorCalculator calc(par);
      const double margin = cache.screening_margin();
      const double f000 = calc(0, 0, 0, 0).fmod;
      // a margin of use: a small part of the strongest structure factor
      EXPECT_LT(margin, 1e-3 * f000);
      double worst = 0;
      for (int h = -kBox; h <= kBox; ++h)
        for (int k = -kBox; k <= kBox; ++k)
          for (int l = -kBox; l <= kBox; ++l) {
            const float s = reflection_s(par, h, k, l);
            const StructureFactor d = calc(h, k, l, s);
            const ReflectionCache::Entry e = reader.exact(h, k, l, s);
            ASSERT_EQ(e.fmod, d.fmod) << h << " " << k << " " << l;
            ASSERT_EQ(e.phase, d.phase) << h << " " << k << " " << l;
            const ReflectionCache::Entry sc = reader.screening(h, k, l);
            const double diff = std::abs(std::polar(double(sc.fmod), double(sc.phase)) -
                                         std::polar(double(d.fmod), double(d.phase)));
            worst = std::max(worst, diff / margin);
            EXPECT_LE(diff, margin) << h << " " << k << " " << l << ": " << sc.fmod << " "
                                    << d.fmod;
          }
      const ReflectionCache::Counts n = cache.counts();
      std::printf("%-34s margin %.2e e (F000 %.0f), worst %.3f of it; %ld sums for %ld reflections\n",
                  (c.name + (rows ? ", by rows" : "")).c_str(), margin, f000, worst, n.sums,
                  n.screened);
      // One sum for an orbit and its negative: in I a -3 d up to 96 reflections (fewer
      // on mirrors and axes, and at the edges of the box).
      if (c.hm && std::string(c.hm) == "I a -3 d" && !rows) {
        EXPECT_LT(n.sums * 20, n.screened);
      }
    }
    if (!c.hm) continue;
    // The members of each orbit and the systematic absences are gemmi's.
    const gemmi::GroupOps ops = group(c.hm);
    ReflectionSymmetry sym(par);
    std::vector<ReflectionSymmetry::Member> members;
    for (int h = -3; h <= 3; ++h)
      for (int k = -3; k <= 3; ++k)
        for (int l = -3; l <= 3; ++l) {
          const Miller rep = sym.representative({h, k, l});
          EXPECT_EQ(sym.representative(rep), rep);
          sym.members(rep, members);
          std::set<std::array<int, 3>> got;
          for (const auto& m : members) got.insert(m.g);
          EXPECT_EQ(got, gemmi_orbit(ops, {h, k, l})) << c.name << " " << h << " " << k << " " << l;
          // systematic absences, whose sums are not formed, are gemmi's too
          EXPECT_EQ(sym.absent({h, k, l}), ops.is_systematically_absent({h, k, l}))
              << c.name << " " << h << " " << k << " " << l;
        }
  }
}

}  // namespace
