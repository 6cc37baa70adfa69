#include "report/event_listing.hpp"

#include <cmath>

#include "core/constants.hpp"
#include "report/record_format.hpp"

namespace kaven {

double listed_phase_deg(float phase) {
  double d = phase * double(kRadToDeg);
  if (d > 180) d -= 360;
  return d;
}

void list_event_pass(Listing& out, const RunParameters& p, const WavelengthPass& pass,
                     const PrimaryPass& pp, const EventPassResult& r,
                     const std::array<float, 3>& ref, const MeasuredPrimary& meas) {
  using namespace rec;
  out.blank(2);
  out.record(X(20) + "*** Multiple diffraction events ***");
  out.blank();
  out.record("           calculated for the primary reflection:" + I(3, p.h) + I(3, p.k) +
             I(3, p.l));
  out.blank();
  out.record(" wavelength        :" + F(8, 5, pass.lambda));
  out.record(" deltalambda/lambda:" + F(8, 5, pass.dlam));
  out.blank();
  out.record(" divergence of the primary beam");
  out.record(" parallel to the scattering plane of the primary reflection:" + F(6, 4, p.diverp));
  out.record(" normal   to the scattering plane of the primary reflection:" + F(6, 4, p.divers));
  out.blank();
  out.record(" mosaic spread (degrees)  :" + F(7, 3, p.eta));
  out.record(" mosaic block radius (mue):" + F(7, 2, p.radius));
  out.record(" Maximum possible h, k, l  :" + I(5, r.hmax) + I(5, r.kmax) + I(5, r.lmax));
  out.record(" Reference direction       :" + F(5, 1, ref[0]) + F(5, 1, ref[1]) + F(5, 1, ref[2]) +
             X(3));
  out.record(std::string(" Psi=0 difference between diffractometer and ") +
             "reference direction: PsiD =" + F(8, 2, p.psid));

  out.blank(2);
  const double deg = double(kRadToDeg);
  out.record(" theta                of the primary reflection:" +
             F(7, 2, static_cast<float>(pp.theta_p * deg)));
  out.record(" Interplanar spacing  of the primary reflection:" + F(7, 4, p.dp));
  out.record(" fcalc                of the primary reflection:" + F(7, 2, p.f));
  out.record(" calculated intensity of the primary reflection:" +
             F(12, 2, static_cast<float>(pp.iprim)));
  out.record(" measured intensity   of the primary reflection:" + F(12, 2, meas.intensity) +
             " +/- " + F(8, 2, meas.error) + X(2) + "in the psi-interval:" + F(10, 3, p.psi1) +
             F(10, 3, p.psi2));
  out.record(" phase                of the primary reflection:" + F(7, 2, p.phi_deg));
  out.record(" Lorentz-factor       of the primary reflection:" +
             F(7, 2, static_cast<float>(pp.l_p)));
  out.record(" absorption factor    of the primary reflection:" +
             F(7, 2, static_cast<float>(pp.a_p)));
  out.record(" FWHM (theta-scan)    of the primary reflection:" +
             F(7, 3, static_cast<float>(pp.fwhm_theta_deg)));
  out.record(" Darwin-width         of the monochromator     :" +
             F(7, 5, static_cast<float>(p.dwmono * std::tan(double(p.thmono)) * deg)));
  out.blank(2);
  out.record(" Multiple diffraction-events with intensity greater than" + F(10, 4, p.drumin));
  out.blank();
  std::string head;
  for (int i = 0; i < 2; ++i)
    head += X(3) + "H" + X(3) + "K" + X(3) + "L" + X(6) + "F" + X(5) + "phi" + X(2) + "THETA";
  head += X(6) + "Ikaven" + X(6) + "Iaufhe" + X(3) + "p12" + X(1) + " abs*" + X(7) + "FWHM" +
          X(4) + "BETA" + X(4) + " PSI";
  out.record(head);
  out.blank();
  if (p.drumin > 0) {
    for (const MultipleDiffractionEvent& e : r.events) {
      if (!listed_event(p, e)) continue;
      std::string line = I(4, std::lround(e.h1)) + I(4, std::lround(e.k1)) +
                         I(4, std::lround(e.l1)) + F(8, 2, e.f1) + F(7, 1, listed_phase_deg(e.phase1)) +
                         F(7, 2, e.theta1 * deg) + I(4, std::lround(e.h2)) +
                         I(4, std::lround(e.k2)) + I(4, std::lround(e.l2)) + F(8, 2, e.f2) +
                         F(7, 1, listed_phase_deg(e.phase2)) + F(7, 2, e.theta2 * deg);
      line += F(12, 2, e.ikaven / e.fwhm) + F(12, 2, e.iaufhe / e.fwhm) + F(6, 2, e.p12) +
              F(6, 2, 1.0 / e.abs) + A(5, e.crossing == static_cast<float>(Crossing::first) ? "i-o" : "o-i") + F(6, 3, e.fwhm) +
              F(8, 2, e.beta) + F(9, 3, e.psi);
      out.record(line);
    }
  }
  out.blank(2);
  out.record(std::string(" Number of events in a 360 degree scan") +
             " (extinct/non extinct)                    :" + I(7, r.full_turn));
  out.record(" Number of operative reflections (Prager formula)" + X(31) + ":" + I(7, r.prager));
}

}  // namespace kaven
