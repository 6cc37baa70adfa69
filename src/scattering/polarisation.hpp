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

}  // namespace kaven
