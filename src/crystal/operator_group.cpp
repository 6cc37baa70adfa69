#include "crystal/operator_group.hpp"

#include <algorithm>
#include <cmath>

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

}  // namespace kaven
