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
#include "scattering/sphere_tables.hpp"

namespace kaven {

// One wavelength pass: Kalpha1 or Kalpha2 of a tube, or the synchrotron line.
struct WavelengthPass {
  float lambda;  // Å
  float dlam;    // deltalambda / lambda
  float weight;
};

// The passes of a run: Kalpha1 then Kalpha2 (weights flam1, flam2) in the tube mode, the
// one synchrotron line otherwise.
std::vector<WavelengthPass> wavelength_passes(const RunParameters& par);

// Values of the primary reflection for one pass.
struct PrimaryPass {
  double lambda, k, kmin, kmax;  // Å, Å^-1
  double theta_p;                // radians
  double a_p;                    // absorption value
  double pol_p, l_p, q_p, y_p;   // polarisation, Lorentz factor, reflectivity, extinction
  double k_block;                // block factor K >= 1
  double lambda_p;               // extinction length of the primary (cm), 0 if absent
  double scale;                  // S
  double fwhm_theta_deg;         // width of the theta scan
  double iprim;                  // integrated intensity of the primary (cps)
  double t_b;                    // mean block thickness (cm)
};

PrimaryPass primary_pass(const RunParameters& par, const ExtinctionTable& ext,
                         const WavelengthPass& pass);

// What the event search knows of a candidate.
struct EventGeometry {
  double rho;      // distance of h from the primary axis (Å^-1)
  double t;        // (|h_p|/2 - p)^2
  double beta_deg; // half angle Delta between the two crossings
  double cos_delta;
  float f1, f2;          // |F| of secondary and coupling reflection
  float phase1, phase2;  // radians
  double theta1, theta2; // Bragg angles (radians)
};

struct EventValues {
  double ikaven, iaufhe;  // integrated, without K^2
  double fwhm, w_in, w_out;  // degrees
  double eta_m;
  double p12, abs;
  double c_int;
  double peak;     // max(Ikaven, Iaufhe)/FWHM K^2
  double triplet;  // phase1 + phase2 - phase_p (radians)
};

EventValues event_values(const RunParameters& par, const PrimaryPass& pp,
                         const EventGeometry& g);

}  // namespace kaven
