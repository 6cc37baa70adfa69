// Structure factor F(h k l) = sum over atoms and symmetry operators of
// (f0 + f' + i f'') exp(-h^T B h) exp(2 pi i h.(R x + t)), formed as
// sum_ops exp(2 pi i (h R) . x + 2 pi i h . t) with the transformed indices h R.
//
// The operator set is the reduced one: lattice centring comes in as copied atoms, and
// for a centrosymmetric group (ic = 1, inversion at the origin) each term pairs with
// its complex conjugate, so the cosine sums are doubled and the sine sums cancel.
// There is no extinction-rule test: absent reflections come out with |F| ~ 0, and
// callers count |F| <= 0.001 as absent.
#pragma once
#include <span>
#include <vector>

#include "input/run_parameters.hpp"

namespace kaven {

struct StructureFactor {
  float fmod = 0;   // |F| in electrons
  float phase = 0;  // radians, in [-0.001, 2 pi - 0.001) (or -pi/2, see the phase rule)
  float im = 0;     // imaginary part
  float re = 0;     // real part
};

// |F| and the phase of F = re + i im by the phase rule: atan2 lifted by 2 pi below
// -0.001; on an axis exactly 0, pi, pi/2 or -pi/2.
StructureFactor structure_factor_from_parts(float re, float im);

// F(h) and F(-h), formed from the same per-atom sums.
struct StructureFactorPair {
  StructureFactor plus, minus;
};

// Holds the work arrays of the sum (per atom cosine and sine sums, per type f0 + f'),
// so that repeated evaluations allocate nothing. Reads the operators, the atoms and the
// types of the run record, which must outlive it and stay unchanged.
class StructureFactorCalculator {
 public:
  explicit StructureFactorCalculator(const RunParameters& par);  // may throw bad_alloc
  // s = sin(theta)/lambda (Å^-1); beyond 6 the model has no f0 and F = 0.
  StructureFactor operator()(int h, int k, int l, float s);
  // F(h k l) and F(-h -k -l) at s, the second for the price of the per-atom combination:
  // h R and h.t change sign, so the cosine sums stay and the sine sums change sign.
  // Each is what operator() gives for its indices.
  StructureFactorPair pair(int h, int k, int l, float s);

  // The part of F(h k l) that depends on the indices alone: per atom the cosine and the
  // sine sums over the operators (temperature factors included; the sine sums zero for
  // a centrosymmetric set), one value per atom of the run record. Neither s nor f' and
  // f'' enter them, so they serve F at any wavelength.
  void atom_sums(int h, int k, int l, std::span<float> cos_sums, std::span<float> sin_sums);
  // F at s from such sums with the types of the run record (f0 + f' and f''), exactly as
  // operator() forms it; `negated`: F(-h) from the sums of h. Beyond s = 6: 0.
  StructureFactor from_atom_sums(std::span<const float> cos_sums, std::span<const float> sin_sums,
                                 float s, bool negated = false);

 private:
  void sum_over_operators(int h, int k, int l);
  StructureFactor combine(std::span<const float> cos_sums, std::span<const float> sin_sums, float s,
                          bool negated);

  const RunParameters& par_;
  std::vector<float> sumc_, sums_, ff_;
  std::vector<float> last_q_;   // per atom: the last exponent of the temperature factor
  std::vector<double> last_t_;  // and its exponential
};

// One evaluation as the run uses it. A failed allocation of the work arrays is the
// element error of the structure factor: the run ends (RunStopped) with its message.
StructureFactor fcalc1(const RunParameters& par, int h, int k, int l, float s);

}  // namespace kaven
