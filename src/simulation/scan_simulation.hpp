// The simulated Renninger scan: the primary intensity I-prim plus, at each psi step,
// the profiles of every crossing that entered (asymmetric pseudo-Voigt, area 1), each
// carrying the intensity the double reflection adds (Ikaven), the intensity taken out
// of the primary beam (Iaufhe) and, when asked for, the interference term of the
// triplet phase.
#pragma once
#include <vector>

namespace kaven {

struct ScanProfile {
  std::vector<float> intensity;  // cps per step i = 0..nstep at psi = psia + i/zsw
  float iprim_total = 0;         // sum of the passes' I-prim (cps)
  float max = 0, min = 1.0e9f;   // calculated extremes (cps); later steps win ties
  float psi_max = 0, psi_min = 0;  // degrees
  long entered = 0;              // crossings that entered the scan
};

}  // namespace kaven
