// The pen-plotter drawing interface the plot page is written against, and the parts of
// its primitives that do not depend on the back end (number fields, the split of a
// polyline at a wrap-around, the points of a shifted array with gaps, the axis ticks).
//
// Coordinates are centimetres on a landscape page, x to the right, y up, the origin
// where the current translation puts it. A drawing is: plots(), any number of calls,
// plot(0, 0, 999) once. Pen, dash pattern, font, line width and translation persist
// until changed, as in PostScript graphics state. Back ends: PostScript (the plot file),
// SVG (the same page for a browser), a recording one for tests, and a pair that draws
// on two at once.
#pragma once
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/constants.hpp"

namespace kaven {

// y values at or above this mark a point of line2 that is not drawn.
inline constexpr float kGap = 1.0e20f;

class PenPlotter {
 public:
  virtual ~PenPlotter() = default;

  // Starts the drawing: the page is landscape from here on.
  virtual void plots() = 0;
  // Shifts the origin by (x, y) cm for everything that follows.
  virtual void transl(float x, float y) = 0;
  // Selects the font `name` with a character height of `size` cm.
  virtual void fonts(float size, std::string_view name) = 0;
  // Colour: 0 black, 1 red, 2 green, 3 blue; any other value changes nothing.
  virtual void newpen(int i) = 0;
  // Dash pattern: 0 continuous, 1 dashed, 2 dotted, 3 dash-dot; others change nothing.
  virtual void dash(int i) = 0;
  // Colour by its red, green and blue shares (0..1, held within them), for levels of a
  // scale; newpen chooses one of the four pens again.
  virtual void rgbpen(float r, float g, float b) = 0;
  // Width of the lines drawn from here on (points); frame sets it to 0.5.
  virtual void linewidth(float points) = 0;
  // ipen 3: move to (x, y); 2: draw a line to (x, y) from the point of the last move;
  // 999: the page is complete.
  virtual void plot(float x, float y, int ipen) = 0;
  // The first n characters of `text` (blank-padded to n) at (x, y) in the current font,
  // turned by `angle` degrees counter-clockwise when angle > 0; height is not used.
  virtual void symbol(float x, float y, float height, std::string_view text, float angle,
                      int n) = 0;
  // `value` at (x, y): ndec = 10 W + d gives a field W wide with d decimals; ndec <= 0
  // the nearest integer. A value above 10^(W-d) draws nothing and is reported.
  virtual void number(float x, float y, float height, float value, float angle, int ndec) = 0;
  // The rectangle x1..x2 by y1..y2; sets the line width to 0.5 pt for what follows.
  virtual void frame(int i, float x1, float x2, float y1, float y2) = 0;
  // Polyline through (1 + (i-1) dx, y(i)), i = 1..n.
  virtual void line(float dx, std::span<const float> y, int n) = 0;
  // Polyline through (x(i), y(i)), i = 1..n, split once where x jumps by more than
  // 0.8 w (a curve leaving one side of a periodic range and entering the other).
  virtual void line1(std::span<const float> x, std::span<const float> y, float w, int n) = 0;
  // Polyline of y shifted by k steps: y(i) at x = 1 + (i-1+k) dx, only where i-1+k is in
  // 0..n-1, points at kGap or above left out (their neighbours are joined).
  virtual void line2(float dx, std::span<const float> y, int k, int n) = 0;
  // Horizontal axis of `length` cm at (x, y) with 21 ticks 1 cm apart, values
  // first + t delta, every fifth labelled; the title below its middle.
  virtual void axis(float x, float y, std::string_view text, int n, float length, float angle,
                    float first, float delta) = 0;
  // The legend of the psi-lambda diagram; drumin is the threshold of the listed events.
  virtual void symbo1(int nshown, int nall, float drumin) = 0;
};

// ---- the parts of the primitives every back end shares -------------------------

// The text `number` draws, or too_large when the value fails the limit test.
struct NumberField {
  bool too_large = false;
  std::string text;
};
NumberField number_field(float value, int ndec);

// The message `number` writes to the listing for a value that fails the limit test.
inline constexpr std::string_view kNumberTooLarge = "the number is to large";

// line1's split: the 0-based index of the first point of the second stroke, or n when
// the polyline is drawn as one stroke (no jump, or a jump only at the last point).
std::size_t line1_split(std::span<const float> x, float w, std::size_t n);

struct PlotPoint {
  double x, y;  // cm
};

// The points line draws, (1 + i dx, y(i)) for i = 0..n-1, formed when asked for (a
// scan has hundreds of thousands).
struct LinePoints {
  float dx;
  std::span<const float> y;
  std::size_t size() const { return y.size(); }
  bool empty() const { return y.empty(); }
  PlotPoint operator[](std::size_t i) const { return {1.0 + double(i) * dx, double(y[i])}; }
};
LinePoints line_points(float dx, std::span<const float> y, int n);
// The points line2 draws, in order.
std::vector<PlotPoint> line2_points(float dx, std::span<const float> y, int k, int n);

// One tick of axis: its position and value; labelled ticks carry a number.
struct AxisTick {
  double x;  // cm
  float value;
  bool labelled;
};
std::vector<AxisTick> axis_ticks(float x, float first, float delta);

// The first legend line of symbo1.
enum class LegendHead { all_events, events_above, no_events };
LegendHead legend_head(int nshown, int nall);
// The first two legend lines of symbo1 ("All events" or "Events with I(cps) >" and the
// threshold, or "No events"; then "are plotted in the") in the font already selected.
void legend_head_lines(PenPlotter& out, int nshown, int nall, float drumin);

}  // namespace kaven
