// The space-group table is checked against an independent one: gemmi builds every
// group from its Hall symbol, so agreement of the full groups (stored operators,
// inversion, centring) means the table holds the right operators in the right
// setting. The order of the operators and the listing are checked against
// International Tables triplets written out here.
#include "crystal/space_group.hpp"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "report/input_echo.hpp"
#include "report/record_format.hpp"

#include <gemmi/symmetry.hpp>

namespace {

using namespace kaven;

// An operator in integers: 9 rotation values, then the translations in 24ths of
// the cell edge reduced to 0..23 (gemmi's denominator).
using IntOp = std::array<int, 12>;
constexpr int kDen = 24;

int wrap24(long v) { return static_cast<int>(((v % kDen) + kDen) % kDen); }

IntOp int_op(const SymmetryOperator& op, int sign, const std::array<int, 3>& shift) {
  IntOp r{};
  for (int j = 0; j < 3; ++j) {
    for (int k = 0; k < 3; ++k) r[3 * j + k] = sign * static_cast<int>(std::lround(op.s[j][k]));
    r[9 + j] = wrap24(sign * std::lround(op.t[j] * kDen) + shift[j]);
  }
  return r;
}

std::vector<std::array<int, 3>> centring_vectors(char lattice) {
  switch (lattice) {
    case 'I':
      return {{0, 0, 0}, {12, 12, 12}};
    case 'A':
      return {{0, 0, 0}, {0, 12, 12}};
    case 'B':
      return {{0, 0, 0}, {12, 0, 12}};
    case 'C':
      return {{0, 0, 0}, {12, 12, 0}};
    case 'F':
      return {{0, 0, 0}, {0, 12, 12}, {12, 0, 12}, {12, 12, 0}};
    default:
      return {{0, 0, 0}};  // P, and R on rhombohedral axes
  }
}

// The whole group of a run: its operators, their inverses through the origin when
// ic = 1, each combined with every centring translation of the lattice letter.
std::set<IntOp> full_group(const RunParameters& par) {
  std::set<IntOp> g;
  for (const SymmetryOperator& op : par.ops)
    for (const auto& c : centring_vectors(par.space_group[0])) {
      g.insert(int_op(op, 1, c));
      if (par.ic == 1) g.insert(int_op(op, -1, c));
    }
  return g;
}

// "-x+1/2,y,-z" etc. into an operator (fractions of one digit over one digit).
SymmetryOperator triplet(const std::string& s) {
  SymmetryOperator op;
  for (auto& row : op.s)
    for (float& v : row) v = 0;
  int row = 0;
  float sign = 1;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == ',') {
      ++row;
      sign = 1;
    } else if (c == '+' || c == '-') {
      sign = c == '+' ? 1.0f : -1.0f;
    } else if (c >= 'x' && c <= 'z') {
      op.s[row][c - 'x'] = sign;
      sign = 1;
    } else if (c >= '0' && c <= '9') {
      float num = static_cast<float>(c - '0');
      float den = static_cast<float>(s.at(i + 2) - '0');
      op.t[row] = sign * (num / den);
      i += 2;
      sign = 1;
    }
  }
  return op;
}

void expect_operators(int nr, const std::vector<std::string>& triplets) {
  RunParameters par;
  raumgr(par, nr);
  ASSERT_GE(par.ops.size(), triplets.size()) << nr;
  for (std::size_t i = 0; i < triplets.size(); ++i) {
    SymmetryOperator want = triplet(triplets[i]);
    for (int j = 0; j < 3; ++j) {
      for (int k = 0; k < 3; ++k)
        EXPECT_EQ(par.ops[i].s[j][k], want.s[j][k]) << nr << " op " << i + 1 << " " << triplets[i];
      EXPECT_EQ(par.ops[i].t[j], want.t[j]) << nr << " op " << i + 1 << " " << triplets[i];
    }
  }
}

std::vector<std::string> records(const std::string& text) {
  std::vector<std::string> r;
  std::istringstream is(text);
  for (std::string line; std::getline(is, line);) r.push_back(line);
  return r;
}

// Stored operators per crystal class: the point-group order, halved when the
// inversion is left out.
int expected_count(int nr) {
  struct Range {
    int last, count;
  };
  static constexpr Range ranges[] = {
      {2, 1},     // 1, -1
      {15, 2},    // monoclinic
      {74, 4},    // orthorhombic
      {88, 4},    // 4, -4, 4/m
      {142, 8},   // 422, 4mm, -42m, 4/mmm
      {148, 3},   // 3, -3
      {176, 6},   // 32, 3m, -3m, 6, -6, 6/m
      {206, 12},  // 622, 6mm, -6m2, 6/mmm, 23, m-3
      {230, 24},  // 432, -43m, m-3m
  };
  for (const Range& r : ranges)
    if (nr <= r.last) return r.count;
  return 0;
}

bool centrosymmetric(int nr) {
  static constexpr int ranges[][2] = {{2, 2},     {10, 15},   {47, 74},   {83, 88},
                                      {123, 142}, {147, 148}, {162, 167}, {175, 176},
                                      {191, 194}, {200, 206}, {221, 230}};
  for (const auto& r : ranges)
    if (r[0] <= nr && nr <= r[1]) return true;
  return false;
}

TEST(SpaceGroupTable, CountsAndCodesFollowTheCrystalClass) {
  for (int nr = 1; nr <= 230; ++nr) {
    const SpaceGroupEntry& e = space_group_entry(nr);
    EXPECT_EQ(e.nops, expected_count(nr)) << nr;
    EXPECT_EQ(e.code, centrosymmetric(nr) ? 2 : 1) << nr;
    EXPECT_LE(std::string(e.name).size(), 30u) << nr;
    // the first triplet of every group is the identity
    for (int v = 0; v < 12; ++v) EXPECT_EQ(e.ops[0][v], (v == 0 || v == 4 || v == 8) ? 1 : 0);
    // unused slots hold zeros
    for (int i = e.nops; i < 24; ++i)
      for (int v = 0; v < 12; ++v) EXPECT_EQ(e.ops[i][v], 0) << nr;
  }
  EXPECT_STREQ(space_group_entry(85).name, "P 4/n   ; origin at centre");
  EXPECT_STREQ(space_group_entry(167).name, "R -3 c ;rhombohedral axes");
  EXPECT_STREQ(space_group_entry(192).name, "P6/m c c");
}

// gemmi's setting for entry nr: origin choice 2 where there are two, rhombohedral
// axes for the R groups, otherwise its first (standard) setting.
const gemmi::SpaceGroup* gemmi_setting(int nr) {
  const gemmi::SpaceGroup *first = nullptr, *origin2 = nullptr, *rhombohedral = nullptr;
  for (const gemmi::SpaceGroup& sg : gemmi::spacegroup_tables::main) {
    if (sg.number != nr) continue;
    if (!first) first = &sg;
    if (sg.ext == '2' && !origin2) origin2 = &sg;
    if (sg.ext == 'R' && !rhombohedral) rhombohedral = &sg;
  }
  return rhombohedral ? rhombohedral : origin2 ? origin2 : first;
}

std::string without_blanks(std::string s) {
  std::erase(s, ' ');
  return s;
}

TEST(SpaceGroupTable, FullGroupsEqualGemmis) {
  for (int nr = 1; nr <= 230; ++nr) {
    const gemmi::SpaceGroup* sg = gemmi_setting(nr);
    ASSERT_NE(sg, nullptr) << nr;
    RunParameters par;
    raumgr(par, nr);

    std::set<IntOp> want;
    for (gemmi::Op op : sg->operations()) {
      IntOp r{};
      for (int j = 0; j < 3; ++j) {
        for (int k = 0; k < 3; ++k) r[3 * j + k] = op.rot[j][k] / gemmi::Op::DEN;
        r[9 + j] = wrap24(op.tran[j]);
      }
      want.insert(r);
    }
    std::set<IntOp> got = full_group(par);
    EXPECT_EQ(got, want) << nr << " against gemmi " << sg->xhm();
    // no operator is stored twice, no centring or inversion partner is stored
    std::size_t expanded =
        par.ops.size() * centring_vectors(par.space_group[0]).size() * (par.ic == 1 ? 2 : 1);
    EXPECT_EQ(got.size(), expanded) << nr;
    // the name, up to its setting remark, is gemmi's Hermann-Mauguin symbol
    std::string name = par.space_group.substr(0, par.space_group.find(';'));
    EXPECT_EQ(without_blanks(name), without_blanks(sg->hm)) << nr;
  }
}

TEST(SpaceGroupTable, ExampleEntriesInInternationalTablesOrder) {
  expect_operators(14, {"x,y,z", "-x,y+1/2,-z+1/2"});
  expect_operators(19, {"x,y,z", "-x+1/2,-y,z+1/2", "-x,y+1/2,-z+1/2", "x+1/2,-y+1/2,-z"});
  expect_operators(70, {"x,y,z", "-x+3/4,-y+3/4,z", "-x+3/4,y,-z+3/4", "x,-y+3/4,-z+3/4"});
  expect_operators(161, {"x,y,z", "z,x,y", "y,z,x", "y+1/2,x+1/2,z+1/2", "x+1/2,z+1/2,y+1/2",
                         "z+1/2,y+1/2,x+1/2"});
  expect_operators(194, {"x,y,z", "-y,x-y,z", "-x+y,-x,z", "-x,-y,z+1/2"});
  EXPECT_EQ(space_group_entry(14).code, 2);
  EXPECT_EQ(space_group_entry(19).code, 1);
  EXPECT_EQ(space_group_entry(70).code, 2);
  EXPECT_EQ(space_group_entry(161).code, 1);
  EXPECT_EQ(space_group_entry(194).nops, 12);
}

TEST(SpaceGroupTable, RunValuesOfTheEdgeGroups) {
  RunParameters par;

  raumgr(par, 225);
  EXPECT_EQ(par.ns, 24);
  EXPECT_EQ(par.ic, 1);
  EXPECT_EQ(par.space_group, rec::pad("F m -3 m", 30));
  for (const SymmetryOperator& op : par.ops)
    for (float t : op.t) EXPECT_EQ(t, 0.0f);

  // a later run overwrites the whole set
  raumgr(par, 2);
  EXPECT_EQ(par.ns, 1);
  ASSERT_EQ(par.ops.size(), 1u);
  EXPECT_EQ(par.ic, 1);
  EXPECT_EQ(par.space_group, rec::pad("P -1", 30));
  expect_operators(2, {"x,y,z"});

  raumgr(par, 146);
  EXPECT_EQ(par.ns, 3);
  EXPECT_EQ(par.ic, 2);
  EXPECT_EQ(par.space_group[0], 'R');
  expect_operators(146, {"x,y,z", "z,x,y", "y,z,x"});

  // P 61: the stored six-decimal thirds and sixths become the exact fractions
  const SpaceGroupEntry& p61 = space_group_entry(169);
  raumgr(par, 169);
  const float exact[6] = {0, 1.0f / 3, 2.0f / 3, 0.5f, 5.0f / 6, 1.0f / 6};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(par.ops[i].t[2], exact[i]) << i;
    if (i == 1 || i == 2 || i == 4 || i == 5) {
      EXPECT_NE(p61.ops[i][11], exact[i]) << i;
    }
  }
}

TEST(SpaceGroupTable, TranslationWindows) {
  auto text = [](float t) { return std::string(snap_translation(t).text); };
  EXPECT_EQ(text(0.833f), "5/6");
  EXPECT_EQ(snap_translation(0.833f).value, 5.0f / 6);
  EXPECT_EQ(text(0.75f), "3/4");
  EXPECT_EQ(text(0.666666f), "2/3");
  EXPECT_EQ(text(0.5f), "1/2");
  EXPECT_EQ(text(0.333333f), "1/3");
  EXPECT_EQ(text(0.25f), "1/4");
  EXPECT_EQ(text(0.166666f), "1/6");
  EXPECT_EQ(text(0.05f), "   ");
  EXPECT_EQ(snap_translation(-0.05f).value, -0.05f);  // near zero: kept as it is
  for (float odd : {0.4f, 0.7f, 0.125f, 0.95f, -0.5f}) {
    EXPECT_EQ(text(odd), "***") << odd;
    EXPECT_EQ(snap_translation(odd).value, odd);
  }
}

TEST(SpaceGroupListing, TableGroupRecords) {
  RunParameters par;
  std::ostringstream listing;
  Listing out(listing);
  for (int nr : {14, 169, 230}) {
    raumgr(par, nr);
    list_space_group(out, par, nr);
  }
  // clang-format off
  const std::vector<std::string> want = {
      " Space-group-Nr.   :  14      Centrosymmetric     Space-group: P 1 21/c 1                    ",
      "  2 symmetry operators:",
      "    +x    ,     +y  ,       +z;     -x    ,1/2  +y  ,1/2    -z",
      " Space-group-Nr.   : 169      Non-Centrosymmetric Space-group: P 61                          ",
      "  6 symmetry operators:",
      "    +x    ,     +y  ,       +z;       -y  ,   +x-y  ,1/3    +z;     -x+y  ,   -x    ,2/3    +z;"
      "     -x    ,     -y  ,1/2    +z;  ",
      "      +y  ,   -x+y  ,5/6    +z;     +x-y  ,   +x    ,1/6    +z",
      " Space-group-Nr.   : 230      Centrosymmetric     Space-group: I a -3 d                      ",
      " 24 symmetry operators:",
      "    +x    ,     +y  ,       +z;  1/2-x    ,     -y  ,1/2    +z;     -x    ,1/2  +y  ,1/2    -z;"
      "  1/2+x    ,1/2  -y  ,       -z;  ",
      "        +z,   +x    ,     +y  ;  1/2    +z,1/2-x    ,     -y  ;  1/2    -z,   -x    ,1/2  +y  ;"
      "         -z,1/2+x    ,1/2  -y  ;  ",
      "      +y  ,       +z,   +x    ;       -y  ,1/2    +z,1/2-x    ;  1/2  +y  ,1/2    -z,   -x    ;"
      "  1/2  -y  ,       -z,1/2+x    ;  ",
      " 3/4  +y  ,1/4+x    ,1/4    -z;  3/4  -y  ,3/4-x    ,3/4    -z;  1/4  +y  ,1/4-x    ,3/4    +z;"
      "  1/4  -y  ,3/4+x    ,1/4    +z;  ",
      " 3/4+x    ,1/4    +z,1/4  -y  ;  1/4-x    ,3/4    +z,1/4  +y  ;  3/4-x    ,3/4    -z,3/4  -y  ;"
      "  1/4+x    ,1/4    -z,3/4  +y  ;  ",
      " 3/4    +z,1/4  +y  ,1/4-x    ;  1/4    +z,1/4  -y  ,3/4+x    ;  1/4    -z,3/4  +y  ,1/4+x    ;"
      "  3/4    -z,3/4  -y  ,3/4-x    ",
  };
  // clang-format on
  EXPECT_EQ(records(listing.str()), want);
}

TEST(SpaceGroupListing, ExplicitOperatorsAreEchoedUnsnapped) {
  RunParameters par;
  par.ns = 2;
  par.ops.resize(2);
  par.ops[0].t[0] = 0.4f;
  par.ops[1] = triplet("-x,y+1/2,-z");
  std::ostringstream listing;
  Listing out(listing);
  list_explicit_operators(out, par);
  const std::vector<std::string> want = {
      "   2 symmetry lines:",
      "    0.400  1.  0.  0.    0.000  0.  1.  0.    0.000  0.  0.  1.",
      "    0.000 -1.  0.  0.    0.500  0.  1.  0.    0.000  0.  0. -1.",
  };
  EXPECT_EQ(records(listing.str()), want);
  EXPECT_EQ(par.ops[0].t[0], 0.4f);
}

}  // namespace
