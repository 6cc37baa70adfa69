// A hand-made run for the page tests: a psi range of -60..60 degrees at 2 steps per
// degree, a calculated scan with one peak and one dip on I-prim = 100 cps, optionally a
// measured scan with gaps, and events of the first pass built so that their curves in
// the psi-lambda diagram are known in closed form (a wide band of 1 to 2 Angstrom):
//   a vertical line: |h|^2 = h.q makes cos Delta = 0 at every wavelength, psi = phi +- 90;
//   two meeting branches: with no primary (|h_p| = 0), rho = 1, |h|^2 - h.q = 1.5,
//   cos Delta = 0.75 lambda, so Delta runs from 41.4 degrees at lambda = 1 to 0 at 4/3,
//   where the branches meet.
#pragma once
#include <cmath>
#include <string>

#include "core/constants.hpp"
#include "input/run_parameters.hpp"
#include "report/record_format.hpp"
#include "simulation/run_result.hpp"

namespace kaven_test {

struct HandMadeRun {
  kaven::RunParameters par;
  kaven::RunResult result;
};

inline kaven::MultipleDiffractionEvent diagram_event(float phi_deg, float h_sq, float hp_sq,
                                                     float hq, float rho_sq, float ext_code) {
  kaven::MultipleDiffractionEvent e{};
  e.phi_az = static_cast<float>(phi_deg / double(kaven::kRadToDegDiagram));
  e.h_sq = h_sq;
  e.hp_sq = hp_sq;
  e.hq = hq;
  e.rho_sq = rho_sq;
  e.ext_code = ext_code;
  return e;
}

// psi1 = 20 on a vertical line (psi2 = -160 lies outside the range).
inline kaven::MultipleDiffractionEvent vertical_event() {
  return diagram_event(-70, 0.5f, 0.3f, 0.5f, 0.2f, 0);
}
// Branches from psi -20 +- 41.4 at lambda = 1 meeting at psi = -20, lambda = 4/3;
// branch 2 enters the range (psi > -60) a little above the bottom edge.
inline kaven::MultipleDiffractionEvent meeting_event() {
  return diagram_event(-20, 1.0f, 0.0f, -0.5f, 1.0f, 2);
}
// |h|^2 = 5 > 4/lambda^2 over the whole band: never on the sphere.
inline kaven::MultipleDiffractionEvent unreachable_event() {
  return diagram_event(0, 5.0f, 0.3f, 0.2f, 0.2f, 3);
}

inline HandMadeRun hand_made_run(bool with_measured_scan) {
  HandMadeRun h;
  kaven::RunParameters& p = h.par;
  p.title = kaven::rec::pad("Hand-made run (plot test)", 80);
  p.psia = -60;
  p.psie = 60;
  p.zsw1 = p.zsw = 2;
  p.nstep = 240;
  p.clam = "dl";
  p.isyn = 0;
  p.alam1 = 1.2f;
  p.alam2 = 1.8f;
  p.lamin = 1.0f;
  p.lamax = 2.0f;
  p.w1 = 0.1f;
  p.w2 = 0.2f;
  p.h = 2, p.k = -2, p.l = 4;
  p.f = 12.5f;
  p.phi_deg = 180;
  p.diverp = 0.14f, p.divers = 0.14f, p.radius = 9.99f, p.eta = 0.002f;
  p.nnn = 0;
  p.drumin = 1, p.drumin_scan = 0.01f, p.zeimax = 0;
  p.psid = 0;

  kaven::RunResult& r = h.result;
  r.theta_prim_deg = 25.1;
  kaven::ScanProfile& c = r.profile;
  c.intensity.resize(241);
  for (std::size_t i = 0; i < c.intensity.size(); ++i) {
    const double psi = -60 + double(i) / 2;
    c.intensity[i] = static_cast<float>(100 + 50 * std::exp(-std::pow((psi + 20) / 3, 2)) -
                                        20 * std::exp(-std::pow((psi - 30) / 2, 2)));
  }
  c.iprim_total = 100;
  c.max = 150, c.min = 80;  // the extremes of the two profiles above
  c.entered = 2;

  r.measured.present = with_measured_scan;
  r.measured.intensity.assign(241, kaven::kNoMeasurement);
  if (with_measured_scan) {
    for (std::size_t i = 0; i < r.measured.intensity.size(); ++i) {
      if (i % 17 == 3) continue;  // steps without a measurement
      const double psi = -60 + double(i) / 2;
      r.measured.intensity[i] =
          static_cast<float>(40 + 30 * std::exp(-std::pow((psi + 21) / 2, 2)));
    }
    r.reduction.mmax = 70, r.reduction.mmin = 40, r.reduction.imeas = 45;
    r.reduction.s_max = 7, r.reduction.s_min = 3.5f;
    r.deviation.shift = 2;
    r.deviation.dev = 1.0f;
    r.deviation.searched = true;
  }

  kaven::PassRecord pass{};
  pass.events.events = {vertical_event(), meeting_event(), unreachable_event()};
  pass.events.in_range = 9;
  r.passes.push_back(pass);
  r.plotted = true;
  return h;
}

}  // namespace kaven_test
