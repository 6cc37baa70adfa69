// The built-in space-group table and the operator set of a run.
//
// The table (data/space_group_table.inc, generated from python3-ase) holds the
// reduced general position of each group; raumgr copies it into the run record,
// snaps the translations to the exact fractions (multiples of 1/12) and writes the
// space-group lines of the listing. Explicit operators from the input take none of
// these steps: they are stored as read and only echoed.
#include "crystal/space_group.hpp"

#include <algorithm>
#include <stdexcept>

#include "report/record_format.hpp"

namespace kaven {

namespace {

constexpr SpaceGroupEntry kSpaceGroups[230] = {
#include "data/space_group_table.inc"
};

// The 2-character term of coefficient c of coordinate axis ('x', 'y' or 'z').
std::string coefficient_term(float c, char axis) {
  if (c == 0) return "  ";
  return std::string(1, c > 0 ? '+' : '-') + axis;
}

// One operator as the listing prints it: per row the translation field and three
// terms, rows separated by commas ("1/2+x    ,   -y    ,      +z").
std::string operator_text(const SymmetryOperator& op, const std::string (&tran_text)[3]) {
  static constexpr char axes[3] = {'x', 'y', 'z'};
  std::string s;
  for (int j = 0; j < 3; ++j) {
    if (j > 0) s += ',';
    s += tran_text[j];
    for (int k = 0; k < 3; ++k) s += coefficient_term(op.s[j][k], axes[k]);
  }
  return s;
}

}  // namespace

const SpaceGroupEntry& space_group_entry(int nr) {
  if (nr < 1 || nr > 230) throw std::out_of_range("space-group number outside 1..230");
  return kSpaceGroups[nr - 1];
}

SnappedTranslation snap_translation(float t) {
  // Windows tested in this order; the first containing t wins. The table stores
  // thirds and sixths to six decimals only, which these windows absorb.
  struct Window {
    double lo, hi;
    const char* text;
    float value;
  };
  static constexpr Window windows[] = {
      {0.80, 0.90, "5/6", 5.0f / 6.0f}, {0.73, 0.76, "3/4", 0.75f},
      {0.65, 0.67, "2/3", 2.0f / 3.0f}, {0.49, 0.51, "1/2", 0.5f},
      {0.32, 0.34, "1/3", 1.0f / 3.0f}, {0.24, 0.26, "1/4", 0.25f},
      {0.15, 0.17, "1/6", 1.0f / 6.0f},
  };
  const double v = t;
  for (const Window& w : windows)
    if (w.lo < v && v < w.hi) return {w.text, w.value};
  if (-0.10 < v && v < 0.10) return {"   ", t};
  return {"***", t};
}

void raumgr(RunContext& run, int nr) {
  using namespace rec;
  RunParameters& par = run.par;
  const SpaceGroupEntry& e = space_group_entry(nr);
  par.space_group = pad(e.name, 30);
  par.ns = e.nops;
  par.ic = e.code == 1 ? 2 : 1;  // the table's code runs the other way from ic
  par.ops.assign(e.nops, SymmetryOperator{});

  std::vector<std::string> texts;
  texts.reserve(e.nops);
  for (int i = 0; i < e.nops; ++i) {
    SymmetryOperator& op = par.ops[i];
    std::string tran_text[3];
    for (int j = 0; j < 3; ++j) {
      for (int k = 0; k < 3; ++k) op.s[j][k] = e.ops[i][3 * j + k];
      SnappedTranslation st = snap_translation(e.ops[i][9 + j]);
      op.t[j] = st.value;
      tran_text[j] = st.text;
    }
    texts.push_back(operator_text(op, tran_text));
  }

  run.out.record(
      " Space-group-Nr.   : " + I(3, nr) + X(5) +
      (par.ic == 1 ? " Centrosymmetric     Space-group: " : " Non-Centrosymmetric Space-group: ") +
      par.space_group);
  run.out.record(I(3, par.ns) + " symmetry operators:");
  // Four operators to a line, each closed by ";" and two blanks except the last.
  std::string line;
  for (int i = 0; i < e.nops; ++i) {
    if (i % 4 == 0) line = " ";
    line += texts[i];
    if (i + 1 < e.nops) line += ";  ";
    if (i % 4 == 3 || i + 1 == e.nops) run.out.record(line);
  }
}

void list_explicit_operators(RunContext& run) {
  using namespace rec;
  const RunParameters& par = run.par;
  run.out.record(I(4, par.ns) + " symmetry lines:");
  const std::size_t n = std::min<std::size_t>(std::max(par.ns, 0), par.ops.size());
  for (std::size_t i = 0; i < n; ++i) {
    const SymmetryOperator& op = par.ops[i];
    std::string line;
    for (int j = 0; j < 3; ++j) {
      line += X(3) + F(6, 3, op.t[j]);
      for (int k = 0; k < 3; ++k) line += F(4, 0, op.s[j][k]);
    }
    run.out.record(line);
  }
}

}  // namespace kaven
