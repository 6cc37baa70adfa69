#include "simulation/event_intensity.hpp"

#include <algorithm>
#include <cmath>

#include "scattering/polarisation.hpp"

namespace kaven {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

double clamp_acos(double c) { return std::acos(std::clamp(c, -1.0, 1.0)); }
double sqrt0(double v) { return v > 0 ? std::sqrt(v) : 0.0; }

double absorption_value(const RunParameters& p, double theta_rad) {
  if (!(p.mur < 31.5f)) return 1.0;
  return absor1(p.mur, static_cast<float>(theta_rad / kDeg));
}

}  // namespace

std::vector<WavelengthPass> wavelength_passes(const RunParameters& p) {
  std::vector<WavelengthPass> passes{{p.alam1, p.dlam1, p.flam1}};
  if (p.isyn == 0) passes.push_back({p.alam2, p.dlam2, p.flam2});
  return passes;
}

PrimaryPass primary_pass(const RunParameters& p, const ExtinctionTable& ext,
                         const WavelengthPass& pass) {
  PrimaryPass r{};
  const double lam = pass.lambda;
  const double hp = p.hp_len;
  const double mode0 = p.isyn == 0;
  const double P = p.polsgn;
  const double m = p.cos2tm;
  r.lambda = lam;
  r.theta_p = std::asin(std::min(1.0, lam * hp / 2));
  r.a_p = absorption_value(p, r.theta_p);
  // Wave-vector band of the pass.
  r.k = 1 / lam;
  const double d = lam * pass.dlam * 0.5;
  r.kmin = 1 / (lam + d);
  r.kmax = 1 / (lam - d);
  const double c2 = std::cos(2 * r.theta_p);
  r.pol_p = p.isyn == 1 ? 1.0 : (1 + c2 * c2) / 2;
  // Lorentz factor from the rocking range of the primary reciprocal point: radius e_p
  // from the block thickness and the extinction plus absorption coefficient.
  r.t_b = p.block_path_cm;
  const double T = r.t_b * 1e8;  // Å
  const double mu = p.mue;
  const double gam = p.gamma_sc;
  const double e_p = 0.5 * std::sqrt(1 + std::pow(r.t_b * (gam * p.f + mu), 2)) / T;
  const double cmax = (r.kmax * r.kmax + hp * hp - std::pow(r.kmax + e_p, 2)) / (2 * r.kmax * hp);
  const double cmin = (r.kmin * r.kmin + hp * hp - std::pow(r.kmin - e_p, 2)) / (2 * r.kmin * hp);
  const double hdiv = (p.eta + p.diverp) * kPi / 360;
  const double om_hi = clamp_acos(cmax) + hdiv;
  const double om_lo = clamp_acos(cmin) - hdiv;
  const double k = r.k;
  const double den = std::sqrt(std::max(0.0, hp * hp + k * k - 2 * k * hp * std::cos(om_hi))) -
                     std::sqrt(std::max(0.0, hp * hp + k * k - 2 * k * hp * std::cos(om_lo)));
  r.l_p = den != 0 ? k * (om_hi - om_lo) / den : 0.0;
  r.fwhm_theta_deg = (om_hi - om_lo) / kDeg;
  // Block factor: crystal diameter over block size, reduced by the mosaic spread.
  const double a = lam * 1e-8 / r.t_b;
  r.k_block = std::max(1.0, (2 * p.rkugel / (3 * p.radius * 1e-4)) * a / (a + p.eta * kPi / 180));
  r.scale = kPi * double(p.rkugel) * p.rkugel * double(3282.8064f) * pass.weight * p.i0;
  if (p.f <= 0.001f) {
    r.q_p = 0;
    r.iprim = 0;
    r.lambda_p = 0;
    r.y_p = 0;
    return r;
  }
  const double th_deg = r.theta_p / kDeg;
  const double rb_cm = p.radius * 1e-4;
  const double lp = 1 / (gam * p.f);
  r.lambda_p = lp;
  double y1 = xtab(ext, static_cast<float>(rb_cm / lp), static_cast<float>(th_deg));
  y1 = std::min(y1, 0.9 * lp / r.t_b);
  y1 *= mode0 ? m : (1 + P) / 2;
  const double lp2 = c2 != 0 ? lp / std::fabs(c2) : lp;
  double y2 = xtab(ext, static_cast<float>(rb_cm / lp2), static_cast<float>(th_deg));
  y2 = std::min(y2, 0.9 * lp2 / r.t_b) * c2 * c2;
  if (!mode0) y2 *= (1 - P) / 2;
  r.y_p = mode0 ? r.t_b * (y1 + y2) / (c2 * c2 + m)
                : r.t_b * 2 * (y1 + y2) / ((1 + P) + (1 - P) * c2 * c2);
  r.q_p = lam * 1e-8 * r.l_p / (lp * lp);
  r.iprim = r.scale / (r.a_p * double(57.29578f)) * r.pol_p * r.q_p * r.k_block * r.y_p;
  return r;
}

EventValues event_values(const RunParameters& p, const PrimaryPass& pp, const EventGeometry& g) {
  EventValues v{};
  const double lam = pp.lambda;
  const double hp = p.hp_len;
  const double gam = p.gamma_sc;
  const double mu = p.mue;
  const double t_b = pp.t_b;
  const double T = t_b * 1e8;
  const bool has1 = g.f1 > 0.001f, has2 = g.f2 > 0.001f, hasp = p.f > 0.001f;
  const double l1 = has1 ? 1 / (gam * g.f1) : 0.0;
  const double l2 = has2 ? 1 / (gam * g.f2) : 0.0;
  // Radius of the reciprocal point of a block (Å^-1).
  const double e_a = (std::max(gam * g.f1, gam * g.f2) + mu) * 1e-8;
  const double eps = 0.5 * std::sqrt(std::pow(e_a * T, 2) + 1) / T;
  // Circles of the Ewald-sphere centre for the band limits.
  const double rmin = sqrt0(pp.kmin * pp.kmin - hp * hp / 4);
  const double rmax = sqrt0(pp.kmax * pp.kmax - hp * hp / 4);
  const double rho = g.rho, t = g.t;
  auto touch = [&](double q, double rx) {  // degrees
    const double rq2 = q * q - t;
    const double rq = rq2 > 0 ? std::sqrt(rq2) : 0.0;
    if (rho <= 0 || rx <= 0) return 0.0;
    return clamp_acos((rx * rx + rho * rho - rq * rq) / (2 * rho * rx)) / kDeg;
  };
  const bool between = t <= hp * hp / 4;
  double a_lo, a_hi;
  if (between) {
    a_lo = std::min(touch(pp.kmin - eps, rmin), touch(pp.kmax - eps, rmax));
    a_hi = std::max(touch(pp.kmin + eps, rmin), touch(pp.kmax + eps, rmax));
  } else {
    a_lo = touch(pp.kmin - eps, rmin);
    a_hi = touch(pp.kmax + eps, rmax);
  }
  const double vdiv = std::asin(std::sin((p.eta + p.divers) * kPi / 360)) / kDeg;
  const double beta = g.beta_deg;
  if (a_lo == 0) {
    v.w_in = 0;
    v.w_out = vdiv + (a_hi - beta);
    v.fwhm = 2 * (vdiv + a_hi);
  } else {
    v.w_in = vdiv + (beta - a_lo);
    v.w_out = vdiv + (a_hi - beta);
    v.fwhm = v.w_in + v.w_out;
  }
  // Change of the distance of h from the sphere centre over the profile.
  const double rc = std::cos(pp.theta_p) / lam;
  auto dist = [&](double ang_deg) {
    return std::sqrt(std::max(0.0, t + rho * rho + rc * rc - 2 * rho * rc * std::cos(ang_deg * kDeg)));
  };
  double D;
  if (a_lo == 0) {
    D = 2 * std::fabs(dist(a_hi) - std::sqrt(t + (rho - rc) * (rho - rc)));
    if (beta == 0) D *= 0.5;
  } else {
    D = std::fabs(dist(beta - v.w_in) - dist(beta + v.w_out));
  }
  // A profile with no distance change has no finite Lorentz factor: it adds nothing.
  const double l_e = D > 0 ? pp.k * v.fwhm * kDeg / D : 0.0;
  v.eta_m = between ? rho * lam / 2 : std::fabs(g.cos_delta);
  const double a1 = absorption_value(p, g.theta1), a2 = absorption_value(p, g.theta2);
  v.abs = std::sqrt(a1 * a2);
  const double q1 = has1 ? lam * 1e-8 * l_e / (l1 * l1) : 0.0;
  const double q2p = has2 ? lam * 1e-8 * pp.l_p / (l2 * l2) : 0.0;
  const double q2e = has2 ? lam * 1e-8 * l_e / (l2 * l2) : 0.0;
  // Effective thicknesses of the block for the two paths.
  const double t2 = has2 ? 0.9 * t_b / std::sqrt(std::pow(t_b / l2, 2) + 1) : 0.0;
  double t1, tp;
  if (!hasp) {
    t1 = has1 ? 0.9 * t_b / std::sqrt(std::pow(t_b / l1, 2) + 1) : 0.0;
    tp = 0;
  } else if (!has1) {
    tp = pp.y_p;
    t1 = 0;
  } else {
    const double c = t_b * std::sqrt(l1 * l1 + pp.lambda_p * pp.lambda_p) / (pp.lambda_p * l1);
    t1 = 0.9 * t_b / std::sqrt(c * c + 1);
    tp = t1;
  }
  const double t_a = std::min(t1, t2), t_c = std::min(t2, tp);
  tp = std::min(tp, t1);
  // Polarisation: sigma (normal to the primary plane) and pi (in it), weighted by the
  // polarisation sign of the source.
  const float thp = static_cast<float>(pp.theta_p);
  const float th1 = static_cast<float>(g.theta1), th2 = static_cast<float>(g.theta2);
  const PolarisationFactors s = polfa(thp, th1, th2, 0, 0, 1);
  const PolarisationFactors q = polfa(thp, th1, th2, 0, 1, 0);
  const double P = p.polsgn;
  v.p12 = 0.5 * ((1 - P) * q.o2 * q.o4 + (1 + P) * s.o2 * s.o4);
  const double p13 = 0.5 * ((1 - P) * q.o1 * q.o3 + (1 + P) * s.o1 * s.o3);
  const double p1 = 0.5 * ((1 - P) * q.o1 + (1 + P) * s.o1);
  const double p2 = 0.5 * ((1 - P) * q.o2 + (1 + P) * s.o2);
  v.c_int = p.isyn == 0 ? 0.5 : (p.isyn == 1 ? s.o5 : q.o5);
  const double S = pp.scale;
  v.ikaven = S * t_a * t_a * q2p * v.p12 * q1 / v.abs;
  v.iaufhe = S * (t_c * t_c * q2e * p13 * pp.q_p / std::sqrt(a2 * pp.a_p) +
                  tp * tp * p2 * q1 * p1 * pp.q_p / pp.a_p);
  const double kk = pp.k_block * pp.k_block;
  v.peak = v.fwhm > 0 ? std::max(v.ikaven, v.iaufhe) / v.fwhm * kk : 0.0;
  v.triplet = double(g.phase1) + g.phase2 - p.phi;
  return v;
}

}  // namespace kaven
