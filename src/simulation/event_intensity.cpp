#include "simulation/event_intensity.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/constants.hpp"
#include "scattering/polarisation.hpp"

namespace kaven {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

double clamp_acos(double c) { return std::acos(std::clamp(c, -1.0, 1.0)); }
double sqrt0(double v) { return v > 0 ? std::sqrt(v) : 0.0; }

double absorption_value(const RunParameters& p, double theta_rad) {
  if (!(p.mur < kMaxMuR)) return 1.0;
  return absor1(p.mur, static_cast<float>(theta_rad / kDegree));
}

// The sphere absorption value is interpolated linearly between the table's columns
// (every 5 degrees of theta): its smallest value over all Bragg angles is at one of
// them, to within the rounding of the interpolation.
double smallest_absorption_value(const RunParameters& p) {
  double a = kInfinity;
  for (int deg = 0; deg <= 90; deg += 5) a = std::min(a, absorption_value(p, deg * kDegree));
  return a * (1 - 1e-6);
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
  const bool mode0 = p.isyn == 0;
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
  const double T = r.t_b * kAngstromPerCm;
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
  r.fwhm_theta_deg = (om_hi - om_lo) / kDegree;
  // Block factor: crystal diameter over block size, reduced by the mosaic spread.
  const double a = lam * kCmPerAngstrom / r.t_b;
  r.k_block = std::max(1.0, (2 * p.rkugel / (3 * p.radius * kCmPerMicron)) * a / (a + p.eta * kPi / 180));
  r.beam = primary_beam(static_cast<float>(r.theta_p));
  r.centre_radius = std::cos(r.theta_p) / lam;
  r.a_min = smallest_absorption_value(p);
  r.half_spread_deg = std::asin(std::sin((p.eta + p.divers) * kPi / 360)) / kDegree;
  r.band_circle_min = sqrt0(r.kmin * r.kmin - double(p.hp_len) * p.hp_len / 4);
  r.band_circle_max = sqrt0(r.kmax * r.kmax - double(p.hp_len) * p.hp_len / 4);
  r.cos_half_spread = std::cos(r.half_spread_deg * kDegree);
  r.sin_half_spread = std::sin(r.half_spread_deg * kDegree);
  r.scale = kPi * double(p.rkugel) * p.rkugel * double(kScale) * pass.weight * p.i0;
  if (p.f <= kAbsentF) {
    r.q_p = 0;
    r.iprim = 0;
    r.lambda_p = 0;
    r.y_p = 0;
    return r;
  }
  const double th_deg = r.theta_p / kDegree;
  const double rb_cm = p.radius * kCmPerMicron;
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
  r.q_p = lam * kCmPerAngstrom * r.l_p / (lp * lp);
  r.iprim = r.scale / (r.a_p * double(kRadToDeg)) * r.pol_p * r.q_p * r.k_block * r.y_p;
  return r;
}

namespace {

// ---- the steps of an event's values ---------------------------------------------

// Extinction lengths Lambda = 1/(Gamma |F|) (cm) of the secondary and the coupling
// reflection. An absent reflection (|F| <= 0.001) has none: 0, and every term that would
// divide by it is 0.
struct ExtinctionLengths {
  bool has1, has2;  // secondary, coupling reflection present
  double l1, l2;    // cm
};

ExtinctionLengths extinction_lengths(const RunParameters& p, const EventGeometry& g) {
  const double gam = p.gamma_sc;
  ExtinctionLengths x{};
  x.has1 = g.f1 > kAbsentF;
  x.has2 = g.f2 > kAbsentF;
  x.l1 = x.has1 ? 1 / (gam * g.f1) : 0.0;
  x.l2 = x.has2 ? 1 / (gam * g.f2) : 0.0;
  return x;
}

// The psi profile of the event: the azimuths at which the reciprocal point of a block
// (radius eps) touches the Ewald spheres of the band limits, and the half widths and
// FWHM they give, all in degrees.
EventProfile profile_widths(const RunParameters& p, const PrimaryPass& pp, const EventGeometry& g) {
  const double hp = p.hp_len;
  const double gam = p.gamma_sc;
  const double mu = p.mue;
  const double T = pp.t_b * kAngstromPerCm;
  // Radius of the reciprocal point of a block (Å^-1).
  const double e_a = (std::max(gam * g.f1, gam * g.f2) + mu) * kCmPerAngstrom;
  const double eps = 0.5 * std::sqrt(std::pow(e_a * T, 2) + 1) / T;
  // Circles of the Ewald-sphere centre for the band limits (Å^-1).
  const double rmin = sqrt0(pp.kmin * pp.kmin - hp * hp / 4);
  const double rmax = sqrt0(pp.kmax * pp.kmax - hp * hp / 4);
  const double rho = g.rho, t = g.t;
  // Cosine of the azimuth at which a sphere of radius q about the centre circle rx
  // touches h; 1 (azimuth 0) without a circle or a distance from the axis. The touching
  // azimuths are the arc cosines: the smaller azimuth of two has the larger cosine.
  auto touch_cos = [&](double q, double rx) {
    const double rq2 = q * q - t;
    const double rq = rq2 > 0 ? std::sqrt(rq2) : 0.0;
    if (rho <= 0 || rx <= 0) return 1.0;
    return std::clamp((rx * rx + rho * rho - rq * rq) / (2 * rho * rx), -1.0, 1.0);
  };
  auto azimuth = [](double c) { return std::acos(c) / kDegree; };
  EventProfile w{};
  w.between = t <= hp * hp / 4;
  if (w.between) {
    w.a_lo = azimuth(std::max(touch_cos(pp.kmin - eps, rmin), touch_cos(pp.kmax - eps, rmax)));
    w.a_hi = azimuth(std::min(touch_cos(pp.kmin + eps, rmin), touch_cos(pp.kmax + eps, rmax)));
  } else {
    w.a_lo = azimuth(touch_cos(pp.kmin - eps, rmin));
    w.a_hi = azimuth(touch_cos(pp.kmax + eps, rmax));
  }
  // Half of the mosaic spread and the normal divergence (degrees).
  const double vdiv = pp.half_spread_deg;
  const double beta = g.beta_deg;
  if (w.a_lo == 0) {
    w.w_in = 0;
    w.w_out = vdiv + (w.a_hi - beta);
    w.fwhm = 2 * (vdiv + w.a_hi);
  } else {
    w.w_in = vdiv + (beta - w.a_lo);
    w.w_out = vdiv + (w.a_hi - beta);
    w.fwhm = w.w_in + w.w_out;
  }
  return w;
}

// Event Lorentz factor L_e = k FWHM / D (radians per Å^-1 of distance change, times
// Å^-1): D is the change of the distance of h from the sphere centre over the profile.
// A profile with no distance change has no finite Lorentz factor: 0, it adds nothing.
double event_lorentz(const PrimaryPass& pp, const EventGeometry& g, const EventProfile& w) {
  const double rho = g.rho, t = g.t, beta = g.beta_deg;
  const double rc = pp.centre_radius;
  auto dist = [&](double ang_deg) {
    return std::sqrt(std::max(0.0, t + rho * rho + rc * rc - 2 * rho * rc * std::cos(ang_deg * kDegree)));
  };
  double D;
  if (w.a_lo == 0) {
    D = 2 * std::fabs(dist(w.a_hi) - std::sqrt(t + (rho - rc) * (rho - rc)));
    if (beta == 0) D *= 0.5;
  } else {
    D = std::fabs(dist(beta - w.w_in) - dist(beta + w.w_out));
  }
  return D > 0 ? pp.k * w.fwhm * kDegree / D : 0.0;
}

// Integrated reflectivities per unit thickness (cm^-1): of the secondary over the event
// profile, and of the coupling reflection over the primary's and over the event's.
struct Reflectivities {
  double q1, q2p, q2e;
};

Reflectivities reflectivities(const PrimaryPass& pp, const ExtinctionLengths& x, double l_e) {
  const double lam = pp.lambda;
  Reflectivities q{};
  q.q1 = x.has1 ? lam * kCmPerAngstrom * l_e / (x.l1 * x.l1) : 0.0;
  q.q2p = x.has2 ? lam * kCmPerAngstrom * pp.l_p / (x.l2 * x.l2) : 0.0;
  q.q2e = x.has2 ? lam * kCmPerAngstrom * l_e / (x.l2 * x.l2) : 0.0;
  return q;
}

// Effective thicknesses of a block (cm) for the paths of the event, each limited by the
// extinction of the reflections on it: t_a for secondary then coupling (Ikaven), t_c for
// the coupling path and tp for the primary path out of the primary beam (Iaufhe).
struct Thicknesses {
  double t_a, t_c, tp;
};

Thicknesses effective_thicknesses(const RunParameters& p, const PrimaryPass& pp,
                                  const ExtinctionLengths& x) {
  const double t_b = pp.t_b;
  const bool hasp = p.f > kAbsentF;
  const double t2 = x.has2 ? 0.9 * t_b / std::sqrt(std::pow(t_b / x.l2, 2) + 1) : 0.0;
  double t1, tp;
  if (!hasp) {
    t1 = x.has1 ? 0.9 * t_b / std::sqrt(std::pow(t_b / x.l1, 2) + 1) : 0.0;
    tp = 0;
  } else if (!x.has1) {
    tp = pp.y_p;
    t1 = 0;
  } else {
    const double c = t_b * std::sqrt(x.l1 * x.l1 + pp.lambda_p * pp.lambda_p) / (pp.lambda_p * x.l1);
    t1 = 0.9 * t_b / std::sqrt(c * c + 1);
    tp = t1;
  }
  Thicknesses th{};
  th.t_a = std::min(t1, t2);
  th.t_c = std::min(t2, tp);
  th.tp = std::min(tp, t1);
  return th;
}

// Polarisation of the event's paths: sigma (normal to the primary plane) and pi (in it),
// weighted by the polarisation sign P of the source.
struct PolarisationTerms {
  double p12;    // secondary then coupling reflection
  double p13;    // primary then coupling reflection
  double p1, p2;  // primary, secondary reflection alone
  double c_int;  // interference polarisation
};

PolarisationTerms polarisation_terms(const RunParameters& p, const PrimaryPass& pp,
                                     const EventGeometry& g) {
  const float th1 = static_cast<float>(g.theta1), th2 = static_cast<float>(g.theta2);
  const SigmaPiFactors both = polfa_sigma_pi(pp.beam, th1, th2);
  const PolarisationFactors& s = both.sigma;
  const PolarisationFactors& q = both.pi;
  const double P = p.polsgn;
  PolarisationTerms r{};
  r.p12 = 0.5 * ((1 - P) * q.o2 * q.o4 + (1 + P) * s.o2 * s.o4);
  r.p13 = 0.5 * ((1 - P) * q.o1 * q.o3 + (1 + P) * s.o1 * s.o3);
  r.p1 = 0.5 * ((1 - P) * q.o1 + (1 + P) * s.o1);
  r.p2 = 0.5 * ((1 - P) * q.o2 + (1 + P) * s.o2);
  r.c_int = p.isyn == 0 ? 0.5 : (p.isyn == 1 ? s.o5 : q.o5);
  return r;
}

}  // namespace

EventProfile event_profile(const RunParameters& p, const PrimaryPass& pp, const EventGeometry& g) {
  EventProfile w = profile_widths(p, pp, g);
  w.l_e = event_lorentz(pp, g, w);
  return w;
}

double screening_peak_bound(const RunParameters& p, const PrimaryPass& pp, double rho, double t,
                            double beta_deg, double f1_screen, double f2_screen, double margin) {
  if (!(std::fabs(double(p.polsgn)) <= 1) || !(pp.a_min > 0)) return kInfinity;
  // The moduli at most and at least.
  const double f1 = f1_screen + margin, f2 = f2_screen + margin;
  const double f1_low = std::max(0.0, f1_screen - margin), f2_low = std::max(0.0, f2_screen - margin);
  // The radius of the reciprocal point and the touching cosines as the profile forms
  // them (before they are held within -1..1).
  const double hp = p.hp_len;
  const double gam = p.gamma_sc;
  const double T = pp.t_b * kAngstromPerCm;
  const double e_a = (std::max(gam * f1, gam * f2) + p.mue) * kCmPerAngstrom;
  const double eps = 0.5 * std::sqrt(std::pow(e_a * T, 2) + 1) / T;
  const double rmin = pp.band_circle_min, rmax = pp.band_circle_max;
  auto touch = [&](double q, double rx) {
    const double rq_sq = std::max(q * q - t, 0.0);  // (the square of the profile's root)
    if (rho <= 0 || rx <= 0) return 1.0;
    return (rx * rx + rho * rho - rq_sq) / (2 * rho * rx);
  };
  double x_lo, x_hi;
  if (t <= hp * hp / 4) {
    x_lo = std::max(touch(pp.kmin - eps, rmin), touch(pp.kmax - eps, rmax));
    x_hi = std::min(touch(pp.kmin + eps, rmin), touch(pp.kmax + eps, rmax));
  } else {
    x_lo = touch(pp.kmin - eps, rmin);
    x_hi = touch(pp.kmax + eps, rmax);
  }
  // Where the inner azimuth just vanishes the profile changes its form: a modulus a
  // little different may choose the other one.
  if (std::fabs(x_lo - 1) < 1e-6) return kInfinity;
  const double c_lo = std::clamp(x_lo, -1.0, 1.0), c_hi = std::clamp(x_hi, -1.0, 1.0);
  const double rc = pp.centre_radius;
  auto dist = [&](double c) { return std::sqrt(std::max(0.0, t + rho * rho + rc * rc - 2 * rho * rc * c)); };
  double D, size;
  if (c_lo >= 1) {
    // no inner side: from the profile's centre to the outer azimuth, doubled
    const double d1 = dist(c_hi), d0 = std::sqrt(t + (rho - rc) * (rho - rc));
    D = 2 * std::fabs(d1 - d0);
    if (beta_deg == 0) D *= 0.5;
    size = d1 + d0;
  } else {
    // at the azimuths a_lo - v and a_hi + v, v the half spread
    const double cv = pp.cos_half_spread, sv = pp.sin_half_spread;
    const double s_lo = std::sqrt(std::max(0.0, 1 - c_lo * c_lo));
    const double s_hi = std::sqrt(std::max(0.0, 1 - c_hi * c_hi));
    const double d1 = dist(c_lo * cv + s_lo * sv), d2 = dist(c_hi * cv - s_hi * sv);
    D = std::fabs(d1 - d2);
    size = d1 + d2;
  }
  // The profile forms the same distances through the angles: its D may differ by the
  // rounding of arc cosines and cosines; and a little for moduli a little different.
  const double d_low = D * (1 - 1e-3) - 1e-12 * size;
  if (!(d_low > 0)) return kInfinity;
  const double per_width = pp.k * kDegree / d_low;  // Lorentz factor over the width
  const double g1 = f1 > kAbsentF ? std::pow(gam * f1, 2) : 0.0;
  const double g2 = f2 > kAbsentF ? std::pow(gam * f2, 2) : 0.0;
  const double lam = pp.lambda * kCmPerAngstrom;
  // The effective thicknesses on the paths through a reflection are at most its
  // extinction-limited thickness 0.9 t_b / sqrt((t_b / Lambda)^2 + 1), which a larger
  // modulus makes smaller.
  auto thickness_sq = [&](double f) {
    const double x = pp.t_b * gam * f;
    return 0.81 * pp.t_b * pp.t_b / (x * x + 1);
  };
  const double t1 = thickness_sq(f1_low), t2 = thickness_sq(f2_low);
  const double ikaven = pp.scale * std::min(t1, t2) * (lam * pp.l_p * g2) * (lam * per_width * g1) / pp.a_min;
  const double iaufhe = pp.scale * (t2 * lam * per_width * g2 * pp.q_p / std::sqrt(pp.a_min * pp.a_p) +
                                    t1 * lam * per_width * g1 * pp.q_p / pp.a_p);
  constexpr double kMargin = 1 + 1e-5;
  return std::max(ikaven, iaufhe) * pp.k_block * pp.k_block * kMargin;
}

EventValues event_values(const RunParameters& p, const PrimaryPass& pp, const EventGeometry& g) {
  return event_values(p, pp, g, event_profile(p, pp, g));
}

EventValues event_values(const RunParameters& p, const PrimaryPass& pp, const EventGeometry& g,
                         const EventProfile& w) {
  const ExtinctionLengths x = extinction_lengths(p, g);
  const double l_e = w.l_e;
  const Reflectivities q = reflectivities(pp, x, l_e);
  const Thicknesses th = effective_thicknesses(p, pp, x);
  const PolarisationTerms pol = polarisation_terms(p, pp, g);
  const double a1 = absorption_value(p, g.theta1), a2 = absorption_value(p, g.theta2);

  EventValues v{};
  v.fwhm = w.fwhm;
  v.w_in = w.w_in;
  v.w_out = w.w_out;
  v.eta_m = w.between ? g.rho * pp.lambda / 2 : std::fabs(g.cos_delta);
  v.abs = std::sqrt(a1 * a2);
  v.p12 = pol.p12;
  v.c_int = pol.c_int;
  const double S = pp.scale;
  v.ikaven = S * th.t_a * th.t_a * q.q2p * v.p12 * q.q1 / v.abs;
  v.iaufhe = S * (th.t_c * th.t_c * q.q2e * pol.p13 * pp.q_p / std::sqrt(a2 * pp.a_p) +
                  th.tp * th.tp * pol.p2 * q.q1 * pol.p1 * pp.q_p / pp.a_p);
  const double kk = pp.k_block * pp.k_block;
  v.peak = v.fwhm > 0 ? std::max(v.ikaven, v.iaufhe) / v.fwhm * kk : 0.0;
  v.triplet = double(g.phase1) + g.phase2 - p.phi;
  return v;
}

}  // namespace kaven
