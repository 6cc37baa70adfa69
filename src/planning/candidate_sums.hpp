// The structure factors of one list of candidate reflections at many energies, with
// what does not depend on the energy formed once.
//
// F(h) = sum over atom types t of (f0_t(s) + f'_t + i f''_t) G_t(h), where the geometric
// sum G_t(h) = sum over the atoms i of type t of w_i sum over the operators of
// T_i(h R) exp(2 pi i (h R . x_i + h . t)) holds the positions and the temperature
// factors: neither G_t nor f0_t(s) depends on the energy. Two kinds of value, as in the
// run's reflection cache (simulation/reflection_cache.hpp):
//
// - screening values: G_t formed once per orbit of the operators (in double, for the
//   representative, and turned for every member: F(g) = exp(2 pi i turns) F(sign rep)
//   holds type by type), kept with f0_t for the secondary and the coupling reflection of
//   every candidate; at an energy, |F| is a sum over the types. They lie within the
//   run's screening margin of the direct sum.
// - exact values: the per-atom sums of the direct sum (StructureFactorCalculator::
//   atom_sums), kept per reflection the first time an energy asks for it, and combined
//   with f0 + f' and f'' of that energy exactly as the direct sum combines them, so that
//   every value equals the direct sum at that energy bit for bit.
//
// Safe to use from several threads: each energy takes its own AtEnergy.
#pragma once
#include <atomic>
#include <complex>
#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "input/run_parameters.hpp"
#include "scattering/structure_factor.hpp"
#include "simulation/event_search.hpp"

namespace kaven {

class CandidateSums {
 public:
  // `par`: the run record of the candidates (operators, atoms, types with f0, the
  // primary reflection). Kept by reference: it must outlive this and stay unchanged.
  // `budget`: bytes at most for the kept per-atom sums; beyond them the sums are formed
  // each time they are asked for.
  static constexpr std::size_t kDefaultBudget = std::size_t{512} << 20;
  CandidateSums(const RunParameters& par, std::vector<CandidateGeometry> candidates, int threads = 0,
                std::size_t budget = kDefaultBudget);
  ~CandidateSums();
  CandidateSums(const CandidateSums&) = delete;
  CandidateSums& operator=(const CandidateSums&) = delete;

  std::span<const CandidateGeometry> candidates() const { return candidates_; }

  // The structure factors at the energy of `par_at_energy` (its types' f' and f''; the
  // same operators and atoms as the record of the list), for one search on one thread.
  class AtEnergy final : public CandidateStructureFactors {
   public:
    AtEnergy(const CandidateSums& sums, const RunParameters& par_at_energy, double margin);
    double margin() const override { return margin_; }
    ReflectionCache::Entry screening(std::size_t j, bool coupling) override;
    ReflectionCache::Entry exact(std::size_t j, bool coupling, float s) override;

   private:
    const CandidateSums& sums_;
    StructureFactorCalculator calc_;
    double margin_;
    std::vector<float> fp_, fpp_;
    std::vector<float> cos_, sin_;  // the per-atom sums of a reflection not kept
  };

  // Storage taken: the screening values and the per-atom sums kept (bytes).
  std::size_t bytes() const;
  // Orbits whose sum was formed, and per-atom sums formed.
  long orbit_sums() const { return orbit_sums_; }
  long atom_sum_count() const { return atom_sums_formed_.load(); }

 private:
  // A slot: 2 j for the secondary reflection of candidate j, 2 j + 1 for its coupling
  // reflection.
  std::array<int, 3> indices(std::size_t slot) const;
  // The kept per-atom sums of a slot (cosine sums, then sine sums), formed when first
  // asked for; nullptr beyond the budget.
  const float* atom_sums(std::size_t slot, StructureFactorCalculator& calc) const;

  const RunParameters& par_;
  std::vector<CandidateGeometry> candidates_;
  std::size_t n_types_ = 0, n_atoms_ = 0;
  std::vector<float> s_;                  // per slot: sin(theta)/lambda (Å^-1)
  std::vector<float> f0_;                 // per slot and type: f0_t(s)
  std::vector<std::complex<float>> g_;    // per slot and type: G_t
  long orbit_sums_ = 0;
  std::size_t budget_;
  mutable std::unique_ptr<std::atomic<float*>[]> kept_;
  mutable std::atomic<std::size_t> kept_bytes_{0};
  mutable std::atomic<long> atom_sums_formed_{0};
};

}  // namespace kaven
