#include "plot/pen_plotter.hpp"

#include <cmath>
#include <cstdlib>

#include "report/record_format.hpp"

namespace kaven {

NumberField number_field(float value, int ndec) {
  if (ndec > 0) {
    const int w = ndec / 10, d = ndec % 10;
    // The limit compares the value itself, not its magnitude: a negative value always
    // passes and may still overflow its field (then it shows as asterisks).
    if (double(value) > std::pow(10.0, w - d)) return {true, {}};
    return {false, rec::F(w, d, value)};
  }
  // The nearest integer (halves away from zero) in a field one wider than its digits:
  // a positive number gets a leading blank, a negative one its sign there.
  const long long k = std::llround(double(value));
  const std::string digits = std::to_string(k < 0 ? -k : k);
  return {false, rec::I(static_cast<int>(digits.size()) + 1, k)};
}

std::size_t line1_split(std::span<const float> x, float w, std::size_t n) {
  n = std::min(n, x.size());
  std::size_t p = n;
  for (std::size_t i = 1; i < n; ++i)
    if (std::fabs(double(x[i]) - x[i - 1]) > 0.8 * double(w)) p = i;
  // A jump at the last point leaves a single point for the second stroke: drawn whole.
  return p + 1 == n ? n : p;
}

LinePoints line_points(float dx, std::span<const float> y, int n) {
  return {dx, y.first(std::min(y.size(), static_cast<std::size_t>(std::max(n, 0))))};
}

std::vector<PlotPoint> line2_points(float dx, std::span<const float> y, int k, int n) {
  std::vector<PlotPoint> pts;
  const long m = static_cast<long>(std::min(y.size(), static_cast<std::size_t>(std::max(n, 0))));
  for (long i = 0; i < m; ++i) {
    const long j = i + k;
    if (j < 0 || j >= n || y[static_cast<std::size_t>(i)] >= kGap) continue;
    pts.push_back({1.0 + double(j) * dx, double(y[static_cast<std::size_t>(i)])});
  }
  return pts;
}

std::vector<AxisTick> axis_ticks(float x, float first, float delta) {
  std::vector<AxisTick> ticks;
  for (int t = 0; t <= 20; ++t) {
    const float v = static_cast<float>(first + double(t) * delta);
    ticks.push_back({double(x) + (double(v) - first) / delta, v, t % 5 == 0});
  }
  return ticks;
}

LegendHead legend_head(int nshown, int nall) {
  if (nshown == nall) return LegendHead::all_events;
  return nshown > 0 ? LegendHead::events_above : LegendHead::no_events;
}

void legend_head_lines(PenPlotter& out, int nshown, int nall, float drumin) {
  switch (legend_head(nshown, nall)) {
    case LegendHead::all_events:
      out.symbol(22, 3.9f, 0.2f, "All events", 0, 10);
      break;
    case LegendHead::events_above:
      out.symbol(22, 3.9f, 0.2f, "Events with I(cps) >", 0, 20);
      out.number(26, 3.9f, 0.2f, drumin, 0, 92);
      break;
    case LegendHead::no_events:
      out.symbol(22, 3.9f, 0.2f, "No events", 0, 9);
      break;
  }
  out.symbol(22, 3.3f, 0.2f, "are plotted in the", 0, 18);
}

}  // namespace kaven
