// The fixed single-precision constants stand for the quantities their names say: each
// decimal against the value computed in double, to the digits it is written with. A
// digit mistyped in the header shows here; the listings would show it only as a slightly
// different number somewhere.
#include "core/constants.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

using namespace kaven;

TEST(Constants, DecimalsStandForTheirQuantities) {
  const double pi = std::numbers::pi;
  struct Case {
    const char* name;
    float value;
    double exact;
    double tolerance;  // relative: the decimals it is written with
  };
  const Case cases[] = {
      {"degrees to radians", kDegToRad, pi / 180, 3e-6},
      {"radians to degrees", kRadToDeg, 180 / pi, 1e-7},
      {"pi", kPiSingle, pi, 1e-7},
      {"2 pi", kTwoPiSingle, 2 * pi, 1e-7},
      {"pi/2", kHalfPiSingle, pi / 2, 1e-7},
      {"2 pi of the structure-factor argument", kTwoPiArgument, 2 * pi, 2e-7},
      {"2 pi of upsi", kTwoPiUpsi, 2 * pi, 1e-6},
      {"180/pi of upsi", kRadToDegUpsi, 180 / pi, 1e-6},
      {"1/(2 pi^2)", kBetaToU, 1 / (2 * pi * pi), 1e-7},
      {"4 pi/3", kFourPiOverThree, 4 * pi / 3, 1e-6},
      {"r_e in fm", kElectronRadiusFm, 2.8179403262, 1e-6},
      {"r_e in Å times 1e8", kGamma, 2.8179403262e-5 * 1e8, 1e-6},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(c.value / c.exact, 1.0, c.tolerance) << c.name;
  // pi and 2 pi are the nearest floats; 1.5707963 is one float below pi/2, and the
  // shorter spellings of 2 pi are distinct floats.
  EXPECT_EQ(kPiSingle, static_cast<float>(pi));
  EXPECT_EQ(kTwoPiSingle, static_cast<float>(2 * pi));
  EXPECT_EQ(std::nextafter(kHalfPiSingle, 2.0f), static_cast<float>(pi / 2));
  EXPECT_NE(kTwoPiArgument, kTwoPiSingle);
  EXPECT_NE(kTwoPiUpsi, kTwoPiSingle);
  EXPECT_EQ(kDegree, pi / 180);
}

}  // namespace
