// Integrated intensities of the primary reflection and of the multiple-diffraction
// events, in a kinematical model of a mosaic-crystal sphere whose blocks limit the
// extinction.
//
// Ikaven: the intensity the double reflection (incident -> secondary h -> coupling
// h_p - h) adds in the primary beam direction; Iaufhe: the intensity the event takes
// out of the primary beam. Both in counts per second through the scale constant
// S = pi R^2 3282.8064 w I0 (R in cm, I0 per mm^2 and second). Extinction lengths
// Lambda = 1/(Gamma |F|) in cm; a reflection with |F| <= 0.001 is absent and enters no
// term through its extinction length.
#pragma once
#include <vector>

#include "input/run_parameters.hpp"
#include "scattering/polarisation.hpp"
#include "scattering/sphere_tables.hpp"

namespace kaven {

// One wavelength pass: Kalpha1 or Kalpha2 of a tube, or the synchrotron line.
struct WavelengthPass {
  float lambda;  // Å
  float dlam;    // deltalambda / lambda
  float weight;  // w of the scale constant S (flam1, flam2)
};

// The passes of a run: Kalpha1 then Kalpha2 (weights flam1, flam2) in the tube mode, the
// one synchrotron line otherwise.
std::vector<WavelengthPass> wavelength_passes(const RunParameters& par);

// Values of the primary reflection for one pass.
struct PrimaryPass {
  double lambda;          // Å
  double k, kmin, kmax;   // wave number 1/lambda and the limits of the band (Å^-1)
  double theta_p;         // Bragg angle (radians)
  double a_p;             // sphere absorption value A = 1/T (1 when mu R >= 31.5)
  double pol_p;           // polarisation factor
  double l_p;             // Lorentz factor (radians of rocking per unit of k)
  double q_p;             // integrated reflectivity per unit thickness (cm^-1), 0 if absent
  double y_p;             // effective extinction thickness Y_p (cm)
  double k_block;         // block factor K >= 1
  double lambda_p;        // extinction length of the primary (cm), 0 if absent
  double scale;           // S = pi R^2 3282.8064 w I0 (cps per unit of the intensity terms)
  double fwhm_theta_deg;  // width of the theta scan (degrees)
  double iprim;           // integrated intensity of the primary (cps)
  double t_b;             // mean block thickness (cm)
  double half_spread_deg; // half of the mosaic spread and the normal divergence (degrees)
  double cos_half_spread, sin_half_spread;  // of that angle
  double band_circle_min, band_circle_max;  // radii of the sphere-centre circles of the band limits (Å^-1)
  PrimaryBeam beam;       // primary reflected beam of the polarisation frame
  double centre_radius;   // radius cos(theta_p)/lambda of the Ewald-sphere centre's circle (Å^-1)
  double a_min;           // smallest sphere absorption value of any Bragg angle
};

PrimaryPass primary_pass(const RunParameters& par, const ExtinctionTable& ext,
                         const WavelengthPass& pass);

// What the event search knows of a candidate.
struct EventGeometry {
  double rho;             // distance of h from the primary axis (Å^-1)
  double t;               // (|h_p|/2 - p)^2, p the axial component of h (Å^-2)
  double beta_deg;        // half angle Delta between the two crossings (degrees)
  double cos_delta;       // cos Delta
  float f1, f2;           // |F| of the secondary and the coupling reflection (electrons)
  float phase1, phase2;   // their phases (radians)
  double theta1, theta2;  // their Bragg angles (radians)
};

// The values of one event. Ikaven and Iaufhe are integrated over the psi profile (cps
// times degrees of psi): divided by the FWHM they give the peak height in cps.
struct EventValues {
  double ikaven;   // added to the primary beam by the double reflection, without K^2
  double iaufhe;   // taken out of the primary beam, without K^2
  double fwhm;     // full width of the psi profile (degrees)
  double w_in;     // half width on the side towards the partner crossing (degrees)
  double w_out;    // half width on the other side (degrees)
  double eta_m;    // pseudo-Voigt mixing parameter of the profile (0..1)
  double p12;      // polarisation factor of the path secondary -> coupling reflection
  double abs;      // absorption value sqrt(A1 A2) (the listing prints 1/abs)
  double c_int;    // interference polarisation
  double peak;     // max(Ikaven, Iaufhe) / FWHM K^2 (cps)
  double triplet;  // triplet phase phase1 + phase2 - phase_p (radians)
};

// The psi profile of an event and its Lorentz factor: the first steps of its values,
// which need neither Bragg angle.
struct EventProfile {
  // h lies between the planes through 0 and through h_p normal to the primary axis
  bool between;
  double a_lo, a_hi;         // touching azimuths, degrees (a_lo = 0: no inner side)
  double w_in, w_out, fwhm;  // half widths and full width of the profile (degrees)
  double l_e;                // event Lorentz factor, 0 for a profile without distance change
};
EventProfile event_profile(const RunParameters& par, const PrimaryPass& pp, const EventGeometry& g);

// An upper bound of the peak value (cps) of a crossing from its geometry and two moduli
// known to within `margin`, whatever its Bragg angles, for passing over weak crossings
// in the search: the polarisation factors are at most 1, the absorption values at least
// a_min, the effective thicknesses at most the extinction-limited thickness of the
// reflections on their path. The peak value depends on the profile only
// through the change D of the distance from the sphere centre over it (the Lorentz
// factor over the width is k / D), which the cosines of the touching azimuths give
// without their angles. At least the peak value of an event with these moduli, or
// moduli a little smaller (a profile formed with them differs a little); +inf where D is
// too small to be bounded away from zero, or where the profile is at the change of its
// form (an inner touching azimuth just vanishing).
double screening_peak_bound(const RunParameters& par, const PrimaryPass& pp, double rho, double t,
                            double beta_deg, double f1, double f2, double margin);

// The event values in their steps: extinction lengths, profile widths, event Lorentz
// factor, reflectivities, effective thicknesses, polarisation terms, then the
// intensities.
EventValues event_values(const RunParameters& par, const PrimaryPass& pp,
                         const EventGeometry& g);
// The same with the profile formed already.
EventValues event_values(const RunParameters& par, const PrimaryPass& pp, const EventGeometry& g,
                         const EventProfile& profile);

}  // namespace kaven
