// Symmetry of the structure factors, so that a whole set of related reflections costs
// one structure-factor sum.
//
// Every operator (R, t) of the space group carries the atoms of the cell onto atoms of
// the cell (the temperature factors rotated alike), so with h a row of indices
//   F(h R) = exp(-2 pi i h.t) F(h):
// reflections related by a rotation share |F|, and their phases differ by 2 pi h.t.
// With an inversion at the origin (ic = 1) -I belongs to the group and F(-h) = F(h).
// Friedel's law F(-h) = conj F(h) is not used: it fails with anomalous scattering.
// Instead F(-h) comes from the same per-atom sums as F(h) (the cosine sums are even in
// h, the sine sums odd), for any operator set, so one sum gives the orbits of h and of
// -h together.
//
// The relation is exact only for a true group whose rotations are integral and keep the
// metric; explicit operators need not be either (the structure-factor sum truncates
// h R toward zero). For those the orbit shrinks to the pair h, -h, which needs nothing.
#pragma once
#include <array>
#include <vector>

#include "input/run_parameters.hpp"

namespace kaven {

using Miller = std::array<int, 3>;

class ReflectionSymmetry {
 public:
  explicit ReflectionSymmetry(const RunParameters& par);

  // An operator of the group as it acts on indices: h -> sign h R, with the phase
  // shift h.t (turns) that F picks up.
  struct IndexOperator {
    int r[3][3];       // integral rotation
    double t[3];       // translation (fractions of the cell edges)
  };

  // The orbit relation of the group is used (not only the pair h, -h).
  bool uses_group() const { return !group_.empty(); }
  // Every rotation of the operator set is integral, so that h R changes by a fixed
  // row of R from one l to the next (the structure-factor rows need that).
  bool integral() const { return integral_; }
  // The operators of the group (the identity first), or none when it is not used.
  const std::vector<IndexOperator>& group() const { return group_; }

  // The representative of the orbit of h together with that of -h: the member that is
  // largest in (l, k, h), in this order.
  Miller representative(const Miller& h) const;

  // A member g = sign rep R of the orbits of rep and -rep: F(g) = exp(2 pi i turns)
  // F(sign rep).
  struct Member {
    Miller g;
    int sign;      // +1: from F(rep), -1: from F(-rep)
    double turns;  // phase shift in turns, reduced to [0, 1)
  };
  // h is a systematic absence of the group: F(h) = 0 up to the rounding of its sum,
  // by a centring translation the atom list carries or by an operator that keeps h
  // but shifts its phase. Always false when the group is not used.
  bool absent(const Miller& h) const;

  // Every member once, the first way the operators reach it in their order (so that
  // a member's derivation does not depend on anything but rep).
  void members(const Miller& rep, std::vector<Member>& out) const;

 private:
  std::vector<IndexOperator> group_;
  bool integral_ = false;
  bool has_inversion_ = false;  // -I belongs to the group: -h is in the orbit of h
  std::vector<std::array<double, 3>> centring_;  // carried centring translations
};

}  // namespace kaven
