// Polarisation factors of a multiple-diffraction event for one linearly polarised
// incident wave. Frame: incident beam k0 along x, primary scattering plane x-y,
// primary reflected beam kp = (cos 2theta_p, sin 2theta_p, 0).
#pragma once

namespace kaven {

struct PolarisationFactors {
  float o1;  // primary reflection
  float o2;  // secondary reflection
  float o3;  // path primary beam -> secondary beam
  float o4;  // path secondary beam -> primary beam direction
  float o5;  // minus the cosine between the polarisations of the direct and the
             // twice-reflected primary wave
};

// Bragg angles in radians; (e1, e2, e3) the incident polarisation (unit, normal to x).
PolarisationFactors polfa(float theta_p, float theta1, float theta2, float e1, float e2,
                          float e3);

// The two calls of an event, sigma (e = (0, 0, 1), normal to the primary plane) and pi
// (e = (0, 1, 0), in it), with the beam directions placed once: each as polfa gives it.
struct SigmaPiFactors {
  PolarisationFactors sigma, pi;
};
SigmaPiFactors polfa_sigma_pi(float theta_p, float theta1, float theta2);

// The primary reflected beam kp = (cos 2theta_p, sin 2theta_p, 0), formed once for the
// events of a pass; the same as polfa_sigma_pi(theta_p, ...) with it.
struct PrimaryBeam {
  double cos2t = 1, sin2t = 0;
};
PrimaryBeam primary_beam(float theta_p);
SigmaPiFactors polfa_sigma_pi(const PrimaryBeam& kp, float theta1, float theta2);

}  // namespace kaven
