#include "scattering/structure_factor_rows.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/constants.hpp"
#include "scattering/element_table.hpp"

namespace kaven {
namespace {

constexpr int kLanes = 4;
constexpr int kRun = StructureFactorRows::kRun;

// Four lanes of doubles (GCC vector extension; plain SSE2 pairs on a baseline x86-64,
// one AVX register where the kernel is built for it). Loaded and stored unaligned.
typedef double Lanes __attribute__((vector_size(kLanes * sizeof(double))));

inline void load(Lanes& v, const double* p) { std::memcpy(&v, p, sizeof v); }

// The per-atom sums of one type over its blocks of four pairs, for the kRun
// reflections of the row: sum_c[j] = sum w T cos, sum_s[j] = sum w T sin. The lanes
// are added in a fixed order, so the result does not depend on the machine.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void accumulate_type(int blocks, const double* e_re, const double* e_im, const double* t,
                     const double* w_step, const double* step_re, const double* step_im,
                     const double* growth, const double* weight, double* sum_c, double* sum_s) {
  Lanes acc_c[kRun], acc_s[kRun];
  for (int j = 0; j < kRun; ++j) acc_c[j] = acc_s[j] = Lanes{};
  for (int b = 0; b < blocks; ++b) {
    const int o = b * kLanes;
    Lanes er, ei, tt, ww, dr, di, g, wt;
    load(er, e_re + o), load(ei, e_im + o), load(tt, t + o), load(ww, w_step + o);
    load(dr, step_re + o), load(di, step_im + o), load(g, growth + o), load(wt, weight + o);
    for (int j = 0; j < kRun; ++j) {
      const Lanes a = wt * tt;
      acc_c[j] += a * er;
      acc_s[j] += a * ei;
      const Lanes nr = er * dr - ei * di;
      ei = er * di + ei * dr;
      er = nr;
      tt *= ww;
      ww *= g;
    }
  }
  for (int j = 0; j < kRun; ++j) {
    sum_c[j] = (acc_c[j][0] + acc_c[j][1]) + (acc_c[j][2] + acc_c[j][3]);
    sum_s[j] = (acc_s[j][0] + acc_s[j][1]) + (acc_s[j][2] + acc_s[j][3]);
  }
}

}  // namespace

StructureFactorRows::StructureFactorRows(const RunParameters& par) : par_(par) {
  n_types_ = static_cast<int>(par.types.size());
  const int n_ops = std::min<int>(par.ns, static_cast<int>(par.ops.size()));
  const double two_pi = double(kTwoPiArgument);
  int block = 0;
  for (int type = 1; type <= n_types_; ++type) {
    type_first_block_.push_back(block);
    int pairs = 0;
    auto add = [&](int op, const Atom* a) {
      ++pairs;
      op_of_.push_back(op);
      x_.push_back(a ? a->x : 0.0);
      y_.push_back(a ? a->y : 0.0);
      z_.push_back(a ? a->z : 0.0);
      w_.push_back(a ? a->afact : 0.0);
      for (int m = 0; m < 6; ++m) b_[m].push_back(a ? a->bt[m] : 0.0);
    };
    for (int n = 0; n < n_ops; ++n)
      for (const Atom& a : par.atoms)
        if (type_number(a) == type) add(n, &a);
    while (pairs % kLanes != 0) add(0, nullptr);  // weight 0
    type_blocks_.push_back(pairs / kLanes);
    block += pairs / kLanes;
  }
  const std::size_t n_pairs = op_of_.size();
  step_re_.resize(n_pairs);
  step_im_.resize(n_pairs);
  growth_.resize(n_pairs);
  for (auto& v : bv_) v.resize(n_pairs);
  vbv_.resize(n_pairs);
  for (std::size_t p = 0; p < n_pairs; ++p) {
    const SymmetryOperator& op = par.ops[static_cast<std::size_t>(op_of_[p])];
    const double v[3] = {op.s[2][0], op.s[2][1], op.s[2][2]};  // h' steps by the third row
    const double arg = two_pi * (v[0] * x_[p] + v[1] * y_[p] + v[2] * z_[p] + double(op.t[2]));
    step_re_[p] = std::cos(arg);
    step_im_[p] = std::sin(arg);
    // B as a symmetric matrix: beta11 beta22 beta33 on the diagonal, beta12 beta13 beta23 off it.
    const double B[3][3] = {{b_[0][p], b_[3][p], b_[4][p]},
                            {b_[3][p], b_[1][p], b_[5][p]},
                            {b_[4][p], b_[5][p], b_[2][p]}};
    double vbv = 0;
    for (int i = 0; i < 3; ++i) {
      bv_[i][p] = B[i][0] * v[0] + B[i][1] * v[1] + B[i][2] * v[2];
      vbv += v[i] * bv_[i][p];
    }
    vbv_[p] = vbv;
    growth_[p] = std::exp(-2 * vbv);
  }
  e_re_.resize(n_pairs);
  e_im_.resize(n_pairs);
  t_.resize(n_pairs);
  w_step_.resize(n_pairs);
  sum_c_.resize(static_cast<std::size_t>(n_types_) * kRun);
  sum_s_.resize(static_cast<std::size_t>(n_types_) * kRun);
  ff_.resize(static_cast<std::size_t>(n_types_));
}

void StructureFactorRows::evaluate(int h, int k, int l0, const float* s, StructureFactorPair* out) {
  const int n_ops = std::min<int>(par_.ns, static_cast<int>(par_.ops.size()));
  // Transformed indices and translation term of each operator at l0.
  struct Start {
    double u[3];
    double td;
  };
  Start starts[64];
  std::vector<Start> more;
  Start* st = starts;
  if (n_ops > 64) {
    more.resize(static_cast<std::size_t>(n_ops));
    st = more.data();
  }
  for (int n = 0; n < n_ops; ++n) {
    const SymmetryOperator& op = par_.ops[static_cast<std::size_t>(n)];
    for (int j = 0; j < 3; ++j)
      st[n].u[j] = double(op.s[0][j]) * h + double(op.s[1][j]) * k + double(op.s[2][j]) * l0;
    st[n].td = double(h) * op.t[0] + double(k) * op.t[1] + double(l0) * op.t[2];
  }
  const double two_pi = double(kTwoPiArgument);
  const std::size_t n_pairs = op_of_.size();
  for (std::size_t p = 0; p < n_pairs; ++p) {
    const Start& a = st[op_of_[p]];
    const double arg = two_pi * (a.u[0] * x_[p] + a.u[1] * y_[p] + a.u[2] * z_[p] + a.td);
    e_re_[p] = std::cos(arg);
    e_im_[p] = std::sin(arg);
    // q(l0 + j) = -(u B u + 2 j u B v + j^2 v B v)
    const double ubu = a.u[0] * a.u[0] * b_[0][p] + a.u[1] * a.u[1] * b_[1][p] +
                       a.u[2] * a.u[2] * b_[2][p] +
                       2 * (a.u[0] * a.u[1] * b_[3][p] + a.u[0] * a.u[2] * b_[4][p] +
                            a.u[1] * a.u[2] * b_[5][p]);
    const double ubv = a.u[0] * bv_[0][p] + a.u[1] * bv_[1][p] + a.u[2] * bv_[2][p];
    t_[p] = std::exp(-ubu);
    w_step_[p] = std::exp(-(2 * ubv + vbv_[p]));
  }
  for (int type = 0; type < n_types_; ++type) {
    const std::size_t o = static_cast<std::size_t>(type_first_block_[type]) * kLanes;
    accumulate_type(type_blocks_[type], &e_re_[o], &e_im_[o], &t_[o], &w_step_[o], &step_re_[o],
                    &step_im_[o], &growth_[o], &w_[o], &sum_c_[type * std::size_t(kRun)],
                    &sum_s_[type * std::size_t(kRun)]);
  }
  const bool acentric = par_.ic == 2;
  for (int j = 0; j < kRun; ++j) {
    if (s[j] > 6.0f) {
      out[j] = {};
      continue;
    }
    double re = 0, im = 0, re_m = 0, im_m = 0;
    for (int type = 0; type < n_types_; ++type) {
      const AtomType& t = par_.types[static_cast<std::size_t>(type)];
      const float v = static_cast<float>(f0(t, s[j]) + t.fp);
      const double ff = v < 0.0f ? 0.0f : v;
      const double fpp = t.fpp;
      const double A = sum_c_[type * std::size_t(kRun) + std::size_t(j)];
      const double B = sum_s_[type * std::size_t(kRun) + std::size_t(j)];
      if (acentric) {
        re += ff * A - fpp * B;
        im += ff * B + fpp * A;
        re_m += ff * A + fpp * B;
        im_m += fpp * A - ff * B;
      } else {
        // the inversion pairs each term with its conjugate: twice the cosine sums
        re += 2 * A * ff;
        im += 2 * A * fpp;
      }
    }
    if (!acentric) re_m = re, im_m = im;
    out[j].plus = structure_factor_from_parts(static_cast<float>(re), static_cast<float>(im));
    out[j].minus = structure_factor_from_parts(static_cast<float>(re_m), static_cast<float>(im_m));
  }
}

}  // namespace kaven
