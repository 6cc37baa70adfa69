#include "plot/postscript_plotter.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "report/listing.hpp"
#include "report/record_format.hpp"

namespace kaven {
namespace {

using rec::F;

double points(float cm) { return double(cm) * double(kPointsPerCm); }
double points(double cm) { return cm * double(kPointsPerCm); }

// A point (x, y) in cm as two fields of width w with one decimal, in points.
template <class T>
void append_point(std::string& r, int w, T x, T y) {
  rec::append_F(r, w, 1, points(x));
  rec::append_F(r, w, 1, points(y));
}
template <class T>
std::string pt(int w, T x, T y) {
  std::string r;
  append_point(r, w, x, y);
  return r;
}

std::string shown(std::string_view text) { return "(" + postscript_escape(text) + ") s"; }

const char* const kTimesRoman14 = "/Times-Roman findfont [14 0 0 14 0 0] makefont setfont";

}  // namespace

std::string postscript_escape(std::string_view text) {
  // Balanced parentheses are legal inside a PostScript string and stay as they are
  // ("(I-calc (cps)) s"); an unmatched one and every backslash get a backslash.
  std::vector<bool> escape(text.size(), false);
  std::vector<std::size_t> open;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '(') {
      open.push_back(i);
    } else if (text[i] == ')') {
      if (open.empty())
        escape[i] = true;
      else
        open.pop_back();
    } else if (text[i] == '\\') {
      escape[i] = true;
    }
  }
  for (std::size_t i : open) escape[i] = true;
  std::string s;
  s.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (escape[i]) s += '\\';
    s += text[i];
  }
  return s;
}

namespace {

// The first two records of the prolog.
std::array<std::string, 2> prolog_head() {
  return {rec::pad("%!", 70), rec::pad("/m  {moveto} def", 17) + rec::pad("/l  {lineto} def", 17) +
                                  rec::pad("/s  {show  } def", 17) + rec::pad("/st {stroke} def", 17)};
}

}  // namespace

bool starts_as_kaven_postscript(std::istream& is) {
  for (const std::string& expected : prolog_head()) {
    std::string line(expected.size() + 1, '\0');
    is.read(line.data(), static_cast<std::streamsize>(line.size()));
    if (is.gcount() != static_cast<std::streamsize>(line.size()) || line != expected + '\n')
      return false;
  }
  return true;
}

void PostScriptPlotter::plots() {
  for (const std::string& r : prolog_head()) record(r);
  record(rec::pad("/rl {rlineto} def", 70));
  record(rec::pad("/s  {show  } def", 70));
  // Landscape: the origin 610 points right and 20 points up on the portrait sheet,
  // x along its long side.
  record(rec::pad("610 20 translate 90 rotate", 70));
}

void PostScriptPlotter::transl(float x, float y) {
  record(F(10, 2, points(x)) + F(10, 2, points(y)) + "  translate");
}

void PostScriptPlotter::fonts(float size, std::string_view name) {
  const auto pt_size = static_cast<long long>(points(size));  // truncated
  record("/" + rec::pad(name, 20) + " findfont" + rec::I(4, pt_size) + " scalefont setfont");
}

void PostScriptPlotter::newpen(int i) {
  static const char* const pens[] = {" 0 0 0 setrgbcolor", " 1 0 0 setrgbcolor",
                                     " 0 1 0 setrgbcolor", " 0 0 1 setrgbcolor"};
  if (i >= 0 && i <= 3) record(pens[i]);
}

void PostScriptPlotter::dash(int i) {
  static const char* const patterns[] = {"[5 0] 0 setdash", "[5 3] 0 setdash", "[2 3] 0 setdash",
                                         "[6 4 2 4] 0 setdash"};
  if (i >= 0 && i <= 3) record(patterns[i]);
}

void PostScriptPlotter::rgbpen(float r, float g, float b) {
  auto share = [](float v) { return F(6, 3, std::clamp(double(v), 0.0, 1.0)); };
  record(share(r) + share(g) + share(b) + " setrgbcolor");
}

void PostScriptPlotter::linewidth(float points) {
  record(F(7, 2, std::max(0.0, double(points))) + " setlinewidth");
}

void PostScriptPlotter::plot(float x, float y, int ipen) {
  if (ipen == 3) {
    record(pt(8, x, y) + " m");
  } else if (ipen == 2) {
    // Every draw strokes at once, so it needs the move before it.
    record(pt(8, x, y) + " l st ");
  } else if (ipen == 999) {
    record("showpage");
    out_.flush();
  }
}

void PostScriptPlotter::symbol(float x, float y, float /*height*/, std::string_view text,
                               float angle, int n) {
  record(pt(8, x, y) + " m");
  if (angle > 0) record(" " + F(7, 2, angle) + " rotate");
  record(shown(rec::pad(text, static_cast<std::size_t>(std::max(n, 0)))));
  if (angle > 0) record(pt(6, x, y) + " m " + F(7, 2, -double(angle)) + " rotate");
}

void PostScriptPlotter::number(float x, float y, float /*height*/, float value, float /*angle*/,
                               int ndec) {
  record(pt(6, x, y) + " m");
  const NumberField f = number_field(value, ndec);
  if (f.too_large) {
    if (messages_) messages_->record(kNumberTooLarge);
    return;
  }
  record(shown(f.text));
}

void PostScriptPlotter::frame(int /*i*/, float x1, float x2, float y1, float y2) {
  const double w = (double(x2) - x1) * double(kPointsPerCm);
  const double h = (double(y2) - y1) * double(kPointsPerCm);
  // Up the left edge, along the top, down the right edge, closed along the bottom.
  record("newpath " + pt(6, x1, y1) + " m  0 " + F(6, 1, h) + " rl " + F(6, 1, w) + " 0 rl" +
         " 0 " + F(6, 1, -h) + " rl closepath ");
  record("  0.5 setlinewidth st");
}

// Polyline records: "x y l" items, `per_record` to a record.
template <class Points>
void PostScriptPlotter::lineto_records(const Points& p, std::size_t from, std::size_t to, int w,
                                       std::size_t per_record) {
  std::size_t on_record = 0;
  for (std::size_t i = from; i < to; ++i) {
    append_point(text_, w, p[i].x, p[i].y);
    text_ += " l";
    if (++on_record == per_record) {
      text_ += '\n';
      on_record = 0;
      write_if_large();
    }
  }
  if (on_record > 0) text_ += '\n';
}

void PostScriptPlotter::line(float dx, std::span<const float> y, int n) {
  const LinePoints p = line_points(dx, y, n);
  if (!p.empty()) {
    append_point(text_, 8, p[0].x, p[0].y);
    text_ += " m\n";
    lineto_records(p, 1, p.size(), 8, 4);
  }
  text_ += "st\n";
  write();
}

void PostScriptPlotter::line1(std::span<const float> x, std::span<const float> y, float w, int n) {
  const std::size_t m = std::min({x.size(), y.size(), static_cast<std::size_t>(std::max(n, 0))});
  if (m == 0) return;
  std::vector<PlotPoint> p;
  p.reserve(m);
  for (std::size_t i = 0; i < m; ++i) p.push_back({double(x[i]), double(y[i])});
  const std::size_t split = line1_split(x, w, m);
  // one stroke, or two split at the wrap-around; each starts with a move to its first
  // point and draws from it again
  auto stroke = [&](std::size_t from, std::size_t to) {
    append_point(text_, 6, p[from].x, p[from].y);
    text_ += " m\n";
    lineto_records(p, from, to, 6, 5);
    text_ += "st\n";
  };
  stroke(0, split);
  if (split < m) stroke(split, m);
  write();
}

void PostScriptPlotter::line2(float dx, std::span<const float> y, int k, int n) {
  const std::vector<PlotPoint> p = line2_points(dx, y, k, n);
  for (std::size_t i = 0; i < p.size(); ++i) {
    append_point(text_, 8, p[i].x, p[i].y);
    text_ += i == 0 ? " m\n" : " l\n";
    write_if_large();
  }
  text_ += "st\n";
  write();
}

void PostScriptPlotter::axis(float x, float y, std::string_view text, int n, float length,
                             float /*angle*/, float first, float delta) {
  const double xe = double(x) + length;
  const double xt = double(x) + 0.5 * length - 0.5, yt = double(y) - 1.5;
  record(pt(6, double(x), double(y)) + " m " + pt(6, xe, double(y)) + " l st " + pt(6, xt, yt) +
         " m ");
  record(shown(rec::pad(text, static_cast<std::size_t>(std::abs(n)))));
  record("/Courier-Bold findfont [10 0 0 12 0 0] makefont setfont");
  for (const AxisTick& t : axis_ticks(x, first, delta)) {
    record(pt(6, t.x, double(y)) + " m" + pt(6, t.x, double(y) - 0.3) + " l st ");
    if (t.labelled)
      number(static_cast<float>(t.x - 0.95), static_cast<float>(double(y) - 0.8), 0.4f, t.value, 0,
             72);
  }
}

void PostScriptPlotter::symbo1(int nshown, int nall, float drumin) {
  record(kTimesRoman14);
  legend_head_lines(*this, nshown, nall, drumin);
  record(pt(8, 22.0f, 2.7f) + " m");
  record("/Symbol findfont [14 0 0 14 0 0] makefont setfont");
  record(shown("y-l"));  // psi-lambda in the Symbol font
  record(kTimesRoman14);
  record(shown("-diagram"));
}

}  // namespace kaven
