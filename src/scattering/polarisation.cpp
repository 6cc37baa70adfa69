// Polarisation factors of a multiple-diffraction event.
//
// A wave of polarisation e scattered into direction k has the amplitude vector
// D = k x (k x e) (the part of e normal to k, reversed); |D|^2 is the polarisation
// factor and D/|D| the polarisation of the scattered wave. The secondary beam k1 is
// placed from the spherical triangle k0, kp, k1 with sides 2theta_p, 2theta1 and
// 2theta2 (angle kp-k1 is the coupling reflection's 2theta).
#include "scattering/polarisation.hpp"

#include <algorithm>
#include <cmath>

#include "core/constants.hpp"

namespace kaven {

namespace {

struct Vec3 {
  double x, y, z;
};

Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// The amplitude vector of e scattered into k.
Vec3 scattered(const Vec3& k, const Vec3& e) { return cross(k, cross(k, e)); }

// An amplitude below 1e-7 (the resolution of a single-precision unit vector) has no
// direction worth following: its polarisation is taken as the zero vector, so every
// path through that wave gets factor 0.
constexpr double kNegligible = 1e-14;  // on |D|^2

Vec3 polarisation_of(const Vec3& d) {
  const double n2 = dot(d, d);
  if (n2 < kNegligible) return {0, 0, 0};
  const double n = std::sqrt(n2);
  return {d.x / n, d.y / n, d.z / n};
}

}  // namespace

PolarisationFactors polfa(float theta_p, float theta1, float theta2, float e1, float e2, float e3) {
  const double c2tp = std::cos(2.0 * theta_p), s2tp = std::sin(2.0 * theta_p);
  const double c2t1 = std::cos(2.0 * theta1), s2t1 = std::sin(2.0 * theta1);
  const double c2t2 = std::cos(2.0 * theta2);

  // Angle phi between the primary and secondary scattering planes (law of cosines of
  // the spherical triangle). With k1 or kp along the incident beam there is no
  // secondary plane; phi = 0 then (k1 is along x anyway, or every plane holds kp).
  // Rounding can push the cosine just past +-1 for a secondary in the primary plane.
  const double sin_product = s2t1 * s2tp;
  const double cos_phi =
      sin_product != 0 ? std::clamp((c2t2 - c2tp * c2t1) / sin_product, -1.0, 1.0) : 1.0;
  const double phi = std::acos(cos_phi);

  // Elevation nu of k1 above the primary plane; beyond phi = 90 degrees k1 points to
  // negative y, which the branch nu -> pi - nu carries through cos nu < 0.
  double nu = std::asin(std::clamp(s2t1 * std::sin(phi), -1.0, 1.0));
  if (phi > kPi / 2) nu = kPi - nu;
  // Azimuth m in the plane; cos nu = 0 (k1 along z) leaves the in-plane part zero.
  const double cos_nu = std::cos(nu);
  double m = 0;
  if (cos_nu != 0) {
    const double c2 = c2t1 / cos_nu;
    m = std::fabs(c2) <= 1 ? std::acos(c2) : (c2 >= 0 ? 0.0 : kPi);
  }
  const Vec3 k1{c2t1, std::sin(m) * cos_nu, std::sin(nu)};
  const Vec3 kp{c2tp, s2tp, 0};
  const Vec3 e{e1, e2, e3};

  const Vec3 d1 = scattered(k1, e);                    // secondary wave
  const Vec3 d2 = scattered(kp, polarisation_of(d1));  // secondary -> primary direction
  const Vec3 d0 = scattered(kp, e);                    // primary wave
  const Vec3 d3 = scattered(k1, polarisation_of(d0));  // primary -> secondary direction

  PolarisationFactors f;
  f.o1 = static_cast<float>(dot(d0, d0));
  f.o2 = static_cast<float>(dot(d1, d1));
  f.o3 = static_cast<float>(dot(d3, d3));
  f.o4 = static_cast<float>(dot(d2, d2));
  // The overlap of the direct and the twice-reflected primary wave; none when either
  // has no amplitude.
  const double n0 = dot(d0, d0), n2 = dot(d2, d2);
  f.o5 = (n0 < kNegligible || n2 < kNegligible)
             ? 0.0f
             : static_cast<float>(-dot(d0, d2) / std::sqrt(n2 * n0));
  return f;
}

}  // namespace kaven
