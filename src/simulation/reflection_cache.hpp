// Structure factors of the reflections a run meets, each formed once and kept, in two
// kinds:
//
// - screening values, cheap: one structure-factor sum serves the orbit of a reflection
//   under the operators together with the orbit of its negative (reflection_symmetry.hpp),
//   and in a cell with many reflections the sums are formed 32 at a time along rows of
//   the lattice (structure_factor_rows.hpp). They agree with the direct sum to within
//   the rounding of its single-precision steps, and `screening_margin()` bounds the
//   difference. The event search uses them to pass over the crossings too weak to be
//   listed or scanned.
// - exact values: the direct sum of the reflection itself at its s (as fcalc1 forms
//   it), for the crossings whose values are formed, so that every listed number is the
//   same as that of a search that forms every F afresh.
//
// Storage grows with the reflections met: rows of the index box are made when first
// touched, and within a row blocks of 32 reflections. Safe to use from several
// threads; every value is a function of its indices alone (a sum is always formed for
// the representative of its orbit, rows from the same first index), so the results do
// not depend on which thread asks first.
#pragma once
#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

#include "crystal/reflection_symmetry.hpp"
#include "input/run_parameters.hpp"
#include "scattering/structure_factor.hpp"

namespace kaven {

class StructureFactorRows;

class ReflectionCache {
 public:
  // How the sums of the screening values are formed.
  enum class Method {
    automatic,  // rows where the cell has many reflections and the rotations allow it
    direct,     // one sum per representative (as fcalc1)
    rows,       // rows of 32 (falls back to direct without integral rotations)
  };
  // hmax, kmax, lmax: the index limits of the search. Secondary reflections lie within
  // them, coupling reflections h_p - h within them widened by the primary indices: those
  // are kept; others are formed each time they are asked for.
  // At most `budget` bytes are kept (a 2000-atom cell of 30 Å takes some 30 MB, a cell
  // of 80 Å some 350 MB); beyond them values are formed each time they are asked for.
  static constexpr std::size_t kDefaultBudget = std::size_t{4} << 30;
  ReflectionCache(const RunParameters& par, int hmax, int kmax, int lmax,
                  Method method = Method::automatic, std::size_t budget = kDefaultBudget);
  ~ReflectionCache();
  ReflectionCache(const ReflectionCache&) = delete;
  ReflectionCache& operator=(const ReflectionCache&) = delete;

  // |F| and the phase of F (for screening values any angle of it, not reduced to the
  // range of the phase rule).
  struct Entry {
    float fmod, phase;
  };

  // |F| of a screening value differs from the exact |F| by at most this (electrons):
  // the rounding of the direct sum's single-precision arguments and sums, for every
  // atom at its largest scattering and all terms in phase, with a safety factor.
  double screening_margin() const { return margin_; }

  // Access from one thread, with that thread's work arrays.
  class Reader {
   public:
    explicit Reader(ReflectionCache& cache);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    Entry screening(int h, int k, int l);
    // s: sin(theta)/lambda of the reflection as the search forms it (|h|/2).
    Entry exact(int h, int k, int l, float s);

   private:
    void fill(const Miller& h);
    void keep(const Miller& rep, const StructureFactorPair& f);
    ReflectionCache& cache_;
    StructureFactorCalculator direct_;
    std::unique_ptr<StructureFactorRows> rows_;
    std::vector<ReflectionSymmetry::Member> members_;
  };

  struct Counts {
    long sums = 0;          // screening sums formed (each gives F(h) and F(-h))
    long screened = 0;      // reflections given a screening value
    long exact = 0;         // direct sums of single reflections
    std::size_t bytes = 0;  // storage of the kept values
  };
  Counts counts() const;
  bool uses_rows() const { return rows_; }
  const ReflectionSymmetry& symmetry() const { return symmetry_; }

 private:
  class Store;

  const RunParameters& par_;
  ReflectionSymmetry symmetry_;
  bool rows_ = false;
  double margin_ = 0;
  std::unique_ptr<Store> screening_, exact_;
  std::atomic<long> sums_{0}, screened_{0}, exact_count_{0};
  std::atomic<std::size_t> used_{0};  // bytes of both stores
};

// The bound of |F| between a screening value and the direct sum (electrons) for
// reflections within the index box |h| <= hb, |k| <= kb, |l| <= lb, at the run
// record's f' and f'' (see screening_margin()).
double screening_margin(const RunParameters& par, int hb, int kb, int lb);

// s = sin(theta)/lambda = |h|/2 of a reflection, as the event search forms it.
float reflection_s(const RunParameters& par, int h, int k, int l);

}  // namespace kaven
