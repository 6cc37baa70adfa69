// Space groups as full sets of exact operators, for comparing the setting of a structure
// with the table and for writing its operators explicitly.
//
// A run stores a reduced operator set: no centring translations (the atoms are copied
// instead) and, when the inversion through the origin belongs to the group, only one
// operator of each pair g, -g (the structure-factor sum doubles the cosine part). Here
// the whole group is held in integers: rotations of -1, 0, 1 and translations in 24ths
// of the cell edges, reduced to 0..23, so that two settings compare exactly.
#pragma once
#include <array>
#include <compare>
#include <set>
#include <string>
#include <vector>

#include "input/run_parameters.hpp"

namespace kaven {

inline constexpr int kTranslationDenominator = 24;

struct ExactOperator {
  std::array<int, 9> rot{1, 0, 0, 0, 1, 0, 0, 0, 1};  // row by row
  std::array<int, 3> tran{0, 0, 0};                   // 24ths, 0..23
  auto operator<=>(const ExactOperator&) const = default;

  bool is_pure_translation() const { return rot == std::array<int, 9>{1, 0, 0, 0, 1, 0, 0, 0, 1}; }
  bool is_inversion_at_origin() const {
    return rot == std::array<int, 9>{-1, 0, 0, 0, -1, 0, 0, 0, -1} && tran == std::array<int, 3>{};
  }
};

// a * b: first b, then a.
ExactOperator compose(const ExactOperator& a, const ExactOperator& b);
// The inversion through the origin applied after g: (-R, -t).
ExactOperator inverted(const ExactOperator& g);
// Translations reduced to 0..23.
std::array<int, 3> wrap_translation(const std::array<int, 3>& t);

using FullGroup = std::set<ExactOperator>;

// The closure of the operators under composition, or an empty set when it grows beyond
// `limit` elements (operators that are no crystallographic group).
FullGroup close_group(const std::vector<ExactOperator>& ops, std::size_t limit = 192);

// The whole group of table entry nr (1..230): its stored operators, their inverses
// through the origin for a centrosymmetric entry, each with every centring translation
// of the name's lattice letter.
FullGroup table_full_group(int nr);

// The table entry whose whole group equals `group`, or 0.
int find_table_setting(const FullGroup& group);

// The operator set of an input with explicit operators (nr > 230) for a group in a
// setting the table does not hold. ic = 1 only when the inversion through the origin
// belongs to the group; then one operator of each pair g, -g is kept. The centring
// translations are kept in the operators when the set stays within `max_ops`;
// otherwise they are left out and returned in `atom_copies`: every atom must then be
// written once per centring translation as well (a run copies atoms by the lattice
// letter only, and explicit operators have the letter P).
struct ExplicitOperators {
  int ic = 2;
  std::vector<SymmetryOperator> ops;
  std::vector<std::array<int, 3>> atom_copies;  // non-zero centring translations (24ths)
};

// `ordered` holds every element of the group once, in the order the operators should
// be written (the identity first). Returns ops.size() > max_ops when even the set
// without centring is too large.
ExplicitOperators explicit_operators(const std::vector<ExactOperator>& ordered,
                                     std::size_t max_ops = 24);

// The centring translations of a group (the pure translations other than zero).
std::vector<std::array<int, 3>> centring_translations(const FullGroup& group);

// The checks of an operator set given explicitly in an input (ic = 1: the inversion
// through the origin doubles each operator, so the set stands for itself and its
// inverses). A symmetry operation of a lattice has a rotation of whole numbers with
// determinant +1 or -1; a space group's set holds the identity, each operation once
// (with ic = 1 not both g and -g), and the product of any two of its operations (with
// translations taken modulo the lattice). Each failure is one message naming the
// operators by their place in the set (1 = the first line); a set can be intended
// (a subgroup for a test, say), so these are warnings. A rotation that is all zero maps
// every reflection onto 0 0 0: no structure factor means anything with it, and
// `zero_rotation` names the first such operator (0: none).
struct OperatorSetCheck {
  std::vector<std::string> warnings;
  int zero_rotation = 0;
};
OperatorSetCheck check_operator_set(const std::vector<SymmetryOperator>& ops, int ic);

}  // namespace kaven
