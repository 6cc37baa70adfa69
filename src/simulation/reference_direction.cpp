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

std::array<float, 9> ub_turned(const RunParameters& p, double delta_deg) {
  const auto& u = p.ub;
  const double h = p.h, k = p.k, l = p.l;
  std::array<double, 3> n{u[0] * h + u[1] * k + u[2] * l, u[3] * h + u[4] * k + u[5] * l,
                          u[6] * h + u[7] * k + u[8] * l};
  const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  if (!(len > 0)) return u;
  for (double& c : n) c /= len;
  const std::array<float, 3> r = reference_direction(p);
  auto turned = [&](double angle_deg) {
    // Rodrigues' rotation about n, applied to the matrix from the left.
    const double a = angle_deg * kDegree, c = std::cos(a), s = std::sin(a);
    double R[3][3];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) R[i][j] = (i == j ? c : 0.0) + (1 - c) * n[i] * n[j];
    R[0][1] -= s * n[2], R[0][2] += s * n[1], R[1][0] += s * n[2];
    R[1][2] -= s * n[0], R[2][0] -= s * n[1], R[2][1] += s * n[0];
    std::array<float, 9> out{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        double v = 0;
        for (int m = 0; m < 3; ++m) v += R[i][m] * u[3 * m + j];
        out[3 * i + j] = static_cast<float>(v);
      }
    return out;
  };
  // Which sense of the turn moves psi forward depends on the handedness of the frame:
  // the one that comes nearer to the wanted PsiD is taken.
  auto miss = [&](const std::array<float, 9>& m) {
    RunParameters q = p;
    q.ub = m;
    return std::fabs(std::remainder(double(upsi(q, r[0], r[1], r[2])) - double(upsi(p, r[0], r[1], r[2])) - delta_deg, 360.0));
  };
  const std::array<float, 9> plus = turned(delta_deg), minus = turned(-delta_deg);
  return miss(plus) <= miss(minus) ? plus : minus;
}

}  // namespace kaven
