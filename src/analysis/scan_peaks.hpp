// Peaks and dips of a psi scan, measured or simulated, by their topographic prominence:
// a local maximum rises above the higher of the two lowest levels that separate it from
// a higher point on either side (or from the end of the scan); a dip is the same for the
// negated scan. A feature counts when its prominence exceeds a threshold, for a
// measured scan a multiple of the counting noise estimated from the scan itself: the
// second difference y_i - (y_i-1 + y_i+1)/2 of a smooth curve is near zero, and of
// independent noise of deviation s it has the deviation s sqrt(3/2), so its median
// absolute deviation gives s without any model of the curve.
//
// The levels are looked for within a window of a few peak widths, so that the level of
// the scan between two peaks does not count as a dip. A measured scan is smoothed over
// three points (1 2 1) to find the features; the position is then the vertex of the
// parabola through the highest (lowest) unsmoothed point and its neighbours.
#pragma once
#include <span>
#include <vector>

namespace kaven {

struct ScanFeature {
  bool peak = true;        // a peak (maximum); false: a dip (minimum)
  std::size_t index = 0;   // the point of the series at the extreme
  double psi = 0;          // degrees, between the points by the parabola
  double value = 0;        // at the extreme point
  double prominence = 0;   // above (below) the level it rises from (> 0)
  double fwhm_deg = 0;     // full width at half the prominence
};

// The deviation of a single value from the scatter of second differences (0 for fewer
// than three values).
double noise_from_scatter(std::span<const double> y);

struct FeatureOptions {
  double min_prominence = 0;  // features at or below are left out
  bool smooth = true;         // 1 2 1 smoothing to find them (measured scans)
  // The levels a feature rises from are looked for within this distance (degrees; 0:
  // the whole scan). A few peak widths: the level of the scan between two peaks is no
  // dip, only a dip below its surroundings is.
  double window_deg = 0;
};

// The peaks and dips of y over psi (ascending), in the order of psi. A maximum or
// minimum at either end of the series is no feature (its other side is not measured).
std::vector<ScanFeature> find_features(std::span<const double> psi, std::span<const double> y,
                                       const FeatureOptions& opt);

// The smallest prominence a measured feature needs: this many times the noise.
inline constexpr double kProminenceInNoise = 5.0;

}  // namespace kaven
