// The absolute scale of the simulation and the reduction of the measured scan: the
// incident intensity I0 from the reference reflections (or its default), the measured
// extremes and integrated intensity of the primary with their counting errors, and the
// psi offset between measured and calculated scans.
//
// Counting errors are Poisson errors of the rates: in the tube mode the CAD4 rates are
// counts scaled by 1/60, which the factor 0.1291 = 1/sqrt(60) carries into the error.
#pragma once
#include <vector>

#include "input/run_parameters.hpp"
#include "scans/measured_scan.hpp"
#include "simulation/scan_simulation.hpp"

namespace kaven {

enum class ScaleSource {
  references,     // I0 = refsum / nref
  no_references,  // a scan file was read but held no accepted reference
  default_i0,     // no scan file: the built-in or input I0
};

struct ScaleFactor {
  ScaleSource source = ScaleSource::default_i0;
  float i0 = 0;              // incident intensity of the run (counts mm^-2 s^-1)
  bool znwo4 = false;        // the default raised fivefold (plot name begins "znwo4")
};

// I0 of the run: from the reference reflections of the measured-scan file when it held
// any, otherwise the run's default (times 5 for the plot names beginning "znwo4").
// `file_read`: a measured-scan file was named and read.
ScaleFactor scale_factor(const RunParameters& par, const MeasuredScan& scan, bool file_read);

struct ScanReduction {
  float imeas = 0;                 // measured I-prim: mean over psi1..psi2 (cps)
  float mmax = 0, mmin = 1.0e6f;   // measured extremes after the background (cps)
  float psi_mmax = 0, psi_mmin = 0;  // degrees
  float background = 0;            // B of the measured scan (cps)
  float s_max = 0, s_min = 0, s_b = 0, s_i = 0, s_maxi = 0, s_mini = 0;  // counting errors
};

// The measured I-prim over the steps of psi1..psi2, then every measured step of `scan`
// brought to its value above the background (tube mode) and cut at 0 in place, the
// extremes (the later step wins a tie) and the counting errors. Afterwards the
// intensities of `scan` are what the comparison and the plot use.
ScanReduction reduce_measured_scan(const RunParameters& par, MeasuredScan& scan);

// The measured I-prim and its error as the primary block of wavelength pass `pass`
// (0 or 1) shows them: in the tube mode the K-alpha1 line holds 2/3 of the measured
// intensity and the K-alpha2 line 1/3.
struct MeasuredShare {
  float intensity = 0, error = 0;
};
MeasuredShare measured_share(const RunParameters& par, const ScanReduction& red, int pass);

struct Deviation {
  int shift = 0;     // best shift j of the calculated against the measured scan (steps); 0 when reset
  float dev = 0;     // j / zsw (degrees); 0 when reset
  bool searched = false;
  int found = 0;          // the best shift before the reset (steps)
  float best_r = 1.0e8f;  // its relative misfit E/W
};

// The shift of the calculated scan against the measured one with the smallest relative
// misfit: r(j) = sum |meas(m) - f calc(m + j)| / sum |meas(m)| over the measured steps
// below 0.8 M_max (strong peaks left out), f = M_max/C_max, j within +-ANINT(zsw) steps
// (+-10 for zsw <= 5). The first of equal misfits wins; a shift of 0.1 degree or more
// is not believed and gives 0.
Deviation find_deviation(const RunParameters& par, const MeasuredScan& scan,
                         const ScanReduction& red, const ScanProfile& calc);

}  // namespace kaven
