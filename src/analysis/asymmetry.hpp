// The asymmetry of a multiple-diffraction peak: which side of it is enhanced.
//
// The interference of the wave reflected twice (h, then h_p - h) with the primary wave
// adds 2 sqrt(I_p I_e) cos(Phi + pi/2 + atan(x/s)) to the scan, x the distance from the
// event towards its outer side: far on the one side the term is cos Phi, far on the
// other -cos Phi, so that the sign of cos Phi, the triplet phase's, decides which side of
// the peak lies above the background and which below it. For the first crossing the
// side before the event (lower psi) is enhanced when cos Phi > 0; the second crossing
// runs the other way round.
//
// Measured as a number: A = (m_after - m_before) / h, with m the mean intensity above
// the background in a window on each side (from one to three peak widths from the
// maximum, short of a neighbouring peak) and h the peak's height above the background.
// A > 0: the side after the peak (higher psi) is enhanced. Its uncertainty from the
// noise s of single values is s sqrt(1/n_after + 1/n_before) / h; an asymmetry within
// twice that has no sign.
#pragma once
#include <span>

namespace kaven {

struct Asymmetry {
  bool formed = false;  // windows on both sides held points
  double value = 0;     // A
  double sigma = 0;     // its uncertainty (0 for a curve without noise)
  int sign = 0;         // +1 after enhanced, -1 before enhanced, 0 none
};

struct PeakWindows {
  double centre = 0;  // psi of the maximum (degrees)
  double inner = 0;   // the windows reach from inner ...
  double outer = 0;   // ... to outer degrees from the centre
};

// Windows for a peak of width `fwhm` at `centre`, short of the nearest other peak at a
// distance `neighbour` (degrees; infinity when there is none).
PeakWindows peak_windows(double centre, double fwhm, double neighbour);

// A of y over psi with the background level bg (same length), peak height `height`,
// noise of single values `noise` (0 for a calculated curve: the sign then needs
// |A| above kAsymmetryFloor).
Asymmetry asymmetry(std::span<const double> psi, std::span<const double> y,
                    std::span<const double> bg, const PeakWindows& w, double height, double noise);

inline constexpr double kAsymmetryFloor = 1e-3;

// "after", "before" or "none".
const char* enhanced_side(int sign);

}  // namespace kaven
