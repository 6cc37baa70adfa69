// Structure factors of a run of reflections along one row of the reciprocal lattice,
// h k l0, h k l0+1, ..., by recurrences instead of a sine, a cosine and an exponential
// for every atom, operator and reflection.
//
// Along the row the transformed indices h' = h R of an operator step by the third row
// v of R, and h.t by t3, so for each atom and operator
//   the phase factor   E(l+1) = E(l) exp(2 pi i (v.x + t3)),
//   the temperature factor T = exp(-h' B h'^T), quadratic in l:
//                      T(l+1) = T(l) W(l),  W(l+1) = W(l) exp(-2 v B v^T),
// a complex and two real products per step, started once per run from one sine,
// cosine and two exponentials. The per-atom cosine and sine sums are gathered by atom
// type, since f0 + f' depends on the reflection only through s; F(-h) comes from the
// same sums, as in the direct sum. The arithmetic is double throughout, with the same
// single-precision 2 pi (6.283185) as the direct sum; the products lose about one unit
// of the last place per step, far below what single-precision results can show.
//
// Needs integral rotations (the direct sum truncates h R toward zero, which is linear
// in l only when R is integral).
#pragma once
#include <vector>

#include "input/run_parameters.hpp"
#include "scattering/structure_factor.hpp"

namespace kaven {

class StructureFactorRows {
 public:
  static constexpr int kRun = 32;  // reflections per run

  explicit StructureFactorRows(const RunParameters& par);

  // F(h k l0+j) and F(-h -k -(l0+j)) for j = 0 .. kRun-1, s[j] the sin(theta)/lambda
  // of each (beyond 6: 0). Each is the direct sum of the same reflection to within
  // the rounding of the direct sum's single-precision steps.
  void evaluate(int h, int k, int l0, const float* s, StructureFactorPair* out);

 private:
  const RunParameters& par_;
  int n_types_ = 0;
  // Pairs of an operator and an atom, ordered by atom type in blocks of four (the
  // last block of a type filled with weight 0); per type its first block and count.
  std::vector<int> type_first_block_, type_blocks_;
  std::vector<double> x_, y_, z_, w_;        // per pair: position, afact
  std::vector<double> b_[6];                 // per pair: beta11 beta22 beta33 beta12 beta13 beta23
  std::vector<int> op_of_;                   // per pair: operator
  std::vector<double> step_re_, step_im_;    // per pair: exp(2 pi i (v.x + t3))
  std::vector<double> growth_;               // per pair: exp(-2 v B v^T)
  std::vector<double> bv_[3], vbv_;          // per pair: B v^T and v B v^T
  // per run: start values
  std::vector<double> e_re_, e_im_, t_, w_step_;
  std::vector<double> sum_c_, sum_s_;        // per type and reflection
  std::vector<float> ff_;
};

}  // namespace kaven
