// The built-in space-group table and the operator set of a run.
//
// The table (data/space_group_table.inc, generated from python3-ase) holds the
// reduced general position of each group; raumgr copies it into the run record and
// snaps the translations to the exact fractions (multiples of 1/12). Explicit operators
// from the input take none of these steps: they are stored as read.
#include "crystal/space_group.hpp"

#include <algorithm>
#include <stdexcept>

#include "core/fixed_text.hpp"

namespace kaven {

namespace {

constexpr SpaceGroupEntry kSpaceGroups[230] = {
#include "data/space_group_table.inc"
};

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

void raumgr(RunParameters& par, int nr) {
  const SpaceGroupEntry& e = space_group_entry(nr);
  par.space_group = rec::pad(e.name, 30);
  par.ns = e.nops;
  par.ic = e.code == 1 ? 2 : 1;  // the table's code runs the other way from ic
  par.ops.assign(e.nops, SymmetryOperator{});
  for (int i = 0; i < e.nops; ++i) {
    SymmetryOperator& op = par.ops[i];
    for (int j = 0; j < 3; ++j) {
      for (int k = 0; k < 3; ++k) op.s[j][k] = e.ops[i][3 * j + k];
      op.t[j] = snap_translation(e.ops[i][9 + j]).value;
    }
  }
}

}  // namespace kaven
