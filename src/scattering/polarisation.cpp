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

// The secondary and primary beam directions of an event.
struct Beams {
  Vec3 k1, kp;
};

Beams place_beams(const PrimaryBeam& primary, float theta1, float theta2) {
  const double c2tp = primary.cos2t, s2tp = primary.sin2t;
  const double c2t1 = std::cos(2.0 * theta1), s2t1 = std::sin(2.0 * theta1);
  const double c2t2 = std::cos(2.0 * theta2);

  // Angle phi between the primary and secondary scattering planes (law of cosines of
  // the spherical triangle). With k1 or kp along the incident beam there is no
  // secondary plane; phi = 0 then (k1 is along x anyway, or every plane holds kp).
  // Rounding can push the cosine just past +-1 for a secondary in the primary plane.
  const double sin_product = s2t1 * s2tp;
  const double cos_phi =
      sin_product != 0 ? std::clamp((c2t2 - c2tp * c2t1) / sin_product, -1.0, 1.0) : 1.0;
  const double sin_phi = std::sqrt((1 - cos_phi) * (1 + cos_phi));

  // k1 at 2theta1 from the incident beam, its plane turned by phi about it. As an
  // elevation nu above the primary plane (sin nu = sin 2theta1 sin phi, nu beyond 90
  // degrees when phi is) and an azimuth m in it (cos m = cos 2theta1 / cos nu),
  // k1 = (cos 2theta1, sin m cos nu, sin nu), which is the same vector.
  return {{c2t1, s2t1 * cos_phi, s2t1 * sin_phi}, {c2tp, s2tp, 0}};
}

PolarisationFactors factors(const Beams& b, const Vec3& e) {
  const Vec3 d1 = scattered(b.k1, e);                    // secondary wave
  const Vec3 d2 = scattered(b.kp, polarisation_of(d1));  // secondary -> primary direction
  const Vec3 d0 = scattered(b.kp, e);                    // primary wave
  const Vec3 d3 = scattered(b.k1, polarisation_of(d0));  // primary -> secondary direction

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

}  // namespace

PrimaryBeam primary_beam(float theta_p) {
  return {std::cos(2.0 * theta_p), std::sin(2.0 * theta_p)};
}

PolarisationFactors polfa(float theta_p, float theta1, float theta2, float e1, float e2, float e3) {
  return factors(place_beams(primary_beam(theta_p), theta1, theta2), Vec3{e1, e2, e3});
}

SigmaPiFactors polfa_sigma_pi(const PrimaryBeam& kp, float theta1, float theta2) {
  const Beams b = place_beams(kp, theta1, theta2);
  return {factors(b, Vec3{0, 0, 1}), factors(b, Vec3{0, 1, 0})};
}

SigmaPiFactors polfa_sigma_pi(float theta_p, float theta1, float theta2) {
  return polfa_sigma_pi(primary_beam(theta_p), theta1, theta2);
}

}  // namespace kaven
