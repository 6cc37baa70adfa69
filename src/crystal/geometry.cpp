#include "crystal/geometry.hpp"

#include <algorithm>
#include <cmath>
#include <new>

#include "report/record_format.hpp"
#include "scattering/structure_factor.hpp"

namespace kaven {

void allocate_scan(RunContext& run, std::vector<float>& calc, std::vector<float>& meas) {
  RunParameters& p = run.par;
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
    run.stop({"", "", " Dynamical array allocation failed",
              " Number of steps = (psie - psia)*zsw is to large",
              " Please reduce the number of steps in your input file!"});
  }
}

void check_radiation(RunContext& run) {
  const RunParameters& p = run.par;
  if (!(p.alam1 > 0) || (p.isyn == 0 && !(p.alam2 > 0)))
    run.stop({"", "", " The wavelength must be positive: check your input!"});
  if (p.isyn > 0 && !(p.thmono > 0 && std::isfinite(p.dwmono) && std::isfinite(p.dlam1)))
    run.stop({"", "", " The monochromator reflection cannot be reached with this wavelength:",
              " check your input!"});
}

void check_cell(RunContext& run) {
  const RunParameters& p = run.par;
  if (!(p.vol > 0) || !std::isfinite(p.vol))
    run.stop({"", "", " The cell constants give no cell volume: check your input!"});
  if (!(p.radius > 0))
    run.stop({"", "", " The mosaic-block radius must be positive: check your input!"});
  if (p.h == 0 && p.k == 0 && p.l == 0)
    run.stop({"", "", " The primary reflection 0 0 0 has no scattering vector: check your input!"});
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
  const double deg = double(0.0174533f);
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
    return static_cast<float>(std::acos(std::clamp(double(c), -1.0, 1.0)) * double(57.29578f));
  };
  p.alphas = acos_deg(p.cosas);
  p.betas = acos_deg(p.cosbs);
  p.gammas = acos_deg(p.cosgs);
  p.g11 = static_cast<float>(double(p.as) * p.as);
  p.g22 = static_cast<float>(double(p.bs) * p.bs);
  p.g33 = static_cast<float>(double(p.cs) * p.cs);
  p.g12 = static_cast<float>(double(p.as) * p.bs * p.cosgs);
  p.g13 = static_cast<float>(double(p.as) * p.cs * p.cosbs);
  p.g23 = static_cast<float>(double(p.bs) * p.cs * p.cosas);
}

void primary_reflection(RunContext& run) {
  RunParameters& p = run.par;
  const double h = p.h, k = p.k, l = p.l;
  p.q1 = static_cast<float>(p.g11 * h + p.g12 * k + p.g13 * l);
  p.q2 = static_cast<float>(p.g12 * h + p.g22 * k + p.g23 * l);
  p.q3 = static_cast<float>(p.g13 * h + p.g23 * k + p.g33 * l);
  p.hp_len = static_cast<float>(std::sqrt(h * p.q1 + k * p.q2 + l * p.q3));
  p.dp = static_cast<float>(1.0 / double(p.hp_len));
  p.sp = static_cast<float>(0.5 * p.hp_len);
  if (double(p.sp) * p.alam1 > 1.0)
    run.stop({"", "", "", " The wavelength is to large",
              " the primary reflection is outside of the Ewald-sphere !!"});
}

void primary_structure_factor(RunContext& run) {
  RunParameters& p = run.par;
  if (p.f == 0.0f) {
    fcalc1(run, p.h, p.k, p.l, p.sp, p.f, p.phi);
    if (run.element_error) run.stop({});
  }
  if (p.f >= 0.001f) {
    p.phi_deg = static_cast<float>(p.phi * double(57.29578f));
  } else {
    p.phi = 0;
    p.phi_deg = 0;
  }
  if (p.f > 2.0f) {
    const std::string stars(76, '*');
    const std::string side = "**" + std::string(72, ' ') + "**";
    run.out.blank(2);
    for (const std::string& r :
         {stars, stars, side,
          std::string("**    The structure factor of the primary reflection is larger than 2!    **"),
          std::string("**    This part of KAVEN-xx is in work!                                   **"),
          std::string("**    Only provisional results are obtained!                              **"),
          std::string("**    Calculation without interference term, (nnn = 0) is recommended!    **"),
          side, side, stars, stars})
      run.out.record(r);
    run.out.blank(2);
    p.title = rec::pad(
        "       P r o v i s i o n a l    output  of  KAVEN-xx  for  F-prim > 2  !!!      ", 80);
  }
}

void sample_constants(RunParameters& p) {
  // Classical electron radius 2.817938e-5 Å times 1e8: Gamma |F| is the inverse
  // extinction length in cm^-1.
  p.gamma_sc = static_cast<float>(double(2817.938f) * p.alam1 * p.rvol);
  p.area = static_cast<float>(double(3.1415927f) * p.rkugel * p.rkugel);
  p.volume = static_cast<float>(double(4.18879f) * double(p.rkugel) * p.rkugel * p.rkugel);
}

void list_lattice_constants(RunContext& run) {
  using namespace rec;
  const RunParameters& p = run.par;
  run.out.blank(2);
  run.out.record(" Lattice constants input by the user:");
  run.out.record(F(10, 4, p.a) + F(10, 4, p.b) + F(10, 4, p.c) + X(2) + F(10, 2, p.alpha) +
                 F(10, 2, p.beta) + F(10, 2, p.gamma));
  run.out.record(" Volume:" + F(12, 4, p.vol));
  run.out.blank();
  run.out.record(" Reciprocal lattice constants:");
  run.out.record(F(10, 4, p.as) + F(10, 4, p.bs) + F(10, 4, p.cs) + X(2) + F(10, 2, p.alphas) +
                 F(10, 2, p.betas) + F(10, 2, p.gammas));
  run.out.record(" Reciprocal volume:" + F(12, 6, p.rvol));
}

void list_atoms(RunContext& run) {
  using namespace rec;
  const RunParameters& p = run.par;
  run.out.blank();
  run.out.record(" Atomic position and temperature parameters:");
  // U = beta / (2 pi^2 a*_i a*_j)
  const double c0 = double(0.05066059f);
  const double rs[3] = {p.as, p.bs, p.cs};
  const int pair[6][2] = {{0, 0}, {1, 1}, {2, 2}, {0, 1}, {0, 2}, {1, 2}};
  for (const Atom& a : p.atoms) {
    int t = static_cast<int>(std::lround(a.fnr));
    std::string atn = t >= 1 && t <= static_cast<int>(p.types.size())
                          ? p.types[static_cast<std::size_t>(t - 1)].atn
                          : std::string(4, ' ');
    run.out.blank();
    run.out.record(" " + A(4, atn) + F(9, 6, a.afact) + X(2) + F(10, 6, a.x) + F(10, 6, a.y) +
                   F(10, 6, a.z));
    std::string beta = " beta:", u = " u   :";
    for (int j = 0; j < 6; ++j) {
      beta += F(10, 6, a.bt[j]);
      u += F(10, 6, static_cast<float>(c0 * a.bt[j] / (rs[pair[j][0]] * rs[pair[j][1]])));
    }
    run.out.record(beta);
    run.out.record(u);
  }
}

}  // namespace kaven
