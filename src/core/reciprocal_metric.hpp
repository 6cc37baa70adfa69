// The reciprocal metric tensor G* of a cell, in Å^-2.
//
// For index triples x and y (components along a*, b*, c*) the scalar product is
// x^T G* y, so |x|^2 = x^T G* x is the squared length of the reciprocal vector and
// q = G* h the covariant components of h: the projection of x on h is x . q / |h|.
// G* is symmetric, so six elements hold it. Stored in single precision like every
// value of the run record; the products are formed in double.
#pragma once
#include <array>

namespace kaven {

struct ReciprocalMetric {
  float g11 = 0, g22 = 0, g33 = 0;  // a*^2, b*^2, c*^2
  float g12 = 0, g13 = 0, g23 = 0;  // a* b* cos gamma*, a* c* cos beta*, b* c* cos alpha*

  // q = G* x.
  std::array<double, 3> times(double x1, double x2, double x3) const {
    return {g11 * x1 + g12 * x2 + g13 * x3, g12 * x1 + g22 * x2 + g23 * x3,
            g13 * x1 + g23 * x2 + g33 * x3};
  }
  // |x|^2 = x^T G* x: the diagonal terms, then the cross terms doubled.
  double length_sq(double x1, double x2, double x3) const {
    return g11 * x1 * x1 + g22 * x2 * x2 + g33 * x3 * x3 +
           2 * (g12 * x1 * x2 + g13 * x1 * x3 + g23 * x2 * x3);
  }
};

}  // namespace kaven
