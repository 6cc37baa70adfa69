#include "crystal/operator_group.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "crystal/centring.hpp"
#include "crystal/space_group.hpp"

namespace kaven {

namespace {

constexpr int kDen = kTranslationDenominator;

int wrap(int v) { return ((v % kDen) + kDen) % kDen; }

// Rotation entries of a symmetry operation in any cell setting a structure is given in
// stay small; the bound keeps products of two such matrices far inside int.
bool bounded(const ExactOperator& g) {
  return std::all_of(g.rot.begin(), g.rot.end(), [](int v) { return std::abs(v) <= 12; });
}

// The centring translations of the lattice letter in 24ths (halves are exact in float).
std::vector<std::array<int, 3>> lattice_centring(char letter) {
  std::vector<std::array<int, 3>> out;
  for (const std::array<float, 3>& t : centring_shifts(letter))
    out.push_back({static_cast<int>(t[0] * 24), static_cast<int>(t[1] * 24),
                   static_cast<int>(t[2] * 24)});
  return out;
}

SymmetryOperator to_symmetry_operator(const ExactOperator& g) {
  SymmetryOperator op;
  for (int j = 0; j < 3; ++j) {
    for (int k = 0; k < 3; ++k) op.s[j][k] = static_cast<float>(g.rot[3 * j + k]);
    op.t[j] = static_cast<float>(g.tran[j]) / static_cast<float>(kDen);
  }
  return op;
}

}  // namespace

std::array<int, 3> wrap_translation(const std::array<int, 3>& t) {
  return {wrap(t[0]), wrap(t[1]), wrap(t[2])};
}

ExactOperator compose(const ExactOperator& a, const ExactOperator& b) {
  // x -> Ra (Rb x + tb) + ta
  ExactOperator r;
  for (int i = 0; i < 3; ++i) {
    int t = a.tran[i];
    for (int k = 0; k < 3; ++k) {
      int v = 0;
      for (int m = 0; m < 3; ++m) v += a.rot[3 * i + m] * b.rot[3 * m + k];
      r.rot[3 * i + k] = v;
      t += a.rot[3 * i + k] * b.tran[k];
    }
    r.tran[i] = wrap(t);
  }
  return r;
}

ExactOperator inverted(const ExactOperator& g) {
  ExactOperator r;
  for (int i = 0; i < 9; ++i) r.rot[i] = -g.rot[i];
  for (int i = 0; i < 3; ++i) r.tran[i] = wrap(-g.tran[i]);
  return r;
}

FullGroup close_group(const std::vector<ExactOperator>& ops, std::size_t limit) {
  FullGroup group{ExactOperator{}};
  // The group is closed under multiplication by its generators: each operator not yet in
  // it becomes one, and every element times every generator is taken until nothing new
  // appears (a few generators, so |G| times a few products instead of |G|^2).
  std::vector<ExactOperator> generators;
  for (ExactOperator g : ops) {
    if (!bounded(g)) return {};
    g.tran = wrap_translation(g.tran);
    if (group.contains(g)) continue;
    generators.push_back(g);
    std::vector<ExactOperator> pending(group.begin(), group.end());
    while (!pending.empty()) {
      const ExactOperator a = pending.back();
      pending.pop_back();
      for (const ExactOperator& b : generators) {
        const ExactOperator c = compose(a, b);
        if (!group.insert(c).second) continue;
        // A matrix entry beyond any lattice setting's belongs to an element of
        // infinite order (its powers grow without bound): no space group.
        if (group.size() > limit || !bounded(c)) return {};
        pending.push_back(c);
      }
    }
  }
  return group;
}

FullGroup table_full_group(int nr) {
  const SpaceGroupEntry& e = space_group_entry(nr);
  std::vector<std::array<int, 3>> shifts = lattice_centring(e.name[0]);
  shifts.insert(shifts.begin(), {0, 0, 0});
  FullGroup group;
  for (int i = 0; i < e.nops; ++i) {
    ExactOperator g;
    for (int v = 0; v < 9; ++v) g.rot[v] = static_cast<int>(std::lround(e.ops[i][v]));
    for (int j = 0; j < 3; ++j)
      g.tran[j] = wrap(static_cast<int>(std::lround(double(e.ops[i][9 + j]) * kDen)));
    for (const auto& s : shifts) {
      ExactOperator c = g;
      for (int j = 0; j < 3; ++j) c.tran[j] = wrap(c.tran[j] + s[j]);
      group.insert(c);
      if (e.code == 2) group.insert(inverted(c));
    }
  }
  return group;
}

int find_table_setting(const FullGroup& group) {
  for (int nr = 1; nr <= 230; ++nr)
    if (table_full_group(nr) == group) return nr;
  return 0;
}

std::vector<std::array<int, 3>> centring_translations(const FullGroup& group) {
  std::vector<std::array<int, 3>> t;
  for (const ExactOperator& g : group)
    if (g.is_pure_translation() && g.tran != std::array<int, 3>{}) t.push_back(g.tran);
  return t;
}

ExplicitOperators explicit_operators(const std::vector<ExactOperator>& ordered,
                                     std::size_t max_ops) {
  ExplicitOperators r;
  const bool centric = std::any_of(ordered.begin(), ordered.end(),
                                   [](const ExactOperator& g) { return g.is_inversion_at_origin(); });
  r.ic = centric ? 1 : 2;
  const FullGroup group(ordered.begin(), ordered.end());
  const std::vector<std::array<int, 3>> centring = centring_translations(group);

  // Keeps the first operator of each class: a kept operator stands for its inverse
  // through the origin (centric) and, unless the centring stays in the operators, for
  // its centring partners.
  auto representatives = [&](bool centring_in_operators) {
    std::vector<ExactOperator> kept;
    std::set<ExactOperator> covered;
    for (const ExactOperator& g : ordered) {
      if (covered.count(g)) continue;
      kept.push_back(g);
      std::vector<ExactOperator> partners{g};
      if (!centring_in_operators)
        for (const auto& t : centring) {
          ExactOperator c = g;
          for (int j = 0; j < 3; ++j) c.tran[j] = wrap(c.tran[j] + t[j]);
          partners.push_back(c);
        }
      for (const ExactOperator& p : partners) {
        covered.insert(p);
        if (centric) covered.insert(inverted(p));
      }
    }
    return kept;
  };

  std::vector<ExactOperator> kept = representatives(true);
  if (kept.size() > max_ops && !centring.empty()) {
    kept = representatives(false);
    r.atom_copies = centring;
  }
  for (const ExactOperator& g : kept) r.ops.push_back(to_symmetry_operator(g));
  return r;
}

namespace {

// An operator in double, translation reduced to 0..1, for comparing sets read from a
// file (entries that should be whole numbers or fractions with small denominators).
struct RealOperator {
  std::array<double, 9> rot{};
  std::array<double, 3> tran{};
};

constexpr double kOperatorTolerance = 1e-4;

double reduced(double t) { return t - std::floor(t); }

RealOperator real_operator(const SymmetryOperator& op, bool negate) {
  RealOperator r;
  const double sign = negate ? -1.0 : 1.0;
  for (int j = 0; j < 3; ++j) {
    for (int k = 0; k < 3; ++k) r.rot[3 * j + k] = sign * op.s[j][k];
    r.tran[j] = reduced(sign * op.t[j]);
  }
  return r;
}

bool same_operation(const RealOperator& a, const RealOperator& b) {
  for (int i = 0; i < 9; ++i)
    if (std::fabs(a.rot[i] - b.rot[i]) > kOperatorTolerance) return false;
  for (int j = 0; j < 3; ++j) {
    const double d = std::fabs(a.tran[j] - b.tran[j]);
    if (std::min(d, 1.0 - d) > kOperatorTolerance) return false;  // modulo a lattice vector
  }
  return true;
}

RealOperator product(const RealOperator& a, const RealOperator& b) {
  // x -> Ra (Rb x + tb) + ta
  RealOperator r;
  for (int i = 0; i < 3; ++i) {
    double t = a.tran[i];
    for (int k = 0; k < 3; ++k) {
      double v = 0;
      for (int m = 0; m < 3; ++m) v += a.rot[3 * i + m] * b.rot[3 * m + k];
      r.rot[3 * i + k] = v;
      t += a.rot[3 * i + k] * b.tran[k];
    }
    r.tran[i] = reduced(t);
  }
  return r;
}

double determinant(const RealOperator& g) {
  const auto& r = g.rot;
  return r[0] * (r[4] * r[8] - r[5] * r[7]) - r[1] * (r[3] * r[8] - r[5] * r[6]) +
         r[2] * (r[3] * r[7] - r[4] * r[6]);
}

std::string number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

std::string operator_name(std::size_t i) { return "symmetry operator " + std::to_string(i + 1); }

}  // namespace

OperatorSetCheck check_operator_set(const std::vector<SymmetryOperator>& ops, int ic) {
  OperatorSetCheck check;
  std::vector<RealOperator> set;
  bool lattice_operations = true;  // whole-number rotations of determinant +-1
  for (std::size_t i = 0; i < ops.size(); ++i) {
    const RealOperator g = real_operator(ops[i], false);
    set.push_back(g);
    if (std::all_of(g.rot.begin(), g.rot.end(), [](double v) { return v == 0; })) {
      if (check.zero_rotation == 0) check.zero_rotation = static_cast<int>(i + 1);
      lattice_operations = false;
      continue;
    }
    for (double v : g.rot)
      if (!std::isfinite(v) || std::fabs(v - std::round(v)) > kOperatorTolerance) {
        check.warnings.push_back(operator_name(i) + ": the rotation entry " + number(v) +
                                 " is not a whole number");
        lattice_operations = false;
        break;
      }
    const double det = determinant(g);
    if (!(std::fabs(std::fabs(det) - 1.0) <= kOperatorTolerance)) {
      check.warnings.push_back(operator_name(i) + ": the determinant of its rotation is " +
                               number(det) + ", not +1 or -1");
      lattice_operations = false;
    }
  }
  const RealOperator identity = real_operator(SymmetryOperator{}, false);
  if (std::none_of(set.begin(), set.end(),
                   [&](const RealOperator& g) { return same_operation(g, identity); }))
    check.warnings.push_back("the identity x, y, z is not among the symmetry operators");
  bool repeated = false;
  for (std::size_t i = 0; i < set.size(); ++i)
    for (std::size_t j = i + 1; j < set.size(); ++j) {
      if (same_operation(set[i], set[j])) {
        check.warnings.push_back(operator_name(j) + " repeats " + operator_name(i) +
                                 ": its atoms are counted twice");
        repeated = true;
      } else if (ic == 1 && same_operation(set[j], real_operator(ops[i], true))) {
        check.warnings.push_back(operator_name(j) + " is " + operator_name(i) +
                                 " times the inversion, which ic = 1 adds already: its atoms are "
                                 "counted twice");
        repeated = true;
      }
    }
  // Closure, for a set of lattice operations each given once: with ic = 1 the set and
  // its inverses through the origin.
  if (!lattice_operations || repeated) return check;
  std::vector<RealOperator> group = set;
  if (ic == 1)
    for (const SymmetryOperator& op : ops) group.push_back(real_operator(op, true));
  for (std::size_t i = 0; i < group.size(); ++i)
    for (std::size_t j = 0; j < group.size(); ++j) {
      const RealOperator c = product(group[i], group[j]);
      if (std::none_of(group.begin(), group.end(),
                       [&](const RealOperator& g) { return same_operation(g, c); })) {
        const auto name = [&](std::size_t k) {
          return k < set.size() ? operator_name(k)
                                : operator_name(k - set.size()) + " times the inversion";
        };
        check.warnings.push_back("the symmetry operators do not form a group: " + name(j) +
                                 " followed by " + name(i) + " is none of them");
        return check;
      }
    }
  return check;
}

}  // namespace kaven
