#include "planning/candidate_sums.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <new>
#include <unordered_map>

#include "core/constants.hpp"
#include "core/parallel.hpp"
#include "crystal/reflection_symmetry.hpp"
#include "scattering/element_table.hpp"
#include "simulation/reflection_cache.hpp"

namespace kaven {
namespace {

// Screening values are formed below this s; above it (near the end of the f0 model at
// s = 6, where the members of an orbit may fall on either side) the exact value serves.
constexpr float kModelEdge = 5.99f;

struct MillerHash {
  std::size_t operator()(const Miller& m) const {
    return std::hash<long long>()((static_cast<long long>(m[0]) * 1000003 + m[1]) * 1000003 + m[2]);
  }
};

// G_t(h) of every type t, in double: the direct sum without its single-precision steps
// (with its single-precision 2 pi, so that it stays within the screening margin of it).
void type_sums(const RunParameters& par, const Miller& h, std::complex<double>* g, std::size_t n_types) {
  std::fill(g, g + n_types, std::complex<double>());
  const int n_ops = std::min<int>(par.ns, static_cast<int>(par.ops.size()));
  const bool centric = par.ic == 1;
  for (int n = 0; n < n_ops; ++n) {
    const SymmetryOperator& op = par.ops[static_cast<std::size_t>(n)];
    auto tr = [&](int j) {
      return std::trunc(double(h[0]) * op.s[0][j] + double(h[1]) * op.s[1][j] + double(h[2]) * op.s[2][j]);
    };
    const double hh = tr(0), kk = tr(1), ll = tr(2);
    const double td = double(h[0]) * op.t[0] + double(h[1]) * op.t[1] + double(h[2]) * op.t[2];
    for (const Atom& a : par.atoms) {
      const int t = type_number(a);
      if (t < 1 || t > static_cast<int>(n_types)) continue;
      const double arg = double(kTwoPiArgument) * (hh * a.x + kk * a.y + ll * a.z + td);
      const double q = -(hh * hh * a.bt[0] + kk * kk * a.bt[1] + 2 * hh * kk * a.bt[3] +
                         2 * hh * ll * a.bt[4] + 2 * kk * ll * a.bt[5] + ll * ll * a.bt[2]);
      const double wt = double(a.afact) * std::exp(q);
      g[static_cast<std::size_t>(t - 1)] += std::complex<double>(wt * std::cos(arg), centric ? 0.0 : wt * std::sin(arg));
    }
  }
  if (centric)
    for (std::size_t t = 0; t < n_types; ++t) g[t] *= 2.0;
}

// Runs body(i) for i = 0..n-1 on the threads.
template <class Body>
void for_each_index(std::size_t n, int threads, Body body) {
  std::atomic<std::size_t> next{0};
  auto work = [&]() {
    for (std::size_t i = next.fetch_add(1); i < n; i = next.fetch_add(1)) body(i);
  };
  run_on_threads(std::max(1, std::min<int>(thread_count(threads), static_cast<int>(std::min<std::size_t>(n, 1024)))),
                 work);
}

}  // namespace

CandidateSums::CandidateSums(const RunParameters& par, std::vector<CandidateGeometry> candidates,
                             int threads, std::size_t budget)
    : par_(par), candidates_(std::move(candidates)), budget_(budget) {
  n_types_ = par.types.size();
  n_atoms_ = par.atoms.size();
  const std::size_t n_slots = 2 * candidates_.size();
  s_.resize(n_slots);
  f0_.resize(n_slots * n_types_);
  g_.resize(n_slots * n_types_);
  kept_.reset(new std::atomic<float*>[n_slots]);
  for (std::size_t i = 0; i < n_slots; ++i) kept_[i].store(nullptr, std::memory_order_relaxed);

  // s and f0 of every slot, and the representative of its orbit.
  const ReflectionSymmetry sym(par);
  std::vector<Miller> rep_of(n_slots);
  for_each_index(n_slots, threads, [&](std::size_t slot) {
    const Miller h = indices(slot);
    const float s = reflection_s(par, h[0], h[1], h[2]);
    s_[slot] = s;
    for (std::size_t t = 0; t < n_types_; ++t)
      f0_[slot * n_types_ + t] = static_cast<float>(f0(par.types[t], s));
    rep_of[slot] = sym.representative(h);
  });

  // The orbits, numbered in the order of their first slot, and the slots of each.
  std::unordered_map<Miller, std::size_t, MillerHash> number;
  std::vector<std::size_t> orbit_of(n_slots);
  std::vector<Miller> reps;
  for (std::size_t slot = 0; slot < n_slots; ++slot) {
    auto [it, fresh] = number.try_emplace(rep_of[slot], reps.size());
    if (fresh) reps.push_back(rep_of[slot]);
    orbit_of[slot] = it->second;
  }
  std::vector<std::size_t> first(reps.size() + 1, 0), order(n_slots);
  for (std::size_t slot = 0; slot < n_slots; ++slot) ++first[orbit_of[slot] + 1];
  for (std::size_t o = 0; o < reps.size(); ++o) first[o + 1] += first[o];
  {
    std::vector<std::size_t> fill(first.begin(), first.end() - 1);
    for (std::size_t slot = 0; slot < n_slots; ++slot) order[fill[orbit_of[slot]]++] = slot;
  }
  orbit_sums_ = static_cast<long>(reps.size());

  // One sum per orbit, turned onto every slot of it.
  for_each_index(reps.size(), threads, [&](std::size_t o) {
    const Miller& rep = reps[o];
    std::vector<std::complex<double>> g(n_types_);
    if (!sym.absent(rep)) type_sums(par, rep, g.data(), n_types_);
    std::vector<ReflectionSymmetry::Member> members;
    sym.members(rep, members);
    for (std::size_t i = first[o]; i < first[o + 1]; ++i) {
      const std::size_t slot = order[i];
      const Miller h = indices(slot);
      auto m = std::find_if(members.begin(), members.end(),
                            [&](const ReflectionSymmetry::Member& x) { return x.g == h; });
      std::complex<double>* out = nullptr;
      std::vector<std::complex<double>> direct;
      if (m == members.end()) {  // not reached by the operators (cannot happen for a group)
        direct.resize(n_types_);
        type_sums(par, h, direct.data(), n_types_);
        out = direct.data();
      }
      for (std::size_t t = 0; t < n_types_; ++t) {
        std::complex<double> v;
        if (out) {
          v = out[t];
        } else {
          const std::complex<double> base = m->sign > 0 ? g[t] : std::conj(g[t]);
          v = base * std::polar(1.0, 2 * std::numbers::pi * m->turns);
        }
        g_[slot * n_types_ + t] = std::complex<float>(static_cast<float>(v.real()), static_cast<float>(v.imag()));
      }
    }
  });
}

CandidateSums::~CandidateSums() {
  const std::size_t n_slots = 2 * candidates_.size();
  for (std::size_t i = 0; i < n_slots; ++i) delete[] kept_[i].load(std::memory_order_relaxed);
}

std::array<int, 3> CandidateSums::indices(std::size_t slot) const {
  const CandidateGeometry& c = candidates_[slot / 2];
  if (slot % 2 == 0) return {c.h1, c.k1, c.l1};
  return {par_.h - c.h1, par_.k - c.k1, par_.l - c.l1};
}

const float* CandidateSums::atom_sums(std::size_t slot, StructureFactorCalculator& calc) const {
  std::atomic<float*>& p = kept_[slot];
  if (float* v = p.load(std::memory_order_acquire)) return v;
  const std::size_t size = 2 * n_atoms_ * sizeof(float);
  if (kept_bytes_.fetch_add(size, std::memory_order_relaxed) + size > budget_) {
    kept_bytes_.fetch_sub(size, std::memory_order_relaxed);
    return nullptr;
  }
  std::unique_ptr<float[]> fresh(new (std::nothrow) float[2 * n_atoms_ + 1]);
  if (!fresh) {
    kept_bytes_.fetch_sub(size, std::memory_order_relaxed);
    return nullptr;
  }
  const Miller h = indices(slot);
  calc.atom_sums(h[0], h[1], h[2], std::span<float>(fresh.get(), n_atoms_),
                 std::span<float>(fresh.get() + n_atoms_, n_atoms_));
  ++atom_sums_formed_;
  float* expected = nullptr;
  // Two threads may form the same sums; they are equal, and the first kept serves.
  if (p.compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel)) return fresh.release();
  kept_bytes_.fetch_sub(size, std::memory_order_relaxed);
  return expected;
}

std::size_t CandidateSums::bytes() const {
  return s_.size() * sizeof(float) + f0_.size() * sizeof(float) + g_.size() * sizeof(std::complex<float>) +
         2 * candidates_.size() * sizeof(std::atomic<float*>) + kept_bytes_.load();
}

CandidateSums::AtEnergy::AtEnergy(const CandidateSums& sums, const RunParameters& par_at_energy, double margin)
    : sums_(sums), calc_(par_at_energy), margin_(margin), cos_(sums.n_atoms_), sin_(sums.n_atoms_) {
  for (const AtomType& t : par_at_energy.types) {
    fp_.push_back(t.fp);
    fpp_.push_back(t.fpp);
  }
  fp_.resize(sums.n_types_, 0.0f);
  fpp_.resize(sums.n_types_, 0.0f);
}

ReflectionCache::Entry CandidateSums::AtEnergy::screening(std::size_t j, bool coupling) {
  const std::size_t slot = 2 * j + (coupling ? 1 : 0);
  const float s = sums_.s_[slot];
  if (!(s < kModelEdge)) return exact(j, coupling, s);
  const std::size_t nt = sums_.n_types_;
  const float* f0 = &sums_.f0_[slot * nt];
  const std::complex<float>* g = &sums_.g_[slot * nt];
  double re = 0, im = 0;
  for (std::size_t t = 0; t < nt; ++t) {
    const double ff = std::max(0.0, double(f0[t]) + fp_[t]);
    const double gr = g[t].real(), gi = g[t].imag();
    re += ff * gr - fpp_[t] * gi;
    im += ff * gi + fpp_[t] * gr;
  }
  // The search screens on the modulus alone: no phase is formed.
  return {static_cast<float>(std::sqrt(re * re + im * im)), 0.0f};
}

ReflectionCache::Entry CandidateSums::AtEnergy::exact(std::size_t j, bool coupling, float s) {
  const std::size_t slot = 2 * j + (coupling ? 1 : 0);
  const std::size_t na = sums_.n_atoms_;
  const float* kept = sums_.atom_sums(slot, calc_);
  std::span<const float> c, sn;
  if (kept) {
    c = {kept, na};
    sn = {kept + na, na};
  } else {
    const Miller h = sums_.indices(slot);
    calc_.atom_sums(h[0], h[1], h[2], cos_, sin_);
    ++sums_.atom_sums_formed_;
    c = cos_;
    sn = sin_;
  }
  const StructureFactor f = calc_.from_atom_sums(c, sn, s);
  return {f.fmod, f.phase};
}

}  // namespace kaven
