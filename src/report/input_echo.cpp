#include "report/input_echo.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "crystal/geometry.hpp"
#include "crystal/space_group.hpp"
#include "report/record_format.hpp"

namespace kaven {
namespace {

// The 2-character term of coefficient c of coordinate axis ('x', 'y' or 'z').
std::string coefficient_term(float c, char axis) {
  if (c == 0) return "  ";
  return std::string(1, c > 0 ? '+' : '-') + axis;
}

// One operator as the listing prints it: per row the translation field and three
// terms, rows separated by commas ("1/2+x    ,   -y    ,      +z").
std::string operator_text(const SymmetryOperator& op) {
  static constexpr char axes[3] = {'x', 'y', 'z'};
  std::string s;
  for (int j = 0; j < 3; ++j) {
    if (j > 0) s += ',';
    s += snap_translation(op.t[j]).text;
    for (int k = 0; k < 3; ++k) s += coefficient_term(op.s[j][k], axes[k]);
  }
  return s;
}

}  // namespace

void list_title(Listing& out, std::string_view title) {
  out.blank(2);
  out.record(" " + std::string(title));
  out.blank();
}

void list_space_group(Listing& out, const RunParameters& par, int nr) {
  using namespace rec;
  out.record(" Space-group-Nr.   : " + I(3, nr) + X(5) +
             (par.ic == 1 ? " Centrosymmetric     Space-group: "
                          : " Non-Centrosymmetric Space-group: ") +
             par.space_group);
  out.record(I(3, par.ns) + " symmetry operators:");
  // Four operators to a line, each closed by ";" and two blanks except the last.
  const int n = static_cast<int>(par.ops.size());
  std::string line;
  for (int i = 0; i < n; ++i) {
    if (i % 4 == 0) line = " ";
    line += operator_text(par.ops[static_cast<std::size_t>(i)]);
    if (i + 1 < n) line += ";  ";
    if (i % 4 == 3 || i + 1 == n) out.record(line);
  }
}

void list_explicit_operators(Listing& out, const RunParameters& par) {
  using namespace rec;
  out.record(I(4, par.ns) + " symmetry lines:");
  const std::size_t n = std::min<std::size_t>(std::max(par.ns, 0), par.ops.size());
  for (std::size_t i = 0; i < n; ++i) {
    const SymmetryOperator& op = par.ops[i];
    std::string line;
    for (int j = 0; j < 3; ++j) {
      line += X(3) + F(6, 3, op.t[j]);
      for (int k = 0; k < 3; ++k) line += F(4, 0, op.s[j][k]);
    }
    out.record(line);
  }
}

void list_orientation_matrix(Listing& out, const std::array<float, 9>& ub) {
  using namespace rec;
  out.blank();
  out.record(" UB-matrix:");
  for (int r = 0; r < 3; ++r)
    out.record(F(12, 6, ub[3 * r]) + F(12, 6, ub[3 * r + 1]) + F(12, 6, ub[3 * r + 2]));
  const std::array<double, 6> c = ub_reciprocal_constants(ub);
  out.blank();
  out.record(" Reciprocal lattice constants calculated from the UB-matrix");
  out.record(F(10, 4, float(c[0])) + F(10, 4, float(c[1])) + F(10, 4, float(c[2])) + X(2) +
             F(10, 2, float(c[3])) + F(10, 2, float(c[4])) + F(10, 2, float(c[5])));
}

}  // namespace kaven
