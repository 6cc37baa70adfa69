#include "crystal/reflection_symmetry.hpp"

#include <algorithm>
#include <cmath>

#include "crystal/centring.hpp"

namespace kaven {
namespace {

using IndexOperator = ReflectionSymmetry::IndexOperator;

// Translations agree modulo the lattice when they differ by integers to within this
// (the table stores 1/3 as a float).
constexpr double kTranslationTolerance = 1e-4;

bool same_modulo_lattice(const double a[3], const double b[3]) {
  for (int j = 0; j < 3; ++j) {
    const double d = a[j] - b[j];
    if (std::fabs(d - std::round(d)) > kTranslationTolerance) return false;
  }
  return true;
}

bool same_rotation(const IndexOperator& a, const IndexOperator& b) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      if (a.r[i][j] != b.r[i][j]) return false;
  return true;
}

// x -> Ra (Rb x + tb) + ta
IndexOperator compose(const IndexOperator& a, const IndexOperator& b) {
  IndexOperator c{};
  for (int i = 0; i < 3; ++i) {
    c.t[i] = a.t[i];
    for (int j = 0; j < 3; ++j) {
      int v = 0;
      for (int m = 0; m < 3; ++m) v += a.r[i][m] * b.r[m][j];
      c.r[i][j] = v;
      c.t[i] += a.r[i][j] * b.t[j];
    }
  }
  return c;
}

// The centring translations the atom list really carries: the copies bravai appends,
// each atom shifted exactly as it does. Without them (a list built otherwise) none.
std::vector<std::array<double, 3>> carried_centring(const RunParameters& par) {
  const std::vector<std::array<float, 3>> shifts =
      centring_shifts(par.space_group.empty() ? ' ' : par.space_group[0]);
  const std::size_t copies = shifts.size() + 1, na = par.atoms.size();
  if (shifts.empty() || na % copies != 0) return {};
  const std::size_t n0 = na / copies;
  for (std::size_t m = 0; m < shifts.size(); ++m)
    for (std::size_t i = 0; i < n0; ++i) {
      const Atom& a = par.atoms[i];
      const Atom& b = par.atoms[(m + 1) * n0 + i];
      if (b.x != a.x + shifts[m][0] || b.y != a.y + shifts[m][1] || b.z != a.z + shifts[m][2] ||
          b.fnr != a.fnr || b.afact != a.afact || !std::equal(a.bt, a.bt + 6, b.bt))
        return {};
    }
  std::vector<std::array<double, 3>> out;
  for (const auto& s : shifts) out.push_back({s[0], s[1], s[2]});
  return out;
}

// The operators with their inverses through the origin (ic = 1) form a group modulo
// the lattice and the carried centring translations, each element once, every
// rotation keeping the metric. Then F(h R) = exp(-2 pi i h.t) F(h) holds for each.
bool is_group(const std::vector<IndexOperator>& ops, const RunParameters& par,
              const std::vector<std::array<double, 3>>& centring) {
  std::vector<std::array<double, 3>> translations{{0, 0, 0}};
  translations.insert(translations.end(), centring.begin(), centring.end());
  // a and b equal modulo the lattice and the centring
  auto equivalent = [&](const IndexOperator& a, const IndexOperator& b) {
    if (!same_rotation(a, b)) return false;
    for (const auto& c : translations) {
      const double shifted[3] = {b.t[0] + c[0], b.t[1] + c[1], b.t[2] + c[2]};
      if (same_modulo_lattice(a.t, shifted)) return true;
    }
    return false;
  };
  for (std::size_t i = 0; i < ops.size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (equivalent(ops[i], ops[j])) return false;
  for (const IndexOperator& a : ops)
    for (const IndexOperator& b : ops) {
      const IndexOperator c = compose(a, b);
      if (std::none_of(ops.begin(), ops.end(), [&](const IndexOperator& d) { return equivalent(c, d); }))
        return false;
    }
  // The centring translations carried into themselves by every rotation.
  for (const IndexOperator& a : ops)
    for (const auto& c : centring) {
      double rc[3];
      for (int i = 0; i < 3; ++i) rc[i] = a.r[i][0] * c[0] + a.r[i][1] * c[1] + a.r[i][2] * c[2];
      if (std::none_of(translations.begin(), translations.end(),
                       [&](const std::array<double, 3>& d) { return same_modulo_lattice(rc, d.data()); }))
        return false;
    }
  // |h R| = |h| for every h: R G* R^T = G*, to within what a metric formed in single
  // precision from the cell holds (a cubic cell's G* has off-diagonal terms of a few
  // 1e-9 from cos 90 degrees in single precision).
  const ReciprocalMetric& m = par.gstar;
  const double g[3][3] = {{m.g11, m.g12, m.g13}, {m.g12, m.g22, m.g23}, {m.g13, m.g23, m.g33}};
  const double scale = std::max({std::fabs(g[0][0]), std::fabs(g[1][1]), std::fabs(g[2][2])});
  if (!(scale > 0)) return false;
  for (const IndexOperator& a : ops)
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        double v = 0;
        for (int p = 0; p < 3; ++p)
          for (int q = 0; q < 3; ++q) v += a.r[i][p] * g[p][q] * a.r[j][q];
        if (std::fabs(v - g[i][j]) > 1e-5 * scale) return false;
      }
  return true;
}

bool is_identity(const IndexOperator& op) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      if (op.r[i][j] != (i == j ? 1 : 0)) return false;
  return same_modulo_lattice(op.t, std::array<double, 3>{0, 0, 0}.data());
}

// g = h R: g_j = sum_i h_i R_ij.
Miller times(const Miller& h, const IndexOperator& op) {
  Miller g;
  for (int j = 0; j < 3; ++j) g[j] = h[0] * op.r[0][j] + h[1] * op.r[1][j] + h[2] * op.r[2][j];
  return g;
}

// Order of the representatives: l first, then k, then h.
bool key_less(const Miller& a, const Miller& b) {
  if (a[2] != b[2]) return a[2] < b[2];
  if (a[1] != b[1]) return a[1] < b[1];
  return a[0] < b[0];
}

Miller negated(const Miller& h) { return {-h[0], -h[1], -h[2]}; }

}  // namespace

ReflectionSymmetry::ReflectionSymmetry(const RunParameters& par) {
  const std::size_t n_ops = std::min<std::size_t>(static_cast<std::size_t>(std::max(par.ns, 0)), par.ops.size());
  std::vector<IndexOperator> ops;
  integral_ = true;
  for (std::size_t n = 0; n < n_ops; ++n) {
    const SymmetryOperator& s = par.ops[n];
    IndexOperator op{};
    for (int i = 0; i < 3; ++i) {
      op.t[i] = s.t[i];
      for (int j = 0; j < 3; ++j) {
        const float v = s.s[i][j];
        if (!(std::fabs(v) <= 1000) || v != std::round(v)) integral_ = false;
        op.r[i][j] = integral_ ? static_cast<int>(v) : 0;
      }
    }
    ops.push_back(op);
  }
  if (!integral_ || ops.empty()) return;
  if (par.ic == 1) {
    const std::size_t n = ops.size();
    for (std::size_t i = 0; i < n; ++i) {
      IndexOperator inv = ops[i];
      for (int r = 0; r < 3; ++r) {
        inv.t[r] = -inv.t[r];
        for (int c = 0; c < 3; ++c) inv.r[r][c] = -inv.r[r][c];
      }
      ops.push_back(inv);
    }
  }
  std::vector<std::array<double, 3>> centring = carried_centring(par);
  if (!is_group(ops, par, centring)) return;
  centring_ = std::move(centring);
  // The identity first, so that a representative is its own first member.
  const auto id = std::find_if(ops.begin(), ops.end(), is_identity);
  if (id == ops.end()) return;
  std::rotate(ops.begin(), id, id + 1);
  group_ = std::move(ops);
  for (const IndexOperator& op : group_) {
    bool minus_identity = true;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        if (op.r[i][j] != (i == j ? -1 : 0)) minus_identity = false;
    if (minus_identity) has_inversion_ = true;
  }
}

Miller ReflectionSymmetry::representative(const Miller& h) const {
  Miller best = h;
  const Miller minus = negated(h);
  if (key_less(best, minus)) best = minus;
  for (const IndexOperator& op : group_) {
    const Miller g = times(h, op);
    if (key_less(best, g)) best = g;
    if (!has_inversion_) {
      const Miller m = negated(g);
      if (key_less(best, m)) best = m;
    }
  }
  return best;
}

void ReflectionSymmetry::members(const Miller& rep, std::vector<Member>& out) const {
  out.clear();
  auto shift = [](const Miller& h, const double t[3]) {
    // F(h R) = exp(-2 pi i h.t) F(h)
    const double v = -(h[0] * t[0] + h[1] * t[1] + h[2] * t[2]);
    return v - std::floor(v);
  };
  for (int sign : {1, -1}) {
    if (sign < 0 && has_inversion_) break;  // -rep is already a member of rep's orbit
    const Miller h = sign > 0 ? rep : negated(rep);
    if (group_.empty()) {
      out.push_back({h, sign, 0.0});
      continue;
    }
    for (const IndexOperator& op : group_) out.push_back({times(h, op), sign, shift(h, op.t)});
  }
}

bool ReflectionSymmetry::absent(const Miller& h) const {
  auto integral = [](double v) { return std::fabs(v - std::round(v)) <= kTranslationTolerance * 100; };
  // a centring translation c: the copies add exp(2 pi i h.c) = -1 or a cube root of 1
  for (const auto& c : centring_)
    if (!integral(h[0] * c[0] + h[1] * c[1] + h[2] * c[2])) return true;
  // an operator that keeps h: F(h) = exp(-2 pi i h.t) F(h)
  for (const IndexOperator& op : group_)
    if (times(h, op) == h && !integral(h[0] * op.t[0] + h[1] * op.t[1] + h[2] * op.t[2])) return true;
  return false;
}

}  // namespace kaven
