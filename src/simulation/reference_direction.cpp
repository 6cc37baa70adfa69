#include "simulation/reference_direction.hpp"

#include <algorithm>
#include <cmath>

#include "core/constants.hpp"

namespace kaven {

std::array<float, 3> reference_direction(const RunParameters& p) {
  if (std::fabs(p.q1) > 1e-5f) return {static_cast<float>(-double(p.q2) / p.q1), 1.0f, 0.0f};
  if (std::fabs(p.q2) > 1e-5f) return {1.0f, static_cast<float>(-double(p.q1) / p.q2), 0.0f};
  return {1.0f, 0.0f, static_cast<float>(-double(p.q1) / p.q3)};
}

float upsi(const RunParameters& p, float h1, float h2, float h3) {
  const auto& u = p.ub;
  auto apply = [&](double x, double y, double z) {
    std::array<double, 3> n{u[0] * x + u[1] * y + u[2] * z, u[3] * x + u[4] * y + u[5] * z,
                            u[6] * x + u[7] * y + u[8] * z};
    double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (len > 0)
      for (double& c : n) c /= len;
    return n;
  };
  const double twopi = double(kTwoPiUpsi);
  // Azimuth a0 and elevation chi0 of the primary scattering vector in the
  // diffractometer frame.
  std::array<double, 3> n = apply(p.h, p.k, p.l);
  double a0 = 0;
  if (!(n[0] == 0 && n[1] == 0)) {
    a0 = twopi - std::atan2(n[0], n[1]);
    a0 -= twopi * std::trunc(a0 / twopi);
  }
  double chi0 = std::atan2(n[2], std::sqrt(n[0] * n[0] + n[1] * n[1]));
  // The direction turned into the frame with the primary axis along u_a.
  std::array<double, 3> v = apply(h1, h2, h3);
  double ua = v[0] * std::cos(a0) + v[1] * std::sin(a0);
  double ub = v[2] * std::sin(chi0) - v[0] * std::sin(a0) * std::cos(chi0) +
              v[1] * std::cos(a0) * std::cos(chi0);
  double uc = v[2] * std::cos(chi0) - v[1] * std::cos(a0) * std::sin(chi0) +
              v[0] * std::sin(a0) * std::sin(chi0);
  double len = std::sqrt(ua * ua + ub * ub + uc * uc);
  double psi = len > 0 ? std::acos(std::clamp(ua / len, -1.0, 1.0)) * double(kRadToDegUpsi) : 0.0;
  if (uc < 0) psi = -psi;
  return static_cast<float>(psi);
}

}  // namespace kaven
