// Polarisation factors against hand values for the primary plane and against an
// independent construction of the secondary beam and of the scattered amplitudes.
#include "scattering/polarisation.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>

using namespace kaven;

namespace {

using V3 = std::array<double, 3>;
using M3 = std::array<V3, 3>;

double dot(const V3& a, const V3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// k x (k x e) written as k (k.e) - e for a unit vector k.
V3 amplitude(const V3& k, const V3& e) {
  const double ke = dot(k, e);
  return {k[0] * ke - e[0], k[1] * ke - e[1], k[2] * ke - e[2]};
}
V3 unit(const V3& a) {
  const double n = std::sqrt(dot(a, a));
  return {a[0] / n, a[1] / n, a[2] / n};
}

// Projector onto the plane normal to k.
M3 projector(const V3& k) {
  M3 p{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) p[i][j] = (i == j) - k[i] * k[j];
  return p;
}
M3 mul(const M3& a, const M3& b) {
  M3 c{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) c[i][j] += a[i][k] * b[k][j];
  return c;
}
double trace(const M3& a) { return a[0][0] + a[1][1] + a[2][2]; }

// A geometry built from the secondary beam: theta_p, theta1 and the angle phi between
// the scattering planes; theta2 follows from the angle between k1 and kp.
struct Geometry {
  double tp, t1, t2;
  V3 kp, k1;
};
Geometry geometry(double tp, double t1, double phi) {
  Geometry g{
      tp,
      t1,
      0,
      {std::cos(2 * tp), std::sin(2 * tp), 0},
      {std::cos(2 * t1), std::sin(2 * t1) * std::cos(phi), std::sin(2 * t1) * std::sin(phi)}};
  g.t2 = std::acos(dot(g.k1, g.kp)) / 2;
  return g;
}

PolarisationFactors run(double tp, double t1, double t2, const V3& e) {
  return polfa(float(tp), float(t1), float(t2), float(e[0]), float(e[1]), float(e[2]));
}

const V3 kSigma{0, 0, 1}, kPi{0, 1, 0};

}  // namespace

TEST(Polarisation, PrimaryReflectionForSigmaAndPi) {
  for (double tp : {0.1, 0.35, 0.7, 1.2}) {
    EXPECT_NEAR(run(tp, 0.4, 0.3, kSigma).o1, 1, 1e-6);
    EXPECT_NEAR(run(tp, 0.4, 0.3, kPi).o1, std::pow(std::cos(2 * tp), 2), 1e-6);
  }
}

TEST(Polarisation, SecondaryInThePrimaryPlane) {
  // phi = 0: k1 lies in the x-y plane, the coupling angle is 2theta1 - 2theta_p
  // (angles exact in single precision, so the triangle closes exactly).
  const double tp = 0.3125, t1 = 0.5625, t2 = t1 - tp;
  const PolarisationFactors s = run(tp, t1, t2, kSigma);
  EXPECT_NEAR(s.o2, 1, 1e-6);  // sigma stays normal to every in-plane beam
  EXPECT_NEAR(s.o3, 1, 1e-6);
  EXPECT_NEAR(s.o4, 1, 1e-6);
  EXPECT_NEAR(s.o5, 1, 1e-6);
  // pi: each step scatters by its own 2theta, the coupling step by 2theta2
  const PolarisationFactors p = run(tp, t1, t2, kPi);
  const double c1 = std::cos(2 * t1), c2 = std::cos(2 * t2), cp = std::cos(2 * tp);
  EXPECT_NEAR(p.o1, cp * cp, 1e-6);
  EXPECT_NEAR(p.o2, c1 * c1, 1e-6);
  EXPECT_NEAR(p.o3, c2 * c2, 1e-6);
  EXPECT_NEAR(p.o4, c2 * c2, 1e-6);
  EXPECT_NEAR(p.o5, 1, 1e-6);  // all three cosines positive here
  // with 2theta1 beyond 90 degrees the secondary pi wave turns over
  EXPECT_NEAR(run(0.25, 0.875, 0.625, kPi).o5, -1, 1e-6);
}

TEST(Polarisation, MatchesAnIndependentVectorConstruction) {
  for (double phi : {0.4, 1.3, 2.2, 2.9}) {
    for (double chi : {0.0, 0.6, 1.5707963, 2.5}) {
      const Geometry g = geometry(0.35, 0.5, phi);
      const V3 e{0, std::cos(chi), std::sin(chi)};
      const V3 d0 = amplitude(g.kp, e), d1 = amplitude(g.k1, e);
      const V3 d2 = amplitude(g.kp, unit(d1)), d3 = amplitude(g.k1, unit(d0));
      const PolarisationFactors f = run(g.tp, g.t1, g.t2, e);
      SCOPED_TRACE("phi " + std::to_string(phi) + " chi " + std::to_string(chi));
      EXPECT_NEAR(f.o1, dot(d0, d0), 1e-5);
      EXPECT_NEAR(f.o2, dot(d1, d1), 1e-5);
      EXPECT_NEAR(f.o3, dot(d3, d3), 1e-5);
      EXPECT_NEAR(f.o4, dot(d2, d2), 1e-5);
      EXPECT_NEAR(f.o5, -dot(d0, d2) / std::sqrt(dot(d0, d0) * dot(d2, d2)), 1e-4);
    }
  }
}

TEST(Polarisation, SigmaPlusPiIsTheUnpolarisedValue) {
  for (double phi : {0.7, 2.0}) {
    const Geometry g = geometry(0.45, 0.3, phi);
    const PolarisationFactors s = run(g.tp, g.t1, g.t2, kSigma);
    const PolarisationFactors p = run(g.tp, g.t1, g.t2, kPi);
    const double cp = std::cos(2 * g.tp), c1 = std::cos(2 * g.t1);
    EXPECT_NEAR((s.o1 + p.o1) / 2, (1 + cp * cp) / 2, 1e-6);
    EXPECT_NEAR((s.o2 + p.o2) / 2, (1 + c1 * c1) / 2, 1e-6);
    // two steps: the trace of P_p P_1 P_0 P_1 P_p over the incident polarisations
    const M3 p0 = projector({1, 0, 0}), p1 = projector(g.k1), pp = projector(g.kp);
    EXPECT_NEAR(s.o2 * s.o4 + p.o2 * p.o4, trace(mul(mul(mul(pp, p1), p0), mul(p1, pp))), 1e-5);
    EXPECT_NEAR(s.o1 * s.o3 + p.o1 * p.o3, trace(mul(mul(mul(p1, pp), p0), mul(pp, p1))), 1e-5);
  }
}

TEST(Polarisation, DegenerateGeometriesStayFinite) {
  const double half_pi = std::numbers::pi / 2;
  struct Case {
    double tp, t1, t2;
    V3 e;
  };
  const Case cases[] = {
      {0.3, 0.0, 0.3, kPi},                   // secondary beam along the incident beam
      {0.0, 0.4, 0.4, kPi},                   // primary beam along the incident beam
      {0.3, half_pi, 0.5, kSigma},            // back-scattered secondary
      {std::numbers::pi / 4, 0.3, 0.2, kPi},  // kp along e: no primary wave
      {0.2, 0.25, 1.0, kSigma},               // no triangle with these sides
      {0.0, 0.0, 0.0, kPi},
  };
  for (const Case& c : cases) {
    const PolarisationFactors f = run(c.tp, c.t1, c.t2, c.e);
    for (float o : {f.o1, f.o2, f.o3, f.o4}) {
      EXPECT_TRUE(std::isfinite(o));
      EXPECT_GE(o, -1e-6f);
      EXPECT_LE(o, 1 + 1e-6f);
    }
    EXPECT_TRUE(std::isfinite(f.o5));
    EXPECT_LE(std::fabs(f.o5), 1 + 1e-6f);
  }
  // kp along e: the primary wave vanishes and so does every path through it
  const PolarisationFactors f = run(std::numbers::pi / 4, 0.3, 0.2, kPi);
  EXPECT_NEAR(f.o1, 0, 1e-7);
  EXPECT_EQ(f.o3, 0);
  EXPECT_EQ(f.o5, 0);
}

// The event's two calls with the beams placed once give each what polfa gives for its
// incident polarisation, to the bit, the primary beam formed per pass or per call.
TEST(Polarisation, SigmaAndPiTogetherAreTheTwoSingleCalls) {
  auto same = [](const PolarisationFactors& a, const PolarisationFactors& b) {
    return a.o1 == b.o1 && a.o2 == b.o2 && a.o3 == b.o3 && a.o4 == b.o4 && a.o5 == b.o5;
  };
  for (double phi : {0.0, 0.4, 1.5707963, 2.2, 3.1415926})
    for (double tp : {0.1, 0.35, 0.7}) {
      const Geometry g = geometry(tp, 0.5, phi);
      const float thp = float(g.tp), th1 = float(g.t1), th2 = float(g.t2);
      const SigmaPiFactors both = polfa_sigma_pi(thp, th1, th2);
      const SigmaPiFactors pass = polfa_sigma_pi(primary_beam(thp), th1, th2);
      SCOPED_TRACE("phi " + std::to_string(phi) + " theta_p " + std::to_string(tp));
      EXPECT_TRUE(same(both.sigma, polfa(thp, th1, th2, 0, 0, 1)));
      EXPECT_TRUE(same(both.pi, polfa(thp, th1, th2, 0, 1, 0)));
      EXPECT_TRUE(same(pass.sigma, both.sigma));
      EXPECT_TRUE(same(pass.pi, both.pi));
    }
}
