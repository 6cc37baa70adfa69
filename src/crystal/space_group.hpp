// Space-group table and the operator set of a run.
//
// Entry nr (1..230) holds the coordinate triplets (1) .. (ns) of the general position
// in International Tables A order, in the setting its name states (monoclinic unique
// axis b cell choice 1; origin choice 2 where there are two; R groups on rhombohedral
// axes), without the centring translations and, for centrosymmetric groups, only the
// first half (the rest are their inverses through the origin). The centring comes in
// later as copied atoms; the inversion as the flag ic of the structure-factor sum.
#pragma once
#include <string>

#include "input/run_parameters.hpp"

namespace kaven {

struct SpaceGroupEntry {
  int nops;          // number of stored operators, 1..24
  int code;          // 1 non-centrosymmetric, 2 centrosymmetric (opposite sense to ic)
  const char* name;  // as stored, without trailing blanks
  // per operator: the 9 rotation values row by row, then the 3 translations
  float ops[24][12];
};

// Entry nr of the table, 1 <= nr <= 230.
const SpaceGroupEntry& space_group_entry(int nr);

// Sets par.ns, par.ic, par.ops (translations snapped to 1/6, 1/4, 1/3, 1/2, 2/3, 3/4,
// 5/6) and par.space_group (30 characters) from entry nr. The driver then lists the
// group (list_space_group, report/input_echo.hpp).
void raumgr(RunParameters& par, int nr);

// The 3-character listing text of a translation and its snapped value. A snapped value
// snaps to itself, so the text of a stored operator follows from its value alone.
struct SnappedTranslation {
  const char* text;
  float value;
};
SnappedTranslation snap_translation(float t);

}  // namespace kaven
