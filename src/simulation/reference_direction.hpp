// The psi = 0 reference of a scan: a reciprocal-lattice direction r perpendicular to the
// primary scattering vector h_p in the metric G*, and the offset PsiD between it and the
// psi = 0 position of the diffractometer, computed from the orientation matrix.
#pragma once
#include <array>

#include "input/run_parameters.hpp"

namespace kaven {

// r from q = G* h_p by the first rule that applies (threshold 1e-5 on |q_i|):
// (-q2/q1, 1, 0); (1, -q1/q2, 0); (1, 0, -q1/q3).
std::array<float, 3> reference_direction(const RunParameters& par);

// psi of the direction (h1, h2, h3) about the primary axis in the diffractometer frame
// of the orientation matrix par.ub (degrees, negative for a negative u_c).
float upsi(const RunParameters& par, float h1, float h2, float h3);

// The orientation matrix of the run turned about the primary scattering vector as the
// diffractometer sees it (UB h_p), by the angle that moves PsiD by `delta_deg`: the
// crystal turned about the axis of the scan, which moves every event by that angle
// and nothing else.
std::array<float, 9> ub_turned(const RunParameters& par, double delta_deg);

}  // namespace kaven
