// The pen-plotter primitives written as an SVG page, so that the plot opens in any web
// browser: the landscape A4 sheet of the PostScript page (842 x 595 points) with the
// drawing where the PostScript prolog puts it (origin 20 points from the left edge and
// 610 points below the top edge), the same coordinates, colours, dash patterns, line
// widths and text rotation. Fonts keep their family name with the generic family as
// fallback (Times serif, Courier monospace, Helvetica sans-serif); texts in the Symbol
// font are written as the Greek letters they stand for (y psi, l lambda, q theta, j phi).
//
// The page is written as it is drawn, in pieces of 64 kB behind its head, and ends with
// plot(..., 999).
#pragma once
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "plot/pen_plotter.hpp"

namespace kaven {

class SvgPlotter final : public PenPlotter {
 public:
  explicit SvgPlotter(std::ostream& out) : out_(out) {}

  void plots() override;
  void transl(float x, float y) override;
  void fonts(float size, std::string_view name) override;
  void newpen(int i) override;
  void dash(int i) override;
  void rgbpen(float r, float g, float b) override;
  void linewidth(float points) override;
  void plot(float x, float y, int ipen) override;
  void symbol(float x, float y, float height, std::string_view text, float angle, int n) override;
  void number(float x, float y, float height, float value, float angle, int ndec) override;
  void frame(int i, float x1, float x2, float y1, float y2) override;
  void line(float dx, std::span<const float> y, int n) override;
  void line1(std::span<const float> x, std::span<const float> y, float w, int n) override;
  void line2(float dx, std::span<const float> y, int k, int n) override;
  void axis(float x, float y, std::string_view text, int n, float length, float angle, float first,
            float delta) override;
  void symbo1(int nshown, int nall, float drumin) override;

 private:
  struct Font {
    std::string family = "Times";   // the PostScript family
    std::string generic = "serif";  // its generic family
    bool bold = false;
    bool symbol = false;              // Latin letters stand for Greek ones
    double size_x = 12, size_y = 12;  // points: width and height scale of the glyphs
  };
  struct ViewPoint {
    double u, v;  // points on the SVG sheet, v downwards
  };

  ViewPoint view(double x_cm, double y_cm) const;
  void select_font(std::string_view name, double size_x, double size_y);
  void moveto(double x_cm, double y_cm);
  void lineto(double x_cm, double y_cm);
  void rlineto(double dx_pt, double dy_pt);
  void stroke();
  void show(std::string_view text);
  void end_text();
  // A path from `start` through the points from..to-1, stroked: what moveto, lineto and
  // stroke draw, formed directly on the page.
  template <class Points>
  void stroke_polyline(PlotPoint start, const Points& p, std::size_t from, std::size_t to);
  void end_path_element();  // the attributes of the pen and the end of a path element
  // What is drawn so far, behind the page's head (written first, once a page).
  void write_body();

  std::ostream& out_;
  std::string body_;  // drawn and not yet written
  bool head_written_ = false;
  double tx_ = 0, ty_ = 0;  // translation, points
  Font font_;
  std::string colour_ = "#000000";
  std::string dasharray_;  // empty: continuous
  double line_width_ = 1.0;
  double rotation_ = 0;  // degrees, counter-clockwise, while a turned text is shown
  std::string path_;
  bool path_has_segment_ = false;
  std::optional<ViewPoint> current_;
  ViewPoint subpath_start_{0, 0};
  // A shown text leaves the current point at its end; a text shown right after it
  // continues the same line (a tspan of the open text element).
  bool text_open_ = false;
};

// Text in the Symbol font as the characters it shows (Greek letters, the minus sign).
std::string symbol_font_text(std::string_view text);

// The first lines of every page: the XML declaration, the svg element with the sheet
// size, the style of the font classes.
std::string svg_document_head();
// Whether a file starts as a page of this plotter does (a file kaven may replace).
bool starts_as_kaven_svg(std::istream& is);

}  // namespace kaven
