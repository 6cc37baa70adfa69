// The absolute scale of the simulation and the reduction of the measured scan: the
// incident intensity I0 from the reference reflections (or its default), the measured
// extremes and integrated intensity of the primary with their counting errors, and the
// psi offset between measured and calculated scans.
#pragma once

namespace kaven {

enum class ScaleSource {
  references,     // I0 = refsum / nref
  no_references,  // a scan file was read but held no accepted reference
  default_i0,     // no scan file: the built-in or input I0
};

struct ScanReduction {
  float imeas = 0;                 // measured I-prim: mean over psi1..psi2 (cps)
  float mmax = 0, mmin = 1.0e6f;   // measured extremes after the background (cps)
  float psi_mmax = 0, psi_mmin = 0;  // degrees
  float s_max = 0, s_min = 0, s_b = 0, s_i = 0, s_maxi = 0, s_mini = 0;  // counting errors
};

struct Deviation {
  int shift = 0;     // best shift j of the calculated against the measured scan (steps)
  float dev = 0;     // j / zsw (degrees); 0 when reset
  bool searched = false;
};

}  // namespace kaven
