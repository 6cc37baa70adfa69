#include "crystal/geometry.hpp"

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>

#include "core/constants.hpp"
#include "core/fixed_text.hpp"
#include "core/run_stop.hpp"
#include "scattering/structure_factor.hpp"

namespace kaven {

void allocate_scan(RunParameters& p, std::vector<float>& calc, std::vector<float>& meas) {
  double steps = std::round((double(p.psie) - p.psia) * p.zsw);
  // Two arrays of nstep + 1 floats each. Memory handed out lazily by the system would
  // let a huge request "succeed" and fail later while it is filled, so requests beyond
  // any sensible scan (5e7 steps: more than 100000 steps per degree over a full turn)
  // are refused like a failed allocation.
  bool ok = std::isfinite(steps) && steps >= 0 && steps <= 5.0e7;
  if (ok) {
    p.nstep = static_cast<int>(steps);
    try {
      std::size_t n = static_cast<std::size_t>(p.nstep) + 1;
      calc.assign(n, 0.0f);
      meas.assign(n, 1e20f);
    } catch (const std::bad_alloc&) {
      ok = false;
    } catch (const std::length_error&) {
      ok = false;
    }
  }
  if (!ok) {
    calc.clear();
    meas.clear();
    stop_run({"", "", " Dynamical array allocation failed",
              " Number of steps = (psie - psia)*zsw is to large",
              " Please reduce the number of steps in your input file!"});
  }
}

void check_radiation(const RunParameters& p) {
  if (!(p.alam1 > 0) || (p.isyn == 0 && !(p.alam2 > 0)))
    stop_run({"", "", " The wavelength must be positive: check your input!"});
  if (p.isyn > 0 && !(p.thmono > 0 && std::isfinite(p.dwmono) && std::isfinite(p.dlam1)))
    stop_run({"", "", " The monochromator reflection cannot be reached with this wavelength:",
              " check your input!"});
}

void check_cell(const RunParameters& p) {
  // A cell whose edges are (nearly) coplanar has no volume: its reciprocal cell is
  // infinite. Below 1e-5 of a b c (an angle within a thousandth of a degree of 0 or
  // 180) the volume is what rounding leaves of zero.
  const double edges = double(p.a) * p.b * p.c;
  if (!(p.vol > 0) || !std::isfinite(p.vol) || !(double(p.vol) > 1e-5 * edges))
    stop_run({"", "", " The cell constants give no cell volume: check your input!"});
  if (!(p.radius > 0))
    stop_run({"", "", " The mosaic-block radius must be positive: check your input!"});
  if (!(p.rkugel > 0))
    stop_run({"", "", " The crystal radius must be positive: check your input!"});
  if (p.diverp < 0 || p.divers < 0 || p.eta < 0)
    stop_run({"", "", " The divergences and the mosaic spread must not be negative: check your input!"});
  if (p.h == 0 && p.k == 0 && p.l == 0)
    stop_run({"", "", " The primary reflection 0 0 0 has no scattering vector: check your input!"});
}

void wavelength_band(RunParameters& p) {
  p.alam = p.alam1;
  p.dlam = p.dlam1;
  p.w1 = static_cast<float>(0.5 * p.alam1 * p.dlam1);
  p.lamin = p.alam1 - p.w1;
  if (p.isyn == 0) {
    p.w2 = static_cast<float>(0.5 * p.alam2 * p.dlam2);
    p.lamax = p.alam2 + p.w2;
  } else {
    p.lamax = p.alam1 + p.w1;
    p.w1 = 0;
    p.w2 = 0;
  }
}

void reciprocal_cell(RunParameters& p) {
  const double deg = double(kDegToRad);
  double al = p.alpha * deg, be = p.beta * deg, ga = p.gamma * deg;
  double ca = std::cos(al), cb = std::cos(be), cg = std::cos(ga);
  double sa = std::sin(al), sb = std::sin(be), sg = std::sin(ga);
  double v = double(p.a) * p.b * p.c * std::sqrt(1 + 2 * ca * cb * cg - ca * ca - cb * cb - cg * cg);
  p.vol = static_cast<float>(v);
  p.rvol = static_cast<float>(1.0 / double(p.vol));
  p.as = static_cast<float>(sa * p.rvol * p.c * p.b);
  p.bs = static_cast<float>(sb * p.rvol * p.c * p.a);
  p.cs = static_cast<float>(double(p.a) * p.b * sg * p.rvol);
  p.cosas = static_cast<float>((cb * cg - ca) / (sb * sg));
  p.cosbs = static_cast<float>((ca * cg - cb) / (sa * sg));
  p.cosgs = static_cast<float>((ca * cb - cg) / (sa * sb));
  auto acos_deg = [](float c) {
    return static_cast<float>(std::acos(std::clamp(double(c), -1.0, 1.0)) * double(kRadToDeg));
  };
  p.alphas = acos_deg(p.cosas);
  p.betas = acos_deg(p.cosbs);
  p.gammas = acos_deg(p.cosgs);
  ReciprocalMetric& g = p.gstar;
  g.g11 = static_cast<float>(double(p.as) * p.as);
  g.g22 = static_cast<float>(double(p.bs) * p.bs);
  g.g33 = static_cast<float>(double(p.cs) * p.cs);
  g.g12 = static_cast<float>(double(p.as) * p.bs * p.cosgs);
  g.g13 = static_cast<float>(double(p.as) * p.cs * p.cosbs);
  g.g23 = static_cast<float>(double(p.bs) * p.cs * p.cosas);
}

void primary_reflection(RunParameters& p) {
  primary_vector(p);
  check_ewald_sphere(p);
}

void primary_vector(RunParameters& p) {
  const double h = p.h, k = p.k, l = p.l;
  const std::array<double, 3> q = p.gstar.times(h, k, l);
  p.q1 = static_cast<float>(q[0]);
  p.q2 = static_cast<float>(q[1]);
  p.q3 = static_cast<float>(q[2]);
  p.hp_len = static_cast<float>(std::sqrt(h * p.q1 + k * p.q2 + l * p.q3));
  p.dp = static_cast<float>(1.0 / double(p.hp_len));
  p.sp = static_cast<float>(0.5 * p.hp_len);
}

void check_ewald_sphere(const RunParameters& p) {
  if (double(p.sp) * p.alam1 > 1.0)
    stop_run({"", "", "", " The wavelength is to large",
              " the primary reflection is outside of the Ewald-sphere !!"});
}

bool provisional_primary(const RunParameters& p) { return p.f > 2.0f; }

void primary_structure_factor(RunParameters& p) {
  if (p.f == 0.0f) {
    const StructureFactor r = fcalc1(p, p.h, p.k, p.l, p.sp);
    p.f = r.fmod;
    p.phi = r.phase;
  }
  if (p.f >= kAbsentF) {
    p.phi_deg = static_cast<float>(p.phi * double(kRadToDeg));
  } else {
    p.phi = 0;
    p.phi_deg = 0;
  }
  if (provisional_primary(p))
    p.title = rec::pad(
        "       P r o v i s i o n a l    output  of  KAVEN-xx  for  F-prim > 2  !!!      ", 80);
}

void sample_constants(RunParameters& p) {
  // Gamma |F| is the inverse extinction length in cm^-1.
  p.gamma_sc = static_cast<float>(double(kGamma) * p.alam1 * p.rvol);
  p.area = static_cast<float>(double(kPiSingle) * p.rkugel * p.rkugel);
  p.volume = static_cast<float>(double(kFourPiOverThree) * double(p.rkugel) * p.rkugel * p.rkugel);
}

std::array<double, 6> ub_reciprocal_constants(const std::array<float, 9>& ub) {
  auto col = [&](int j) { return std::array<double, 3>{ub[j], ub[3 + j], ub[6 + j]}; };
  auto dot = [](const std::array<double, 3>& u, const std::array<double, 3>& v) {
    return u[0] * v[0] + u[1] * v[1] + u[2] * v[2];
  };
  const auto c1 = col(0), c2 = col(1), c3 = col(2);
  const double as = std::sqrt(dot(c1, c1)), bs = std::sqrt(dot(c2, c2)), cs = std::sqrt(dot(c3, c3));
  auto angle = [](double cosv) {
    return std::acos(std::clamp(cosv, -1.0, 1.0)) * double(kRadToDeg);
  };
  return {as, bs, cs, angle(dot(c2, c3) / (bs * cs)), angle(dot(c1, c3) / (as * cs)),
          angle(dot(c1, c2) / (as * bs))};
}

}  // namespace kaven
