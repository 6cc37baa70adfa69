#include "plot/svg_plotter.hpp"

#include <algorithm>
#include <cmath>
#include <charconv>
#include <cstdlib>
#include <sstream>

#include "core/number_text.hpp"
#include "report/record_format.hpp"

namespace kaven {
namespace {

// The landscape page of the PostScript prolog ("610 20 translate 90 rotate" on the
// portrait sheet), seen upright: x to the right from 20 points, y up from 610 points
// below the top edge.
constexpr double kOriginU = 20, kOriginV = 610;
constexpr double kSheetWidth = 842, kSheetHeight = 595;

// Each text names its PostScript family (font-family="Times") and a class whose style
// lists the family, a common font of the same widths and the generic family. A CSS
// viewer (a web browser, librsvg) takes the style's list; an SVG Tiny viewer such as
// Qt's takes one family name only and reads the attribute.
constexpr const char* kFontStyle =
    "<style>.serif{font-family:Times,'Times New Roman',serif}"
    ".monospace{font-family:Courier,'Courier New',monospace}"
    ".sans-serif{font-family:Helvetica,Arial,sans-serif}</style>\n";

// A coordinate, size or angle with two decimals (correctly rounded; a negative value
// that rounds to zero is written 0.00).
void append_num(std::string& out, double v) {
  if (const std::optional<std::uint64_t> count = decimal_count(std::fabs(v), 2, Ties::to_even)) {
    char buf[32];
    char* const end = buf + sizeof buf;
    char* p = put_decimal_count(end, *count, 2);
    if (*p == '.') *--p = '0';
    if (v < 0 && *count > 0) *--p = '-';
    out.append(p, static_cast<std::size_t>(end - p));
    return;
  }
  char b[400];  // a double has at most 309 integer digits
  const auto r = std::to_chars(b, b + sizeof b, v, std::chars_format::fixed, 2);
  const std::string_view s(b, static_cast<std::size_t>(r.ptr - b));
  out += s == "-0.00" ? std::string_view("0.00") : s;
}

std::string num(double v) {
  std::string s;
  append_num(s, v);
  return s;
}

// "L" or "M" and the point, on a path.
void append_point(std::string& path, char op, double u, double v) {
  path += op;
  append_num(path, u);
  path += ' ';
  append_num(path, v);
}

std::string xml_escape(std::string_view text) {
  std::string s;
  for (char c : text) {
    switch (c) {
      case '&':
        s += "&amp;";
        break;
      case '<':
        s += "&lt;";
        break;
      case '>':
        s += "&gt;";
        break;
      case '"':
        s += "&quot;";
        break;
      default:
        // Control characters are not allowed in XML; the page's texts are plain ASCII.
        if (static_cast<unsigned char>(c) < 0x20)
          s += ' ';
        else
          s += c;
    }
  }
  return s;
}

}  // namespace

std::string symbol_font_text(std::string_view text) {
  // The Symbol font's Latin positions: A..Z and a..z.
  static const char* const upper[26] = {"Α", "Β", "Χ", "Δ", "Ε", "Φ", "Γ", "Η", "Ι",
                                        "ϑ", "Κ", "Λ", "Μ", "Ν", "Ο", "Π", "Θ", "Ρ",
                                        "Σ", "Τ", "Υ", "ς", "Ω", "Ξ", "Ψ", "Ζ"};
  static const char* const lower[26] = {"α", "β", "χ", "δ", "ε", "φ", "γ", "η", "ι",
                                        "ϕ", "κ", "λ", "μ", "ν", "ο", "π", "θ", "ρ",
                                        "σ", "τ", "υ", "ϖ", "ω", "ξ", "ψ", "ζ"};
  std::string s;
  for (char c : text) {
    if (c >= 'A' && c <= 'Z')
      s += upper[c - 'A'];
    else if (c >= 'a' && c <= 'z')
      s += lower[c - 'a'];
    else if (c == '-')
      s += "−";  // the Symbol font's hyphen is the minus sign
    else
      s += c;
  }
  return s;
}

SvgPlotter::ViewPoint SvgPlotter::view(double x_cm, double y_cm) const {
  return {kOriginU + x_cm * double(kPointsPerCm) + tx_,
          kOriginV - (y_cm * double(kPointsPerCm) + ty_)};
}

void SvgPlotter::select_font(std::string_view name, double size_x, double size_y) {
  Font f;
  f.bold = name.find("Bold") != std::string_view::npos;
  if (name.starts_with("Courier")) {
    f.family = "Courier";
    f.generic = "monospace";
  } else if (name.starts_with("Helvetica")) {
    f.family = "Helvetica";
    f.generic = "sans-serif";
  }  // Times, and Symbol with its letters turned into Greek ones: serif
  f.symbol = name == "Symbol";
  f.size_x = size_x;
  f.size_y = size_y;
  font_ = f;
}

void SvgPlotter::end_text() {
  if (text_open_) body_ += "</text>\n";
  text_open_ = false;
}

void SvgPlotter::moveto(double x_cm, double y_cm) {
  end_text();
  const ViewPoint p = view(x_cm, y_cm);
  if (!path_has_segment_) path_.clear();  // a move after a move replaces it
  append_point(path_, 'M', p.u, p.v);
  current_ = p;
  subpath_start_ = p;
}

void SvgPlotter::lineto(double x_cm, double y_cm) {
  end_text();
  if (!current_) {  // PostScript would fail here; draw nothing of this segment
    moveto(x_cm, y_cm);
    return;
  }
  const ViewPoint p = view(x_cm, y_cm);
  append_point(path_, 'L', p.u, p.v);
  path_has_segment_ = true;
  current_ = p;
}

void SvgPlotter::rlineto(double dx_pt, double dy_pt) {
  if (!current_) return;
  const ViewPoint p{current_->u + dx_pt, current_->v - dy_pt};
  append_point(path_, 'L', p.u, p.v);
  path_has_segment_ = true;
  current_ = p;
}

void SvgPlotter::stroke() {
  end_text();
  if (path_has_segment_) {
    body_ += "<path d=\"";
    body_ += path_;
    end_path_element();
  }
  path_.clear();
  path_has_segment_ = false;
  current_.reset();  // stroking ends the path and its current point
}

void SvgPlotter::end_path_element() {
  body_ += "\" stroke=\"";
  body_ += colour_;
  body_ += "\" stroke-width=\"";
  append_num(body_, line_width_);
  body_ += '"';
  if (!dasharray_.empty()) body_ += " stroke-dasharray=\"" + dasharray_ + "\"";
  body_ += "/>\n";
  if (body_.size() >= 65536) write_body();
}

template <class Points>
void SvgPlotter::stroke_polyline(PlotPoint start, const Points& p, std::size_t from, std::size_t to) {
  // As moveto(start), lineto for each point and stroke() would draw it, written as it
  // is formed: a path drawn by one primitive has no other element inside it.
  end_text();
  path_.clear();
  path_has_segment_ = false;
  current_.reset();
  if (from >= to) return;  // a move alone draws nothing
  body_ += "<path d=\"";
  ViewPoint v = view(start.x, start.y);
  append_point(body_, 'M', v.u, v.v);
  for (std::size_t i = from; i < to; ++i) {
    v = view(p[i].x, p[i].y);
    append_point(body_, 'L', v.u, v.v);
    if (body_.size() >= 65536) write_body();
  }
  end_path_element();
}

void SvgPlotter::show(std::string_view text) {
  if (!current_ && !text_open_) return;  // no current point: PostScript would fail
  const std::string content = xml_escape(font_.symbol ? symbol_font_text(text) : std::string(text));
  if (!text_open_) {
    body_ += "<text transform=\"translate(" + num(current_->u) + " " + num(current_->v) + ")";
    if (rotation_ != 0) body_ += " rotate(" + num(-rotation_) + ")";
    if (font_.size_x != font_.size_y) body_ += " scale(" + num(font_.size_x / font_.size_y) + " 1)";
    body_ += "\" stroke=\"none\">";
    text_open_ = true;
  }
  body_ += "<tspan class=\"" + font_.generic + "\" font-family=\"" + font_.family + "\"";
  if (font_.bold) body_ += " font-weight=\"bold\"";
  body_ +=
      " font-size=\"" + num(font_.size_y) + "\" fill=\"" + colour_ + "\">" + content + "</tspan>";
  // The current point is now at the end of the text, where only another text goes on.
  current_.reset();
}


void SvgPlotter::plots() {
  body_.clear();
  head_written_ = false;
  tx_ = ty_ = 0;
  font_ = Font{};
  colour_ = "#000000";
  dasharray_.clear();
  line_width_ = 1.0;
  path_.clear();
  path_has_segment_ = false;
  current_.reset();
  text_open_ = false;
}

void SvgPlotter::transl(float x, float y) {
  end_text();
  tx_ += double(x) * double(kPointsPerCm);
  ty_ += double(y) * double(kPointsPerCm);
}

void SvgPlotter::fonts(float size, std::string_view name) {
  const double pt = std::trunc(double(size) * double(kPointsPerCm));
  select_font(name, pt, pt);
}

void SvgPlotter::newpen(int i) {
  static const char* const pens[] = {"#000000", "#ff0000", "#00ff00", "#0000ff"};
  if (i >= 0 && i <= 3) colour_ = pens[i];
}

void SvgPlotter::dash(int i) {
  static const char* const patterns[] = {"", "5 3", "2 3", "6 4 2 4"};
  if (i >= 0 && i <= 3) dasharray_ = patterns[i];
}

void SvgPlotter::rgbpen(float r, float g, float b) {
  auto share = [](float v) {
    return static_cast<int>(std::lround(std::clamp(double(v), 0.0, 1.0) * 255));
  };
  char c[8];
  std::snprintf(c, sizeof c, "#%02x%02x%02x", share(r), share(g), share(b));
  colour_ = c;
}

void SvgPlotter::linewidth(float points) { line_width_ = std::max(0.0, double(points)); }

std::string svg_document_head() {
  std::ostringstream os;
  os << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
     << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kSheetWidth << "pt\" height=\""
     << kSheetHeight << "pt\" viewBox=\"0 0 " << kSheetWidth << ' ' << kSheetHeight
     << "\" xml:space=\"preserve\">\n"
     << kFontStyle;
  return os.str();
}

bool starts_as_kaven_svg(std::istream& is) {
  const std::string head = svg_document_head();
  std::string start(head.size(), '\0');
  is.read(start.data(), static_cast<std::streamsize>(start.size()));
  return is.gcount() == static_cast<std::streamsize>(head.size()) && start == head;
}

void SvgPlotter::plot(float x, float y, int ipen) {
  if (ipen == 3) {
    moveto(x, y);
  } else if (ipen == 2) {
    lineto(x, y);
    stroke();
  } else if (ipen == 999) {
    end_text();
    write_body();
    out_ << "</g>\n</svg>\n";
    out_.flush();
    head_written_ = false;
  }
}

void SvgPlotter::write_body() {
  if (!head_written_) {
    out_ << svg_document_head() << "<rect x=\"0\" y=\"0\" width=\"" << kSheetWidth << "\" height=\""
         << kSheetHeight << "\" fill=\"#ffffff\"/>\n"
         << "<g fill=\"none\" stroke-linecap=\"butt\" stroke-linejoin=\"miter\" "
            "stroke-miterlimit=\"10\">\n";
    head_written_ = true;
  }
  out_.write(body_.data(), static_cast<std::streamsize>(body_.size()));
  body_.clear();
}

void SvgPlotter::symbol(float x, float y, float /*height*/, std::string_view text, float angle,
                        int n) {
  moveto(x, y);
  rotation_ = angle > 0 ? double(angle) : 0.0;
  show(rec::pad(text, static_cast<std::size_t>(std::max(n, 0))));
  if (rotation_ != 0) {
    end_text();  // the turn is undone: what follows starts a text of its own
    rotation_ = 0;
  }
}

void SvgPlotter::number(float x, float y, float /*height*/, float value, float /*angle*/,
                        int ndec) {
  moveto(x, y);
  const NumberField f = number_field(value, ndec);
  if (!f.too_large) show(f.text);  // the PostScript page reports the value
}

void SvgPlotter::frame(int /*i*/, float x1, float x2, float y1, float y2) {
  end_text();
  path_.clear();
  path_has_segment_ = false;
  const double w = (double(x2) - x1) * double(kPointsPerCm);
  const double h = (double(y2) - y1) * double(kPointsPerCm);
  moveto(x1, y1);
  rlineto(0, h);
  rlineto(w, 0);
  rlineto(0, -h);
  path_ += "Z";
  current_ = subpath_start_;
  line_width_ = 0.5;
  stroke();
}

void SvgPlotter::line(float dx, std::span<const float> y, int n) {
  const LinePoints p = line_points(dx, y, n);
  if (p.empty())
    stroke();
  else
    stroke_polyline(p[0], p, 1, p.size());
}

void SvgPlotter::line1(std::span<const float> x, std::span<const float> y, float w, int n) {
  const std::size_t m = std::min({x.size(), y.size(), static_cast<std::size_t>(std::max(n, 0))});
  if (m == 0) return;
  std::vector<PlotPoint> p;
  p.reserve(m);
  for (std::size_t i = 0; i < m; ++i) p.push_back({double(x[i]), double(y[i])});
  const std::size_t split = line1_split(x, w, m);
  // each stroke draws from its first point again, as the PostScript page does
  stroke_polyline(p[0], p, 0, split);
  if (split < m) stroke_polyline(p[split], p, split, m);
}

void SvgPlotter::line2(float dx, std::span<const float> y, int k, int n) {
  const std::vector<PlotPoint> p = line2_points(dx, y, k, n);
  if (p.empty())
    stroke();
  else
    stroke_polyline(p[0], p, 1, p.size());
}

void SvgPlotter::axis(float x, float y, std::string_view text, int n, float length, float /*angle*/,
                      float first, float delta) {
  moveto(x, y);
  lineto(double(x) + length, y);
  stroke();
  moveto(double(x) + 0.5 * length - 0.5, double(y) - 1.5);
  show(rec::pad(text, static_cast<std::size_t>(std::abs(n))));
  select_font("Courier-Bold", 10, 12);
  for (const AxisTick& t : axis_ticks(x, first, delta)) {
    moveto(t.x, y);
    lineto(t.x, double(y) - 0.3);
    stroke();
    if (t.labelled)
      number(static_cast<float>(t.x - 0.95), static_cast<float>(double(y) - 0.8), 0.4f, t.value, 0,
             72);
  }
}

void SvgPlotter::symbo1(int nshown, int nall, float drumin) {
  select_font("Times-Roman", 14, 14);
  legend_head_lines(*this, nshown, nall, drumin);
  moveto(22, 2.7);
  select_font("Symbol", 14, 14);
  show("y-l");
  select_font("Times-Roman", 14, 14);
  show("-diagram");
}

}  // namespace kaven
