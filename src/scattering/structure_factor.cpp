#include "scattering/structure_factor.hpp"

#include <algorithm>
#include <cmath>
#include <new>
#include <type_traits>

#include "core/constants.hpp"
#include "core/run_stop.hpp"
#include "scattering/element_table.hpp"

namespace kaven {

StructureFactorCalculator::StructureFactorCalculator(const RunParameters& par)
    : par_(par),
      sumc_(par.atoms.size()),
      sums_(par.atoms.size()),
      ff_(par.types.size()),
      last_q_(par.atoms.size()),
      last_t_(par.atoms.size()) {}

StructureFactor structure_factor_from_parts(float fre, float fim) {
  StructureFactor r;
  r.re = fre;
  r.im = fim;
  r.fmod = static_cast<float>(std::sqrt(double(fre) * fre + double(fim) * fim));
  if (fre != 0.0f && fim != 0.0f) {
    r.phase = static_cast<float>(std::atan2(double(fim), double(fre)));
    if (r.phase < -0.001f) r.phase = static_cast<float>(r.phase + double(kTwoPiSingle));
  } else if (fre > 0.0f) {
    r.phase = 0.0f;
  } else if (fre < 0.0f) {
    r.phase = kPiSingle;
  } else if (fim > 0.0f) {
    r.phase = kHalfPiSingle;
  } else if (fim < 0.0f) {
    r.phase = -kHalfPiSingle;
  } else {
    r.phase = 0.0f;
  }
  return r;
}

void StructureFactorCalculator::sum_over_operators(int h, int k, int l) {
  const std::size_t na = par_.atoms.size();
  std::fill(sumc_.begin(), sumc_.end(), 0.0f);
  std::fill(sums_.begin(), sums_.end(), 0.0f);
  std::fill(last_q_.begin(), last_q_.end(), 1.0f);  // q <= 0 for positive betas; any other value is formed
  std::fill(last_t_.begin(), last_t_.end(), std::exp(1.0));
  const int n_ops = std::min<int>(par_.ns, static_cast<int>(par_.ops.size()));
  // With the inversion the sine sums cancel: they are not formed.
  const bool centric = par_.ic == 1;
  for (int n = 0; n < n_ops; ++n) {
    const SymmetryOperator& op = par_.ops[static_cast<std::size_t>(n)];
    // h' = h R (the transpose of the rotation applied to h k l), truncated toward zero
    // (whole numbers for the operators of a lattice; kept in double, where the
    // products below cannot overflow as 32-bit integers would beyond 46340).
    auto tr = [&](int j) {
      return std::trunc(double(h) * op.s[0][j] + double(k) * op.s[1][j] + double(l) * op.s[2][j]);
    };
    const double hh = tr(0), kk = tr(1), ll = tr(2);
    const double td = double(h) * op.t[0] + double(k) * op.t[1] + double(l) * op.t[2];
    // Products of the temperature factor, once per operator.
    const float h2 = float(hh * hh), k2 = float(kk * kk), l2 = float(ll * ll);
    const float hk = float(2 * hh * kk), hl = float(2 * hh * ll), kl = float(2 * kk * ll);
    auto terms = [&](auto with_sines) {
      for (std::size_t i = 0; i < na; ++i) {
        const Atom& a = par_.atoms[i];
        const float arg = static_cast<float>(double(kTwoPiArgument) *
                                             (hh * a.x + kk * a.y + ll * a.z + td));
        const float q = static_cast<float>(-(double(h2) * a.bt[0] + double(k2) * a.bt[1] +
                                             double(hk) * a.bt[3] + double(hl) * a.bt[4] +
                                             double(kl) * a.bt[5] + double(l2) * a.bt[2]));
        // Operators that only permute or negate h k l give an atom with equal betas the
        // same exponent again: its factor is kept.
        if (q != last_q_[i]) last_q_[i] = q, last_t_[i] = std::exp(double(q));
        const double t = last_t_[i];
        sumc_[i] = static_cast<float>(sumc_[i] + t * std::cos(double(arg)));
        if constexpr (decltype(with_sines)::value)
          sums_[i] = static_cast<float>(sums_[i] + t * std::sin(double(arg)));
      }
    };
    if (centric)
      terms(std::false_type{});
    else
      terms(std::true_type{});
  }
  if (par_.ic == 1)
    for (float& c : sumc_) c *= 2.0f;
}

// F from the per-atom sums at s; `negated`: for -h, whose sine sums are those of h
// with the opposite sign.
StructureFactor StructureFactorCalculator::combine(std::span<const float> cos_sums,
                                                   std::span<const float> sin_sums, float s,
                                                   bool negated) {
  const std::size_t na = std::min({par_.atoms.size(), cos_sums.size(), sin_sums.size()});
  const bool acentric = par_.ic == 2;
  for (std::size_t f = 0; f < ff_.size(); ++f) {
    const AtomType& t = par_.types[f];
    float v = static_cast<float>(f0(t, s) + t.fp);
    ff_[f] = v < 0.0f ? 0.0f : v;
  }
  double re = 0, im = 0;
  for (std::size_t i = 0; i < na; ++i) {
    const Atom& a = par_.atoms[i];
    // Type number by truncation; an atom naming no type contributes nothing.
    const int t = type_number(a);
    if (t < 1 || t > static_cast<int>(ff_.size())) continue;
    const double ff = ff_[static_cast<std::size_t>(t - 1)];
    const double fpp = par_.types[static_cast<std::size_t>(t - 1)].fpp;
    const double A = cos_sums[i], B = negated ? -sin_sums[i] : sin_sums[i], w = a.afact;
    if (acentric) {
      re += w * (ff * A - fpp * B);
      im += w * (ff * B + fpp * A);
    } else {
      re += w * A * ff;
      im += w * A * fpp;
    }
  }
  return structure_factor_from_parts(static_cast<float>(re), static_cast<float>(im));
}

StructureFactor StructureFactorCalculator::operator()(int h, int k, int l, float s) {
  if (s > 6.0f) return {};
  sum_over_operators(h, k, l);
  return combine(sumc_, sums_, s, false);
}

StructureFactorPair StructureFactorCalculator::pair(int h, int k, int l, float s) {
  if (s > 6.0f) return {};
  sum_over_operators(h, k, l);
  return {combine(sumc_, sums_, s, false), combine(sumc_, sums_, s, true)};
}

void StructureFactorCalculator::atom_sums(int h, int k, int l, std::span<float> cos_sums,
                                          std::span<float> sin_sums) {
  sum_over_operators(h, k, l);
  std::copy_n(sumc_.begin(), std::min(cos_sums.size(), sumc_.size()), cos_sums.begin());
  std::copy_n(sums_.begin(), std::min(sin_sums.size(), sums_.size()), sin_sums.begin());
}

StructureFactor StructureFactorCalculator::from_atom_sums(std::span<const float> cos_sums,
                                                          std::span<const float> sin_sums, float s,
                                                          bool negated) {
  if (s > 6.0f) return {};
  return combine(cos_sums, sin_sums, s, negated);
}

StructureFactor fcalc1(const RunParameters& par, int h, int k, int l, float s) {
  try {
    StructureFactorCalculator calc(par);
    return calc(h, k, l, s);
  } catch (const std::bad_alloc&) {
    stop_run({"", "", " Dynamical array allocation failed", " Number of atoms is to large",
              " Please contact the author of KAVEN-xx!"});
  }
}

}  // namespace kaven
