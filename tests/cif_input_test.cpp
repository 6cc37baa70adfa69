// From a CIF to an input file. The written file is always read back by the real reader,
// and what it gives is checked against a second computation: the bundled YIG input (the
// whole listing), gemmi's own structure factors of the same CIF (its symmetry from the
// space-group name, its special-position rule, its anisotropic Debye-Waller factor with
// U as the CIF gives it), and gemmi's whole groups for every setting it knows.
#include "cif/input_from_cif.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include <sys/wait.h>

#include <gemmi/symmetry.hpp>

#include "core/number_text.hpp"
#include "crystal/operator_group.hpp"
#include "input/free_format.hpp"
#include "input/input_reader.hpp"
#include "report/record_format.hpp"
#include "scattering/element_table.hpp"
#include "scattering/structure_factor.hpp"
#include "tests/gemmi_cif_reference.hpp"
#include "tests/run_fixture.hpp"

using namespace kaven_test;
using kaven::CifRunOptions;

namespace {

std::string read_text(const fs::path& p) {
  std::ifstream is(p);
  std::stringstream ss;
  ss << is.rdbuf();
  return ss.str();
}

kaven::CifConversion convert(const std::string& example, CifRunOptions o) {
  if (o.plot_file.empty()) o.plot_file = "plot.ps";
  return kaven::input_from_cif(kaven::read_cif_structure(source_path(example)), o);
}

CifRunOptions synchrotron(std::array<int, 3> hkl, float lambda) {
  CifRunOptions o;
  o.hkl = hkl;
  o.wavelength = lambda;
  return o;
}

// The run record as the reader leaves it after the atom lines and the centring.
struct ReadBack {
  kaven::RunParameters par;
  std::ostringstream listing;
};

std::unique_ptr<ReadBack> read_back(const std::string& text) {
  auto r = std::make_unique<ReadBack>();
  std::istringstream in(text);
  kaven::LineSource src(in);
  kaven::read_title(r->par, src);
  kaven::read_plot_name(r->par, src);
  kaven::RunContext run(r->par, r->listing);
  kaven::read_crystal(run, src);
  return r;
}

}  // namespace

TEST(CifInput, YigCifRunsExactlyAsTheBundledYigInput) {
  CifRunOptions o;
  o.hkl = {8, 8, 2};
  o.tube = "Ag";
  o.psi_range = std::array{-66.0f, 16.0f};
  o.primary_interval = std::array{-24.5f, -23.5f};
  o.drumin = 0.1f;  // so that both passes list events
  o.ub = std::array{-0.071161f, -0.036463f, 0.012399f, 0.038060f, -0.062495f,
                    0.034549f,  -0.006014f, 0.036221f,  0.072079f};
  o.title = "YIG - KAVEN99";
  o.plot_file = "yig.ps";
  const kaven::CifConversion c = convert("examples/yig/yig.cif", o);
  EXPECT_EQ(c.deck.nr, 230);
  EXPECT_TRUE(c.notes.empty());

  // The bundled input with the same threshold; its 16a iron carries afact 0.16667, the
  // five-digit form of the 16/96 the conversion writes, which moves the last digit of
  // some |F|: written exactly, every record of the two runs is the same.
  Lines example = yig_lines();
  example[5] = "-66.   16. 50  0  0.1 0.";
  ASSERT_EQ(example[12], "   2  0.16667  0.0  0.0  0.0");
  example[12] = "   2  0.16666667  0.0  0.0  0.0";
  Session a, b;
  const ListedRun want = a.run(example);
  const ListedRun got = b.run_text(kaven::input_file_text(c.deck));
  ASSERT_EQ(got.records.size(), want.records.size());
  for (std::size_t i = 0; i < want.records.size(); ++i)
    EXPECT_EQ(got.records[i], want.records[i]) << "record " << i + 1;
  // ... and the runs did reach the event tables of both passes.
  std::size_t events = 0;
  for (const auto& pass : got.outcome.result.passes) events += pass.events.events.size();
  EXPECT_GE(events, 8u);
}

// ---- structure factors against gemmi -------------------------------------------------

struct Comparison {
  double max_rel = 0, max_phase = 0;
  int compared = 0;
};

// Every h k l of the box: F of the run record read back from the written input against
// sum over the elements of (f0 + f' + i f'') times gemmi's geometric sum.
Comparison compare_with_gemmi(const std::string& example, const kaven::CifConversion& c,
                              int lo, int hi) {
  const GemmiCifReference gemmi_sf(read_text(source_path(example)));
  EXPECT_TRUE(gemmi_sf.has_space_group()) << example;

  const auto back = read_back(kaven::input_file_text(c.deck));
  const kaven::RunParameters& par = back->par;
  // element of each input type: the table key's letters
  std::map<std::string, const kaven::AtomType*> type_of;
  for (const kaven::AtomType& t : par.types) {
    std::string el = t.atn.substr(0, t.atn.find_first_not_of(
                                         "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    if (el == "Siv" || el == "Siva") el = "Si";
    type_of[el] = &t;
  }
  kaven::StructureFactorCalculator fcalc(par);
  Comparison cmp;
  for (int h = lo; h <= hi; ++h)
    for (int k = lo; k <= hi; ++k)
      for (int l = lo; l <= hi; ++l) {
        const double s = gemmi_sf.stol(h, k, l);
        if (s > 2.0 || (h == 0 && k == 0 && l == 0)) continue;
        std::complex<double> ref = 0;
        for (const auto& [el, t] : type_of) {
          const std::complex<double> g = gemmi_sf.geometric_sum(el, h, k, l);
          ref += std::complex<double>(std::max(0.0, kaven::f0(*t, s) + t->fp), t->fpp) * g;
        }
        const kaven::StructureFactor f = fcalc(h, k, l, static_cast<float>(s));
        const std::string label = example + " " + std::to_string(h) + " " + std::to_string(k) +
                                  " " + std::to_string(l);
        if (std::abs(ref) < 1e-2) {
          EXPECT_LT(f.fmod, 1e-2) << label;
          continue;
        }
        ++cmp.compared;
        const double rel = std::abs(f.fmod - std::abs(ref)) / std::abs(ref);
        const double dphi = std::abs(std::remainder(double(f.phase) - std::arg(ref), 2 * M_PI));
        cmp.max_rel = std::max(cmp.max_rel, rel);
        cmp.max_phase = std::max(cmp.max_phase, dphi);
        EXPECT_LT(rel, 1e-4) << label << " |F| " << f.fmod << " gemmi " << std::abs(ref);
        EXPECT_LT(dphi, 1e-4) << label << " phase " << f.phase << " gemmi " << std::arg(ref);
      }
  std::printf("%-36s %5d hkl: max rel |F| %.1e, max phase %.1e rad\n", example.c_str(),
              cmp.compared, cmp.max_rel, cmp.max_phase);
  return cmp;
}

TEST(CifInput, NonStandardSettingsGoThroughExplicitOperatorsAndAgreeWithGemmi) {
  // P 1 21/n 1, anisotropic U on an oblique cell: two operators and the inversion.
  const kaven::CifConversion zro2 = convert("examples/zro2/zro2-p21n.cif", synchrotron({2, 0, 0}, 0.7f));
  EXPECT_EQ(zro2.deck.nr, 231);
  EXPECT_EQ(zro2.deck.ic, 1);
  EXPECT_EQ(zro2.deck.ops.size(), 2u);
  EXPECT_GT(compare_with_gemmi("examples/zro2/zro2-p21n.cif", zro2, -4, 4).compared, 500);

  // R -3 c on hexagonal axes: the R centring goes into the operators (6 x 3), the atoms
  // on 12c and 18e get afact 12/36 and 18/36.
  const kaven::CifConversion al2o3 =
      convert("examples/corundum/corundum-hex.cif", synchrotron({1, 0, 4}, 0.7f));
  EXPECT_EQ(al2o3.deck.nr, 231);
  EXPECT_EQ(al2o3.deck.ic, 1);
  EXPECT_EQ(al2o3.deck.ops.size(), 18u);
  EXPECT_EQ(al2o3.group_order, 36);
  EXPECT_EQ(al2o3.deck.title, "Al2 O3  R -3 c :H  primary 1 0 4");
  ASSERT_EQ(al2o3.deck.atoms.size(), 2u);
  EXPECT_FLOAT_EQ(al2o3.deck.atoms[0].afact, 1.0f / 3);
  EXPECT_FLOAT_EQ(al2o3.deck.atoms[1].afact, 0.5f);
  EXPECT_GT(compare_with_gemmi("examples/corundum/corundum-hex.cif", al2o3, -4, 6).compared, 300);

  // And the table settings of the other examples against the same reference.
  const kaven::CifConversion si = convert("examples/si/si.cif", synchrotron({2, 2, 2}, 0.5612f));
  EXPECT_EQ(si.deck.nr, 227);
  compare_with_gemmi("examples/si/si.cif", si, -4, 6);
}

TEST(CifInput, OriginChoiceOneIsMovedAndAnIncompleteOperatorLoopIsNoted) {
  // Silicon in F d -3 m origin choice 1: 48 operators even without the centring, since
  // the inversion is not at the origin. The origin goes to the inversion centre at
  // 1/8 1/8 1/8, which is the table's origin choice 2; |F| stays, the phases turn.
  std::string text = read_text(source_path("examples/si/si.cif"));
  auto cut = text.find("_space_group_IT_number");
  text = text.substr(0, cut) +
         "_space_group_name_Hall 'F 4d 2 3 -1d'\n"
         "loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n"
         "_atom_site_fract_y\n_atom_site_fract_z\n_atom_site_U_iso_or_equiv\n"
         "Si1 Si 0 0 0 0.0058\n";
  const kaven::CifStructure st = kaven::cif_structure_from_text(text);
  CifRunOptions o = synchrotron({2, 2, 0}, 0.7f);
  o.plot_file = "p.ps";
  const kaven::CifConversion c = kaven::input_from_cif(st, o);
  EXPECT_EQ(c.deck.nr, 227);
  ASSERT_EQ(c.deck.atoms.size(), 1u);
  EXPECT_FLOAT_EQ(c.deck.atoms[0].x, -0.125f);
  EXPECT_FLOAT_EQ(c.deck.atoms[0].afact, 8.0f / 192);
  bool noted = false;
  for (const std::string& n : c.notes) noted = noted || n.find("origin was moved") != std::string::npos;
  EXPECT_TRUE(noted);

  // A loop that leaves out the centring translations is not what its symbol says.
  std::string al2o3 = read_text(source_path("examples/corundum/corundum-hex.cif"));
  const std::size_t from = al2o3.find("13 '"), to = al2o3.find("loop_", from);
  ASSERT_NE(from, std::string::npos);
  al2o3.erase(from, to - from);
  const kaven::CifStructure half = kaven::cif_structure_from_text(al2o3);
  ASSERT_EQ(half.notes.size(), 1u);
  EXPECT_EQ(half.notes[0], "the 12 symmetry operators of the CIF make a group of 12, the symbol "
                           "'R -3 c :H' one of 36: the operators are used");
}

TEST(CifInput, ExplicitOperatorsRebuildEveryGemmiSettingOutsideTheTable) {
  // For every setting gemmi knows: the table number when the whole group is a table
  // entry's; otherwise the explicit set, which with its inversion (ic = 1) and its
  // centring (in the operators, or as atom copies) must give back the whole group.
  int table = 0, explicit_sets = 0, copies = 0, too_large = 0;
  for (const gemmi::SpaceGroup& sg : gemmi::spacegroup_tables::main) {
    std::vector<kaven::ExactOperator> ordered;
    for (gemmi::Op op : sg.operations()) {
      kaven::ExactOperator g;
      for (int j = 0; j < 3; ++j) {
        for (int k = 0; k < 3; ++k) g.rot[3 * j + k] = op.rot[j][k] / gemmi::Op::DEN;
        g.tran[j] = op.tran[j];
      }
      g.tran = kaven::wrap_translation(g.tran);
      ordered.push_back(g);
    }
    const kaven::FullGroup group(ordered.begin(), ordered.end());
    ASSERT_EQ(kaven::close_group(ordered), group) << sg.xhm();
    const int nr = kaven::find_table_setting(group);
    if (nr != 0) {
      EXPECT_EQ(nr, sg.number) << sg.xhm();
      ++table;
      continue;
    }
    const kaven::ExplicitOperators ex = kaven::explicit_operators(ordered);
    if (ex.ops.size() > 24) {
      // only centrosymmetric cubic groups with the inversion away from the origin
      EXPECT_EQ(ex.ic, 2) << sg.xhm();
      EXPECT_GE(sg.number, 221) << sg.xhm();
      ++too_large;
      continue;
    }
    ++explicit_sets;
    if (!ex.atom_copies.empty()) ++copies;
    std::vector<std::array<int, 3>> shifts = ex.atom_copies;
    shifts.push_back({0, 0, 0});
    kaven::FullGroup rebuilt;
    for (const kaven::SymmetryOperator& op : ex.ops) {
      kaven::ExactOperator g;
      for (int j = 0; j < 3; ++j) {
        for (int k = 0; k < 3; ++k) g.rot[3 * j + k] = static_cast<int>(op.s[j][k]);
        g.tran[j] = static_cast<int>(std::lround(op.t[j] * 24));
      }
      for (const auto& s : shifts) {
        kaven::ExactOperator c = g;
        for (int j = 0; j < 3; ++j) c.tran[j] += s[j];
        c.tran = kaven::wrap_translation(c.tran);
        EXPECT_TRUE(rebuilt.insert(c).second) << sg.xhm() << ": an operator twice";
        if (ex.ic == 1) {
          EXPECT_TRUE(rebuilt.insert(kaven::inverted(c)).second) << sg.xhm();
        }
      }
    }
    EXPECT_EQ(rebuilt, group) << sg.xhm();
    EXPECT_EQ(ex.ic == 1, group.count(kaven::inverted(kaven::ExactOperator{})) == 1) << sg.xhm();
  }
  std::printf("gemmi settings: %d table, %d explicit (%d with atom copies), %d beyond 24\n", table,
              explicit_sets, copies, too_large);
  EXPECT_EQ(table, 230);
  EXPECT_GT(explicit_sets, 200);
}

TEST(CifInput, EveryTabulatedHallSymbolReadsAndMalformedOnesAreRefused) {
  // A block with the Hall symbol as its only symmetry item.
  auto block = [](const std::string& hall) {
    return "data_h\n_cell_length_a 5\n_cell_length_b 6\n_cell_length_c 7\n"
           "_cell_angle_alpha 90\n_cell_angle_beta 100\n_cell_angle_gamma 90\n"
           "_space_group_name_Hall '" + hall + "'\n"
           "loop_\n_atom_site_label\n_atom_site_fract_x\n_atom_site_fract_y\n"
           "_atom_site_fract_z\nC1 0.1 0.2 0.3\n";
  };
  for (const gemmi::SpaceGroup& sg : gemmi::spacegroup_tables::main) {
    const kaven::CifStructure st = kaven::cif_structure_from_text(block(sg.hall));
    EXPECT_EQ(st.operators.size(), static_cast<std::size_t>(sg.operations().order())) << sg.hall;
  }
  // Subscripts without an axis (gemmi would read outside an array), numbers that
  // overflow, no symbol at all.
  for (const char* bad : {"-R 3 2\"2", "P 2 31", "P 3* 21", "P 1 21", "P 2 2 (x,y,z+99999999999/2)",
                          "Q 2"}) {
    try {
      kaven::cif_structure_from_text(block(bad));
      ADD_FAILURE() << bad;
    } catch (const kaven::CifError& e) {
      EXPECT_EQ(e.what(), "the Hall symbol '" + std::string(bad) + "' cannot be read");
    }
  }
}

TEST(CifInput, TypeSymbolsToElementTableKeys) {
  const std::pair<const char*, const char*> cases[] = {
      {"Fe3+", "Fe3+"}, {"Fe+3", "Fe3+"}, {"FE3+", "Fe3+"}, {"Na+", "Na1+"},  {"Cl1-", "Cl1-"},
      {"O2-", "O"},     {"O", "O"},       {"Si", "Siv"},    {"Siva", "Siva"}, {"Si4+", "Si4+"},
      {"O1", "O"},      {"Fe2a", "Fe"},   {"D", "H"},       {"Cu2.5+", "Cu"}, {"Zr4+", "Zr4+"},
      {"Cf", "Cf"},     {"Es", ""},       {"Xx", ""},       {"1O", ""},       {"", ""},
  };
  for (auto [symbol, key] : cases) EXPECT_EQ(kaven::element_key(symbol), key) << symbol;
}

TEST(CifInput, WrittenInputReadsBackToTheSameValues) {
  // Every free-format number written reads back as the same single-precision value.
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> mant(-1, 1);
  std::uniform_int_distribution<int> expo(-30, 30);
  for (int i = 0; i < 20000; ++i) {
    const float v = static_cast<float>(std::ldexp(mant(rng), expo(rng)));
    float back = 0;
    ASSERT_EQ(kaven::parse_real(kaven::shortest(v), back), 0) << kaven::shortest(v);
    ASSERT_EQ(back, v) << kaven::shortest(v);
  }
  // A whole deck with explicit operators: operators, dispersion columns, atoms and the
  // optional lines come back as written.
  const kaven::CifConversion c =
      convert("examples/corundum/corundum-hex.cif", synchrotron({1, 0, 4}, 0.7f));
  const auto back = read_back(kaven::input_file_text(c.deck));
  const kaven::RunParameters& p = back->par;
  EXPECT_EQ(p.isyn, 1);
  EXPECT_EQ(p.alam1, 0.7f);
  EXPECT_EQ(p.ic, c.deck.ic);
  ASSERT_EQ(p.ops.size(), c.deck.ops.size());
  for (std::size_t i = 0; i < p.ops.size(); ++i)
    for (int j = 0; j < 3; ++j) {
      EXPECT_EQ(p.ops[i].t[j], c.deck.ops[i].t[j]);
      for (int k = 0; k < 3; ++k) EXPECT_EQ(p.ops[i].s[j][k], c.deck.ops[i].s[j][k]);
    }
  ASSERT_EQ(p.types.size(), c.deck.elements.size());
  for (std::size_t f = 0; f < p.types.size(); ++f) {
    EXPECT_EQ(kaven::rec::rtrim(p.types[f].atn), c.deck.elements[f].atn);
    EXPECT_NEAR(p.types[f].fp, c.deck.elements[f].fp, 5e-5);  // four decimals in the file
    EXPECT_NEAR(p.types[f].fpp, c.deck.elements[f].fpp, 5e-5);
  }
  ASSERT_EQ(p.atoms.size(), c.deck.atoms.size());  // P lattice letter: no copies
  for (std::size_t i = 0; i < p.atoms.size(); ++i) {
    const kaven::Atom &a = p.atoms[i], &w = c.deck.atoms[i];
    EXPECT_EQ(a.fnr, w.fnr);
    EXPECT_EQ(a.afact, w.afact);
    EXPECT_EQ(a.x, w.x);
    EXPECT_EQ(a.z, w.z);
    for (int j = 0; j < 6; ++j) EXPECT_EQ(a.bt[j], w.bt[j]);
  }
  // The cell contents the reader sums: 12 Al and 18 O.
  EXPECT_FLOAT_EQ(p.types[0].ncell, 12.0f);
  EXPECT_FLOAT_EQ(p.types[1].ncell, 18.0f);
}

// ---- values no crystal has, options that mean nothing -------------------------------

TEST(CifInput, OccupanciesAndDisplacementsNoCrystalHasAreRefusedOrReplaced) {
  const std::string nacl = read_text(source_path("tests/data/cif/nacl.cif"));
  const std::string na = "Na1 Na+ 0 0 0 0.0203 1";
  auto with_na = [&](const std::string& line, const std::string& more = "") {
    std::string t = nacl;
    t.replace(t.find(na), na.size(), line);
    return t + more;
  };
  CifRunOptions o;
  o.hkl = {2, 0, 0};
  o.tube = "Cu";
  o.plot_file = "p.ps";
  auto conv = [&](const std::string& text) {
    return kaven::input_from_cif(kaven::cif_structure_from_text(text), o);
  };
  // Refused, the site named: a negative occupancy, more than a full site, |U| > 1 Å^2.
  const std::pair<std::string, std::string> refused[] = {
      {with_na("Na1 Na+ 0 0 0 0.0203 -1"), "atom site 'Na1': the occupancy -1 is negative"},
      {with_na("Na1 Na+ 0 0 0 0.0203 1.5"), "atom site 'Na1': the occupancy 1.5 is more than a full site (at most 1)"},
      {with_na("Na1 Na+ 0 0 0 1e30 1"),
       "atom site 'Na1': U_iso = 1e+30 Å^2 is beyond any thermal motion (at most 1 Å^2, an rms "
       "displacement of 1 Å)"},
      {with_na(na, "loop_\n_atom_site_aniso_label\n_atom_site_aniso_U_11\n_atom_site_aniso_U_22\n"
                   "_atom_site_aniso_U_33\n_atom_site_aniso_U_12\n_atom_site_aniso_U_13\n"
                   "_atom_site_aniso_U_23\nNa1 0.02 -1.5 0.02 0 0 0\n"),
       "atom site 'Na1': U22 = -1.5 Å^2 is beyond any thermal motion (at most 1 Å^2, an rms "
       "displacement of 1 Å)"},
  };
  for (const auto& [text, message] : refused) {
    try {
      conv(text);
      ADD_FAILURE() << message;
    } catch (const kaven::CifError& e) {
      EXPECT_EQ(std::string(e.what()), message);
    }
  }
  // Noted and replaced: a negative U_iso by 0; an anisotropic U that is not positive
  // definite by its U_eq (in a cubic cell the mean of the diagonal), or by 0.
  auto betas_of_u = [&](const std::string& u) { return conv(with_na("Na1 Na+ 0 0 0 " + u + " 1")).deck.atoms[0]; };
  auto aniso = [&](const std::string& u) {
    return conv(with_na(na, "loop_\n_atom_site_aniso_label\n_atom_site_aniso_U_11\n_atom_site_aniso_U_22\n"
                            "_atom_site_aniso_U_33\n_atom_site_aniso_U_12\n_atom_site_aniso_U_13\n"
                            "_atom_site_aniso_U_23\nNa1 " + u + " 0 0\n"));
  };
  const kaven::CifConversion negative = conv(with_na("Na1 Na+ 0 0 0 -0.5 1"));
  EXPECT_NE(std::find(negative.notes.begin(), negative.notes.end(),
                      "atom site 'Na1' has a negative U_iso (-0.5 Å^2), which no thermal motion gives: it is taken as 0"),
            negative.notes.end());
  const kaven::Atom zero = betas_of_u("0"), ueq = betas_of_u("0.01");
  for (int j = 0; j < 6; ++j) EXPECT_EQ(negative.deck.atoms[0].bt[j], zero.bt[j]);
  const kaven::CifConversion npd = aniso("0.03 0.03 -0.03 0");
  const kaven::CifConversion tilted = aniso("0.01 0.01 0.01 0.02");  // |U12| > U11
  const kaven::CifConversion none = aniso("0.01 0.01 -0.05 0");
  for (int j = 0; j < 6; ++j) {
    EXPECT_FLOAT_EQ(npd.deck.atoms[0].bt[j], ueq.bt[j]);
    EXPECT_FLOAT_EQ(tilted.deck.atoms[0].bt[j], ueq.bt[j]);
    EXPECT_EQ(none.deck.atoms[0].bt[j], zero.bt[j]);
  }
  EXPECT_NE(std::find(npd.notes.begin(), npd.notes.end(),
                      "atom site 'Na1': its anisotropic U is not positive definite (a direction of negative "
                      "mean-square displacement): the isotropic U_eq = 0.01000 Å^2 is taken"),
            npd.notes.end());
  // A positive definite U stays anisotropic; an empty site is noted.
  const kaven::CifConversion fine = aniso("0.01 0.02 0.03 0.005");
  EXPECT_NE(fine.deck.atoms[0].bt[3], 0.0f);
  const kaven::CifConversion empty = conv(with_na("Na1 Na+ 0 0 0 0.0203 0"));
  EXPECT_NE(std::find(empty.notes.begin(), empty.notes.end(), "atom site 'Na1' has occupancy 0: it scatters nothing"),
            empty.notes.end());
}

TEST(CifInput, EveryOptionValueThatMeansNothingIsNamed) {
  CifRunOptions tube;
  tube.hkl = {2, 0, 0};
  tube.tube = "Cu";
  tube.plot_file = "p.ps";
  CifRunOptions sync = synchrotron({2, 0, 0}, 0.7f);
  sync.plot_file = "p.ps";
  EXPECT_TRUE(kaven::cif_option_problems(tube).empty());
  EXPECT_TRUE(kaven::cif_option_problems(sync).empty());
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  struct Case {
    std::function<void(CifRunOptions&)> change;
    bool synchrotron;
    std::string message;
  };
  const Case cases[] = {
      {[](CifRunOptions& o) { o.hkl = {0, 0, 0}; }, false, "--hkl: the primary reflection 0 0 0 has no scattering vector"},
      {[](CifRunOptions& o) { o.tube = "W"; }, false, "--radiation: the tube 'W' is not one of Cu, Mo and Ag"},
      {[&](CifRunOptions& o) { o.wavelength = nan; }, true, "--wavelength: the wavelength nan is not a positive number of Å"},
      {[&](CifRunOptions& o) { o.wavelength = -1; }, true, "--wavelength: the wavelength -1 is not a positive number of Å"},
      {[](CifRunOptions& o) { o.wavelength = 7; }, true,
       "--wavelength: the monochromator reflection 1 1 1 (d = 3.1355 Å) cannot be reached with the wavelength 7 Å"},
      {[](CifRunOptions& o) { o.mono.a = 0; }, true, "--monochromator: the monochromator's cell constant 0 is not a positive number of Å"},
      {[](CifRunOptions& o) { o.mono.hkl = {0, 0, 0}; }, true, "--monochromator: the monochromator reflection 0 0 0 has no scattering vector"},
      {[&](CifRunOptions& o) { o.mono.f = inf; }, true, "--monochromator: the monochromator's structure factor inf is not a positive number"},
      {[&](CifRunOptions& o) { o.divergence = std::array{0.1f, nan}; }, false,
       "--divergence: the divergences 0.1 nan are not two angles of at least 0 degrees"},
      {[&](CifRunOptions& o) { o.rkugel_um = -150; }, false, "--crystal-radius: the crystal radius -150 is not a positive number of µm"},
      {[&](CifRunOptions& o) { o.radius_um = inf; }, false, "--block-radius: the mosaic-block radius inf is not a positive number of µm"},
      {[&](CifRunOptions& o) { o.eta = nan; }, false, "--mosaic: the mosaic spread nan is not an angle of at least 0 degrees"},
      {[](CifRunOptions& o) { o.psi_range = std::array{0.0f, 200.0f}; }, false,
       "--psi: the psi range must run upwards within -180 to 180 degrees for a tube"},
      {[](CifRunOptions& o) { o.psi_range = std::array{-10.0f, 10.0f}; }, true,
       "--psi: the psi range must run upwards within 0 to 360 degrees for synchrotron radiation"},
      {[&](CifRunOptions& o) { o.zsw1 = nan; }, false,
       "--steps-per-degree: the steps per degree nan are not a number other than 0 (negative for no "
       "simulated scan)"},
      {[](CifRunOptions& o) { o.zsw1 = -2e5f; }, false,
       "--steps-per-degree: -2e+05 steps per degree over the psi range make more than 5e7 steps"},
      {[](CifRunOptions& o) { o.nnn = -1; }, false, "--interference: the interference indicator -1 is neither 0 (none) nor positive"},
      {[](CifRunOptions& o) { o.drumin = -1; }, false, "--drumin: the intensity threshold drumin -1 is not a number of at least 0 cps"},
      {[&](CifRunOptions& o) { o.zeimax = nan; }, false, "--zeimax: the plot maximum zeimax nan is neither 0 (automatic) nor a positive number of cps"},
      {[](CifRunOptions& o) { o.primary_interval = std::array{10.0f, 5.0f}; }, false,
       "--primary-interval: the primary interval 10 5 does not lie within the psi range -180 180"},
      {[](CifRunOptions& o) { o.ub = std::array<float, 9>{1, 0, 0, 0, 1, 0, 1, 0, 0}; }, false,
       "--ub: the orientation matrix is singular (its determinant is 0)"},
      {[](CifRunOptions& o) { o.scan_file = "scan.dat"; }, false,
       "--scan: a measured-scan file needs the orientation matrix (the file name follows it)"},
      {[](CifRunOptions& o) { o.ub = std::array<float, 9>{1, 0, 0, 0, 1, 0, 0, 0, 1}; o.scan_file = "p.ps"; }, false,
       "--scan: the measured-scan file is the plot file"},
      {[](CifRunOptions& o) { o.plot_file = std::string(73, 'p'); }, false, "--plot: the plot-file name is longer than 72 characters"},
      {[](CifRunOptions& o) { o.plot_file = "plots/"; }, false, "--plot: the plot-file name 'plots/' names a folder, not a file"},
      {[](CifRunOptions& o) { o.plot_file = " p.ps"; }, false, "--plot: the plot-file name begins with a blank"},
      {[](CifRunOptions& o) { o.title = "two\nlines"; }, false,
       "--title: the title holds control characters (a line break would end its line)"},
      {[](CifRunOptions& o) { o.title = std::string(81, 't'); }, false,
       "--title: the title is longer than the 80 characters of its line"},
  };
  for (const Case& c : cases) {
    CifRunOptions o = c.synchrotron ? sync : tube;
    c.change(o);
    std::vector<std::string> said;
    for (const kaven::CifOptionProblem& p : kaven::cif_option_problems(o)) said.push_back(p.option + ": " + p.message);
    EXPECT_EQ(said, std::vector<std::string>{c.message});
  }
  // A conversion refuses them as well (the first of them), before the CIF is looked at.
  CifRunOptions bad = tube;
  bad.rkugel_um = nan;
  bad.eta = -1;
  EXPECT_EQ(kaven::cif_option_problems(bad).size(), 2u);
  EXPECT_THROW(convert("examples/si/si.cif", bad), kaven::CifError);
  // The default title stays one line of at most 80 columns, cut between characters.
  std::string formula = read_text(source_path("tests/data/cif/nacl.cif"));
  formula.replace(formula.find("'Cl Na'"), 7, "\n;\nCl Na\n;\n");
  const kaven::CifConversion c = kaven::input_from_cif(kaven::cif_structure_from_text(formula), tube);
  EXPECT_EQ(c.deck.title, "Cl Na  F m -3 m  primary 2 0 0");
  formula.replace(formula.find("Cl Na\n"), 5, std::string(77, 'x') + "éé");
  const kaven::CifConversion cut = kaven::input_from_cif(kaven::cif_structure_from_text(formula), tube);
  EXPECT_EQ(cut.deck.title, std::string(77, 'x') + "é");
}

// ---- the command line ------------------------------------------------------------------

namespace {

struct Command {
  int status;
  std::string out, err;
};

Command kaven_command(const ScratchDir& dir, const std::string& args) {
  const fs::path out = dir.path() / "stdout.txt", err = dir.path() / "stderr.txt";
  const std::string cmd = "cd '" + dir.path().string() + "' && '" + KAVEN_BINARY + "' " + args +
                          " >'" + out.string() + "' 2>'" + err.string() + "'";
  const int raw = std::system(cmd.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_text(out), read_text(err)};
}

}  // namespace

TEST(CifCommand, BadCifsGiveOneClearMessageAndNoFile) {
  ScratchDir dir;
  const std::string si = read_text(source_path("examples/si/si.cif"));
  auto without = [&](const std::string& text, const std::string& line) {
    std::string t = text;
    const auto at = t.find(line);
    EXPECT_NE(at, std::string::npos) << line;
    return t.erase(at, line.size() + 1);
  };
  auto replaced = [&](const std::string& text, const std::string& from, const std::string& to) {
    std::string t = text;
    const auto at = t.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return t.replace(at, from.size(), to);
  };
  const std::string atoms_head = si.substr(si.rfind("loop_"));
  struct Case {
    std::string cif, options, message;
  };
  const Case cases[] = {
      {without(si, "_cell_length_b 5.4309"), "--hkl 2 2 2 --radiation Mo",
       "the CIF gives no cell: _cell_length_b is missing"},
      {replaced(si, "Si1 Si ", "Si1 Xq "), "--hkl 2 2 2 --radiation Mo",
       "atom site 'Si1': the type symbol 'Xq' names no element of the scattering-factor table"},
      {replaced(si, atoms_head, ""), "--hkl 2 2 2 --radiation Mo",
       "the CIF holds no atom sites with fractional coordinates"},
      {si, "--hkl 7 7 7 --radiation Cu",
       "the primary reflection 7 7 7 (d = 0.4479 Å) cannot be reached with the wavelength "
       "1.5444 Å"},
      {"data_x\n_cell_length_a\n_cell_length_b 5\n", "--hkl 1 0 0 --radiation Mo",
       "the CIF gives no cell: _cell_length_a has no value (?)"},
      // numbers that overflow on the way to a matrix, fractions of a coordinate, a
      // singular matrix, and operators whose products grow without bound
      {replaced(si, "'-y,x+1/4,z+1/4'", "'-y,x+99999999999999999999/4,z'"),
       "--hkl 2 2 2 --radiation Mo",
       "the symmetry operator '-y,x+99999999999999999999/4,z' "
       "(_space_group_symop_operation_xyz) cannot be read"},
      {replaced(si, "'-y,x+1/4,z+1/4'", "'-y/2,x,z'"), "--hkl 2 2 2 --radiation Mo",
       "the symmetry operator '-y/2,x,z' (_space_group_symop_operation_xyz) cannot be read"},
      {replaced(si, "'-y,x+1/4,z+1/4'", "'x,x,z'"), "--hkl 2 2 2 --radiation Mo",
       "the symmetry operator 'x,x,z' (_space_group_symop_operation_xyz) is no symmetry "
       "operation: the determinant of its matrix is 0"},
      {replaced(si, "'-y,x+1/4,z+1/4'", "'x+y,y,z'"), "--hkl 2 2 2 --radiation Mo",
       "do not form a space group"},
      {replaced(si, "'-y,x+1/4,z+1/4'", "'2*x+y,x+y,z'"), "--hkl 2 2 2 --radiation Mo",
       "do not form a space group"},
      // numbers a double holds and a float does not: the input would hold "inf"
      {replaced(si, "_cell_angle_beta 90", "_cell_angle_beta 1e90"), "--hkl 2 2 2 --radiation Mo",
       "the CIF gives no cell: _cell_angle_beta is not an angle between 0 and 180 degrees"},
      {replaced(si, "_cell_length_c 5.4309", "_cell_length_c 1e39"), "--hkl 2 2 2 --radiation Mo",
       "the CIF gives no cell: _cell_length_c is beyond single precision"},
      {replaced(si, "Si1 Si 0.125 0.125 0.125", "Si1 Si 0.125 1e39 0.125"),
       "--hkl 2 2 2 --radiation Mo",
       "atom site 'Si1': a fractional coordinate is beyond single precision"},
      {replaced(si, "0.00582744896 1", "0.00582744896 1e40"), "--hkl 2 2 2 --radiation Mo",
       "atom site 'Si1': the occupancy 1e+40 is more than a full site (at most 1)"},
      {replaced(si, "0.00582744896 1", "1e39 1"), "--hkl 2 2 2 --radiation Mo",
       "atom site 'Si1': U_iso = 1e+39 Å^2 is beyond any thermal motion"},
  };
  {
    // a device that never ends: refused before gemmi reads it
    const Command r = kaven_command(dir, "--from-cif /dev/zero --hkl 2 2 2 --radiation Mo -o new.inp");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kaven: /dev/zero is not a regular file; no input file written\n");
    EXPECT_FALSE(fs::exists(dir.path() / "new.inp"));
  }
  for (const Case& c : cases) {
    std::ofstream(dir.path() / "bad.cif") << c.cif;
    fs::remove(dir.path() / "new.inp");
    const Command r = kaven_command(dir, "--from-cif bad.cif " + c.options + " -o new.inp");
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.message << "\n" << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find("no input file written"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.path() / "new.inp")) << c.message;
  }
}

TEST(CifCommand, WritesAnInputTheRunAcceptsAndRefusesIncompleteCommands) {
  ScratchDir dir;
  const std::string zro2 = source_path("examples/zro2/zro2-p21n.cif").string();
  const Command ok = kaven_command(dir, "--from-cif '" + zro2 +
                                            "' --hkl 1 1 1 --wavelength 0.7 --synchrotron "
                                            "--polarisation pi --psi 10 50 --drumin 50 -o z.inp");
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out, "kaven: wrote z.inp: space group as 2 explicit operators, 3 atoms, 2 elements\n");
  const Lines z = read_lines(dir.path() / "z.inp");
  ASSERT_GT(z.size(), 6u);
  EXPECT_EQ(z[1], "z.ps");
  EXPECT_EQ(z[3], "2 0.7  5.4309  1  1  1  58.19");
  EXPECT_EQ(z[5], "10  50  50  0  50  0");
  // the run reads the whole file and lists events of its one pass
  Session s;
  const ListedRun r = s.run(z);
  ASSERT_FALSE(r.outcome.result.passes.empty()) << join_lines(r.records);
  EXPECT_FALSE(r.outcome.result.passes[0].events.events.empty());

  for (const std::string& bad :
       {std::string("--from-cif x.cif --hkl 1 1 1 --wavelength 0.7 -o n.inp"),
        std::string("--from-cif x.cif --hkl 1 1 --radiation Cu -o n.inp"),
        std::string("--from-cif x.cif --hkl 1 1 1 --radiation Cu"),
        std::string("--from-cif x.cif --hkl 1 1 1 --radiation Cu --psi 0 x -o n.inp"),
        std::string("--from-cif x.cif --hkl 1 1 1 --radiation Cu --wavelength 1 -o n.inp")}) {
    const Command r2 = kaven_command(dir, bad);
    EXPECT_EQ(r2.status, 2) << bad;
    EXPECT_FALSE(fs::exists(dir.path() / "n.inp"));
  }
}

TEST(CifCommand, TheInputReplacesOnlyAnUnchangedInputKavenWroteAndWarningsNameTheLine) {
  ScratchDir dir;
  const std::string quirks = source_path("tests/data/cif/nacl-quirks.cif").string();
  const std::string cmd = "--from-cif '" + quirks + "' --hkl 2 0 0 --radiation Cu -o n.inp";
  const Command first = kaven_command(dir, cmd);
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_NE(first.err.find("kaven: warning: " + quirks +
                           " line 11: _chemical_formula_sum appears again (first on line 10); the first "
                           "value is taken\n"),
            std::string::npos)
      << first.err;
  const Lines err = split_records(first.err);
  EXPECT_EQ(std::count_if(err.begin(), err.end(), [](const std::string& l) { return l.starts_with("kaven: warning: "); }), 7);
  // The title line carries the mark beyond the 80 columns the run reads.
  const Lines written = read_lines(dir.path() / "n.inp");
  ASSERT_FALSE(written.empty());
  EXPECT_EQ(written[0].substr(0, 80), padded("Cl Na  F m -3 m  primary 2 0 0  (from nacl-quirks.cif)", 80));
  EXPECT_TRUE(written[0].substr(80).starts_with("  | written by kaven #"));
  Session s;
  EXPECT_EQ(s.run(written).outcome.end, kaven::RunEnd::complete);

  // Its own file is replaced again; once edited, it is the user's and stays.
  EXPECT_EQ(kaven_command(dir, cmd).status, 0);
  Lines edited = written;
  edited.push_back("% a line of the user");
  write_lines(dir.path() / "n.inp", edited);
  const Command refused = kaven_command(dir, cmd);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "kaven: n.inp exists and is not an input file written by kaven (or it was changed "
                         "since); no input file written\n");
  EXPECT_EQ(read_lines(dir.path() / "n.inp"), edited);
  // An empty file is taken.
  std::ofstream(dir.path() / "e.inp").flush();
  EXPECT_EQ(kaven_command(dir, "--from-cif '" + quirks + "' --hkl 2 0 0 --radiation Cu -o e.inp").status, 0);
  EXPECT_GT(fs::file_size(dir.path() / "e.inp"), 100u);
}

TEST(CifCommand, AFullDiskLeavesThePreviousInputWhole) {
  // A file-size limit of 1 KiB (with SIGXFSZ ignored, the write fails as on a full disk)
  // stops the 1.5 KB corundum input: the NaCl input written before stays, and no
  // temporary file is left.
  ScratchDir dir;
  const std::string nacl = source_path("tests/data/cif/nacl.cif").string();
  const std::string corundum = source_path("examples/corundum/corundum-hex.cif").string();
  ASSERT_EQ(kaven_command(dir, "--from-cif '" + nacl + "' --hkl 2 0 0 --radiation Cu -o n.inp").status, 0);
  const std::string before = read_text(dir.path() / "n.inp");
  const std::string cmd = "cd '" + dir.path().string() + "' && bash -c \"trap '' XFSZ; ulimit -f 1; exec '" +
                          KAVEN_BINARY + "' --from-cif '" + corundum +
                          "' --hkl 1 0 4 --wavelength 0.7 --synchrotron -o n.inp\" 2>err.txt";
  const int raw = std::system(cmd.c_str());
  EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 1);
  EXPECT_NE(read_text(dir.path() / "err.txt").find("; no input file written\n"), std::string::npos);
  EXPECT_EQ(read_text(dir.path() / "n.inp"), before);
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path())) names.insert(e.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"n.inp", "err.txt", "stdout.txt", "stderr.txt"}));
}
