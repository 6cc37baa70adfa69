#include "plot/energy_pages.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <tuple>

#include "report/record_format.hpp"

namespace kaven {
namespace {

// Page geometry, cm (landscape): the plot frame and the information column.
constexpr float kLeft = 2, kRight = 22, kBottom = 2.5f, kTop = 18.5f;
constexpr float kColumn = 22.8f;
constexpr int kLevels = 10;  // colour levels of the map's scale

void text(PenPlotter& p, float x, float y, const std::string& t, float angle = 0) {
  p.symbol(x, y, 0.3f, t, angle, static_cast<int>(t.size()));
}

std::string format(const char* fmt, double v) {
  char b[64];
  std::snprintf(b, sizeof b, fmt, v);
  return b;
}

// A value of a scale in few digits: 3 significant ones, no exponent below 1e6.
std::string scale_text(double v) {
  if (std::fabs(v) >= 1e6 || (v != 0 && std::fabs(v) < 1e-3)) return format("%.2e", v);
  return format("%.4g", v);
}

// Round values for the ticks of a scale from lo to hi: steps of 1, 2 or 5 times a power
// of ten, four to ten of them.
struct Ticks {
  double first = 0, step = 1;
  int decimals = 0;
};
Ticks nice_ticks(double lo, double hi) {
  Ticks t;
  const double range = hi - lo;
  if (!(range > 0) || !std::isfinite(range)) {
    t.first = lo;
    return t;
  }
  const double raw = range / 6;
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  double step = mag;
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * mag >= raw) {
      step = m * mag;
      break;
    }
  t.step = step;
  t.first = std::ceil(lo / step - 1e-9) * step;
  t.decimals = std::max(0, -static_cast<int>(std::floor(std::log10(step) + 1e-9)));
  return t;
}

void date_lines(PenPlotter& p, float x, float y, const Zeit::Now& when) {
  using rec::I;
  const std::string date = I(2, when.day) + " . " + I(2, when.month) + " . " + I(2, when.year % 100);
  const std::string time = I(2, when.hour) + " . " + I(2, when.minute) + " . " + I(2, when.second);
  text(p, x, y, "Date:");
  text(p, x + 1.5f, y, date);
  text(p, x, y - 0.5f, "Time:");
  text(p, x + 1.5f, y - 0.5f, time);
}

void primary_line(PenPlotter& p, float y, const RunParameters& par) {
  p.fonts(0.4f, "Times-Bold");
  text(p, kColumn, y, "hkl-prim:");
  text(p, kColumn + 2.6f,
       y, std::to_string(par.h) + "  " + std::to_string(par.k) + "  " + std::to_string(par.l));
}

// A label in the Symbol font (psi, lambda) followed by Times-Roman text.
void symbol_label(PenPlotter& p, float x, float y, const std::string& greek, const std::string& rest) {
  p.fonts(0.4f, "Symbol");
  text(p, x, y, greek);
  p.fonts(0.4f, "Times-Roman");
  text(p, x + 0.35f, y, rest);
}

// A horizontal band over the whole frame from y0 to y1 (cm), filled by one wide stroke.
void band_across(PenPlotter& p, float y0, float y1) {
  const float h = std::max(0.02f, y1 - y0);
  p.linewidth(h * kPointsPerCm);
  p.plot(kLeft, (y0 + y1) / 2, 3);
  p.plot(kRight, (y0 + y1) / 2, 2);
}

void band_up(PenPlotter& p, float x0, float x1) {
  const float w = std::max(0.02f, x1 - x0);
  p.linewidth(w * kPointsPerCm);
  p.plot((x0 + x1) / 2, kBottom, 3);
  p.plot((x0 + x1) / 2, kTop, 2);
}

// Ticks and values of a vertical scale at the left edge of the frame, with its caption.
void vertical_scale(PenPlotter& p, double lo, double hi, const std::string& caption) {
  p.newpen(0);
  p.linewidth(0.5f);
  p.fonts(0.4f, "Times-Roman");
  const Ticks t = nice_ticks(lo, hi);
  if (hi > lo)
    for (double v = t.first; v <= hi + 1e-9 * t.step; v += t.step) {
      const float y = static_cast<float>(kBottom + (kTop - kBottom) * (v - lo) / (hi - lo));
      p.plot(kLeft - 0.3f, y, 3);
      p.plot(kLeft, y, 2);
      const double tick = std::fabs(v) < 1e-9 * t.step ? 0.0 : v;  // no "-0.0"
      const std::string label = t.decimals > 0 ? format(("%." + std::to_string(t.decimals) + "f").c_str(), tick)
                                               : scale_text(tick);
      text(p, kLeft - 0.45f - 0.2f * static_cast<float>(label.size()), y - 0.12f, label);
    }
  p.fonts(0.5f, "Times-Roman");
  text(p, 0.0f, (kBottom + kTop) / 2 - 1.0f, caption, 90);
}

struct Colour {
  float r, g, b;
};

}  // namespace

std::array<float, 3> map_level_colour(double t, bool dip) {
  // From a pale tint (weak) through the full hue to a dark shade (strong): a weak event
  // stays visible on white, a strong one stands out.
  static const Colour peak[] = {{1.00f, 0.78f, 0.55f}, {0.98f, 0.50f, 0.20f}, {0.80f, 0.10f, 0.05f}, {0.40f, 0.00f, 0.00f}};
  static const Colour dipc[] = {{0.68f, 0.82f, 1.00f}, {0.30f, 0.55f, 0.95f}, {0.05f, 0.22f, 0.72f}, {0.00f, 0.00f, 0.35f}};
  const Colour* c = dip ? dipc : peak;
  t = std::clamp(t, 0.0, 1.0) * 3;
  const int i = std::min(2, static_cast<int>(t));
  const double f = t - i;
  auto mix = [&](float a, float b) { return static_cast<float>(a + (b - a) * f); };
  return {mix(c[i].r, c[i + 1].r), mix(c[i].g, c[i + 1].g), mix(c[i].b, c[i + 1].b)};
}

// ---- the energy map -----------------------------------------------------------------

EnergyMapPicture::EnergyMapPicture(const RunParameters& base, const EnergyGrid& grid, double input_kev)
    : base_(base), grid_(grid), input_kev_(input_kev) {
  base_.atoms.clear();
  base_.types.clear();
  base_.ops.clear();
  if (grid.n > kMapRows) stride_ = (grid.n - 1 + kMapRows - 2) / (kMapRows - 1);
}

void EnergyMapPicture::add(const EnergyPoint& p) {
  if (p.status != EnergyStatus::ok) ++out_of_reach_;
  events_ += static_cast<long>(p.pass.events.size());
  if (p.index % stride_ != 0 && p.index != grid_.n - 1) return;
  Row r{p.index, p.energy_kev, p.status, {}};
  for (const MultipleDiffractionEvent& e : p.pass.events)
    r.marks.push_back({{static_cast<int>(std::lround(e.h1)), static_cast<int>(std::lround(e.k1)),
                        static_cast<int>(std::lround(e.l1))},
                       e.crossing == static_cast<float>(Crossing::first) ? Crossing::first : Crossing::second,
                       e.psi, std::max(e.ikaven, e.iaufhe) / e.fwhm, e.iaufhe > e.ikaven});
  rows_.push_back(std::move(r));
}

namespace {

struct MapFrame {
  double e1, e2, psia, range;
  float x(double psi) const { return static_cast<float>(kLeft + (kRight - kLeft) * (psi - psia) / range); }
  float y(double e) const { return static_cast<float>(kBottom + (kTop - kBottom) * (e - e1) / (e2 - e1)); }
};

// One stroke of a track in one colour level. A point that the line from the stroke's
// last kept vertex to the new point passes within kStraight of (with every point dropped
// since that vertex) is dropped: a track of a thousand energies that runs straight is
// drawn as a few segments, the same line on the page.
constexpr double kStraight = 0.003;  // cm
constexpr std::size_t kMostDropped = 64;  // a vertex kept at least every so many points

struct Stroke {
  int level;
  bool dip;
  std::vector<float> x, y;
  std::vector<std::pair<float, float>> dropped;  // points since the last kept vertex

  void add(float px, float py) {
    if (x.size() >= 2 && dropped.size() < kMostDropped) {
      const std::size_t a = x.size() - 2;  // the last kept vertex; the last one is provisional
      const double ax = x[a], ay = y[a], dx = double(px) - ax, dy = double(py) - ay;
      const double len = std::hypot(dx, dy);
      auto off = [&](float qx, float qy) {
        if (len == 0) return std::hypot(double(qx) - ax, double(qy) - ay);
        return std::fabs((double(qx) - ax) * dy - (double(qy) - ay) * dx) / len;
      };
      bool straight = off(x.back(), y.back()) <= kStraight;
      for (const auto& q : dropped) straight = straight && off(q.first, q.second) <= kStraight;
      if (straight) {
        dropped.emplace_back(x.back(), y.back());
        x.back() = px;
        y.back() = py;
        return;
      }
    }
    dropped.clear();
    x.push_back(px);
    y.push_back(py);
  }
};

void map_tracks(PenPlotter& p, const EnergyMapPicture& pic, const MapFrame& f) {
  float top = 0;
  for (const auto& row : pic.rows())
    for (const auto& m : row.marks) top = std::max(top, m.peak);
  const double floor = std::max(1e-30, double(pic.base().drumin));
  const double decades = top > floor ? std::log(double(top) / floor) : 0.0;
  auto level = [&](double peak) {
    if (!(decades > 0)) return kLevels - 1;
    const double t = std::log(std::max(peak, floor) / floor) / decades;
    return std::clamp(static_cast<int>(t * kLevels), 0, kLevels - 1);
  };
  // Each track (secondary reflection and crossing) from row to row; a jump of more than
  // a quarter of the psi range (the track leaving the range or wrapping round) ends it.
  using Key = std::tuple<int, int, int, int>;
  struct Open {
    std::size_t row;
    float psi, peak;
    bool dip;
    int stroke = -1;      // the stroke that ends at this point, -1: none
    bool joined = false;  // a stroke reaches or leaves the point
  };
  std::map<Key, Open> open;  // the points of the row before
  std::vector<Stroke> strokes;
  struct Lone {
    float x, y;
    int level;
    bool dip;
  };
  std::vector<Lone> lone;  // points joined to no neighbour: drawn as short dashes
  const auto& rows = pic.rows();
  auto keep_lone = [&](const Open& o) {
    if (!o.joined) lone.push_back({f.x(o.psi), f.y(rows[o.row].energy_kev), level(o.peak), o.dip});
  };
  for (std::size_t r = 0; r < rows.size(); ++r) {
    std::map<Key, Open> next;
    for (const auto& m : rows[r].marks) {
      const Key key{m.h[0], m.h[1], m.h[2], static_cast<int>(m.crossing)};
      Open now{r, m.psi, m.peak, m.dip};
      auto it = open.find(key);
      if (it != open.end() && std::fabs(double(m.psi) - it->second.psi) <= 0.25 * f.range) {
        Open& prev = it->second;
        const int lv = level(std::sqrt(double(prev.peak) * m.peak));
        if (prev.stroke >= 0 && strokes[static_cast<std::size_t>(prev.stroke)].level == lv &&
            strokes[static_cast<std::size_t>(prev.stroke)].dip == m.dip) {
          strokes[static_cast<std::size_t>(prev.stroke)].add(f.x(m.psi), f.y(rows[r].energy_kev));
          now.stroke = prev.stroke;
        } else {
          strokes.push_back({lv, m.dip, {f.x(prev.psi), f.x(m.psi)},
                             {f.y(rows[prev.row].energy_kev), f.y(rows[r].energy_kev)}, {}});
          now.stroke = static_cast<int>(strokes.size() - 1);
        }
        prev.joined = now.joined = true;
      }
      next[key] = now;
    }
    for (const auto& entry : open) keep_lone(entry.second);
    open = std::move(next);
  }
  for (const auto& entry : open) keep_lone(entry.second);
  // Weak tracks first: the strong ones lie on top.
  std::vector<std::size_t> order(strokes.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return strokes[a].level < strokes[b].level; });
  auto style = [&](int lv, bool dip) {
    const double t = (lv + 0.5) / kLevels;
    const std::array<float, 3> c = map_level_colour(t, dip);
    p.rgbpen(c[0], c[1], c[2]);
    p.linewidth(static_cast<float>(0.5 + 1.3 * t));
  };
  std::stable_sort(lone.begin(), lone.end(), [](const Lone& a, const Lone& b) { return a.level < b.level; });
  for (const Lone& o : lone) {
    style(o.level, o.dip);
    p.plot(o.x - 0.06f, o.y, 3);
    p.plot(o.x + 0.06f, o.y, 2);
  }
  for (std::size_t i : order) {
    const Stroke& s = strokes[i];
    style(s.level, s.dip);
    p.line1(s.x, s.y, 1.0e6f, static_cast<int>(s.x.size()));
  }
}

// A colour bar of the map's scale: kLevels boxes from y0 up to y1 at x.
void colour_bar(PenPlotter& p, float x, float y0, float y1, bool dip) {
  const float h = (y1 - y0) / kLevels;
  p.linewidth(0.45f * kPointsPerCm);
  for (int lv = 0; lv < kLevels; ++lv) {
    const std::array<float, 3> c = map_level_colour((lv + 0.5) / kLevels, dip);
    p.rgbpen(c[0], c[1], c[2]);
    p.plot(x, y0 + h * static_cast<float>(lv), 3);
    p.plot(x, y0 + h * static_cast<float>(lv + 1), 2);
  }
}

}  // namespace

void draw_energy_map(PenPlotter& p, const EnergyMapPicture& pic, const Zeit::Now& when) {
  const RunParameters& par = pic.base();
  const EnergyGrid& g = pic.grid();
  const double range = double(par.psie) - par.psia;
  const MapFrame f{g.e1_kev, g.e2_kev, par.psia, range > 0 ? range : 1.0};
  p.plots();
  p.newpen(0);
  p.fonts(0.5f, "Times-Bold");
  p.symbol(1.0f, 20.5f, 0.4f, par.title, 0, 80);

  // Energies whose wavelength cannot reach the primary reflection (or the monochromator).
  const auto& rows = pic.rows();
  const double row_step = (kTop - kBottom) * double(pic.stride()) / std::max(1, g.n - 1);
  p.rgbpen(0.82f, 0.82f, 0.82f);
  for (std::size_t r = 0; r < rows.size();) {
    if (rows[r].status == EnergyStatus::ok) {
      ++r;
      continue;
    }
    std::size_t e = r;
    while (e + 1 < rows.size() && rows[e + 1].status != EnergyStatus::ok) ++e;
    const float y0 = std::max(kBottom, static_cast<float>(f.y(rows[r].energy_kev) - row_step / 2));
    const float y1 = std::min(kTop, static_cast<float>(f.y(rows[e].energy_kev) + row_step / 2));
    band_across(p, y0, y1);
    if (y1 - y0 > 0.6f) {
      p.rgbpen(0.3f, 0.3f, 0.3f);
      p.fonts(0.4f, "Times-Roman");
      text(p, kLeft + 0.3f, (y0 + y1) / 2 - 0.12f, energy_status_text(rows[r].status));
      p.rgbpen(0.82f, 0.82f, 0.82f);
    }
    r = e + 1;
  }

  map_tracks(p, pic, f);

  // The input's own energy.
  p.newpen(0);
  if (pic.input_kev() >= g.e1_kev && pic.input_kev() <= g.e2_kev) {
    const float y = f.y(pic.input_kev());
    p.linewidth(0.8f);
    p.dash(1);
    p.plot(kLeft, y, 3);
    p.plot(kRight, y, 2);
    p.dash(0);
    p.fonts(0.3f, "Times-Roman");
    text(p, kRight - 0.8f, y + 0.08f, "input");
  }

  // Frame, psi axis below, energy scale on the left.
  p.frame(0, kLeft, kRight, kBottom, kTop);
  p.fonts(0.5f, "Symbol");
  p.axis(kLeft, kBottom, "y", 1, 20, 0, par.psia, static_cast<float>(f.range / 20));
  vertical_scale(p, g.e1_kev, g.e2_kev, "E (keV)");

  // The information column.
  p.fonts(0.5f, "Times-Bold");
  text(p, kColumn, 19.6f, "Energy map");
  p.fonts(0.4f, "Times-Roman");
  date_lines(p, kColumn, 19.0f, when);
  primary_line(p, 17.8f, par);
  p.fonts(0.4f, "Times-Roman");
  text(p, kColumn, 17.1f, "E (keV):");
  text(p, kColumn + 2.7f, 17.1f, format("%.6g", g.e1_kev) + " - " + format("%.6g", g.e2_kev));
  text(p, kColumn, 16.6f, "energies:");
  text(p, kColumn + 2.7f, 16.6f, std::to_string(g.n));
  symbol_label(p, kColumn, 16.1f, "l", "(A):");
  text(p, kColumn + 2.7f, 16.1f,
       format("%.5f", 12.3984197386209 / g.e2_kev) + " - " + format("%.5f", 12.3984197386209 / g.e1_kev));
  symbol_label(p, kColumn, 15.6f, "y", "(deg):");
  text(p, kColumn + 2.7f, 15.6f, format("%.3f", par.psia) + " - " + format("%.3f", par.psie));
  text(p, kColumn, 15.1f, "input E (keV):");
  text(p, kColumn + 2.7f, 15.1f, format("%.5f", pic.input_kev()));

  p.fonts(0.4f, "Times-Bold");
  text(p, kColumn, 14.2f, "Listed events, peak height");
  p.fonts(0.4f, "Times-Roman");
  text(p, kColumn, 13.7f, "I (cps), logarithmic scale:");
  float top = 0;
  for (const auto& row : rows)
    for (const auto& m : row.marks) top = std::max(top, m.peak);
  colour_bar(p, kColumn + 0.4f, 8.0f, 12.8f, false);
  colour_bar(p, kColumn + 1.4f, 8.0f, 12.8f, true);
  p.newpen(0);
  p.linewidth(0.5f);
  text(p, kColumn + 0.05f, 7.45f, "peak");
  text(p, kColumn + 1.15f, 7.45f, "dip");
  text(p, kColumn + 2.1f, 12.6f, top > 0 ? scale_text(top) : std::string("-"));
  text(p, kColumn + 2.1f, 8.0f, scale_text(par.drumin));
  text(p, kColumn + 2.1f, 7.55f, "(drumin)");
  text(p, kColumn, 6.6f, "peak: Ikaven > Iaufhe");
  text(p, kColumn, 6.1f, "dip:  Iaufhe > Ikaven");

  text(p, kColumn, 5.0f, "events listed:");
  text(p, kColumn + 2.6f, 5.0f, std::to_string(pic.events()));
  text(p, kColumn, 4.5f, "out of reach:");
  text(p, kColumn + 2.6f, 4.5f, std::to_string(pic.out_of_reach()) + " energies");
  if (pic.stride() > 1) text(p, kColumn, 4.0f, "every " + std::to_string(pic.stride()) + ". energy drawn");
  if (!(pic.input_kev() >= g.e1_kev && pic.input_kev() <= g.e2_kev))
    text(p, kColumn, 3.5f, "input energy outside the map");
  p.plot(0, 0, 999);
}

// ---- the energy scan ----------------------------------------------------------------

EnergyScanPicture::EnergyScanPicture(const RunParameters& base, const EnergyGrid& grid, float psi,
                                     double input_kev)
    : base_(base), grid_(grid), psi_(psi), input_kev_(input_kev) {
  base_.atoms.clear();
  base_.types.clear();
  base_.ops.clear();
}

void EnergyScanPicture::add(const EnergyScanPoint& p) {
  Point pt{p.energy_kev, p.status, p.intensity, p.iprim, !p.shares.empty(), {}};
  if (pt.has_share) pt.strongest = p.shares.front();
  points_.push_back(pt);
}

void draw_energy_scan(PenPlotter& p, const EnergyScanPicture& pic, const Zeit::Now& when) {
  const RunParameters& par = pic.base();
  const EnergyGrid& g = pic.grid();
  const auto& pts = pic.points();
  double lo = 0, hi = 0;
  bool any = false;
  for (const auto& q : pts)
    if (q.status == EnergyStatus::ok) {
      const double a = std::min(q.intensity, q.iprim), b = std::max(q.intensity, q.iprim);
      lo = any ? std::min(lo, a) : a;
      hi = any ? std::max(hi, b) : b;
      any = true;
    }
  if (!(hi > lo)) {
    lo -= std::max(1.0, std::fabs(lo) * 0.1);
    hi += std::max(1.0, std::fabs(hi) * 0.1);
  }
  const double pad = 0.06 * (hi - lo);
  lo -= pad;
  hi += pad;
  auto x_of = [&](double e) { return static_cast<float>(kLeft + (kRight - kLeft) * (e - g.e1_kev) / (g.e2_kev - g.e1_kev)); };
  auto y_of = [&](double v) { return static_cast<float>(kBottom + (kTop - kBottom) * (v - lo) / (hi - lo)); };

  p.plots();
  p.newpen(0);
  p.fonts(0.5f, "Times-Bold");
  p.symbol(1.0f, 20.5f, 0.4f, par.title, 0, 80);

  // Energies out of reach: grey bands.
  const double step = double(kRight - kLeft) / std::max(1, g.n - 1);
  p.rgbpen(0.82f, 0.82f, 0.82f);
  for (std::size_t i = 0; i < pts.size();) {
    if (pts[i].status == EnergyStatus::ok) {
      ++i;
      continue;
    }
    std::size_t e = i;
    while (e + 1 < pts.size() && pts[e + 1].status != EnergyStatus::ok) ++e;
    band_up(p, std::max(kLeft, static_cast<float>(x_of(pts[i].energy_kev) - step / 2)),
            std::min(kRight, static_cast<float>(x_of(pts[e].energy_kev) + step / 2)));
    i = e + 1;
  }

  // I-prim dashed (blue), the scan at psi solid (black); a curve breaks where an energy
  // is out of reach.
  auto curve = [&](bool iprim) {
    std::vector<float> xs, ys;
    auto flush = [&] {
      if (xs.size() >= 2) p.line1(xs, ys, 1.0e6f, static_cast<int>(xs.size()));
      xs.clear();
      ys.clear();
    };
    for (const auto& q : pts) {
      if (q.status != EnergyStatus::ok) {
        flush();
        continue;
      }
      xs.push_back(x_of(q.energy_kev));
      ys.push_back(y_of(iprim ? q.iprim : q.intensity));
    }
    flush();
  };
  p.newpen(3);
  p.linewidth(0.8f);
  p.dash(1);
  curve(true);
  p.dash(0);
  p.newpen(0);
  p.linewidth(1.0f);
  curve(false);

  // The strongest features: local extremes of I - I-prim of at least 1 % of I-prim (2 %
  // of the scale without I-prim), each labelled with the secondary reflection of its
  // strongest crossing, beside the extreme (the curve falls away from it there).
  struct Feature {
    std::size_t i;
    double size;
  };
  std::vector<Feature> features;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const auto& q = pts[i];
    if (q.status != EnergyStatus::ok || !q.has_share) continue;
    const double d = double(q.intensity) - q.iprim;
    const double shown = q.iprim > 0 ? 0.01 * double(q.iprim) : 0.02 * std::fabs(hi - lo);
    if (!(std::fabs(d) >= shown)) continue;
    auto dev = [&](std::size_t j) { return double(pts[j].intensity) - pts[j].iprim; };
    const bool left_ok = i == 0 || pts[i - 1].status != EnergyStatus::ok ||
                         (d > 0 ? dev(i - 1) <= d : dev(i - 1) >= d);
    const bool right_ok = i + 1 == pts.size() || pts[i + 1].status != EnergyStatus::ok ||
                          (d > 0 ? dev(i + 1) < d : dev(i + 1) > d);
    if (left_ok && right_ok) features.push_back({i, std::fabs(d)});
  }
  std::stable_sort(features.begin(), features.end(), [](const Feature& a, const Feature& b) { return a.size > b.size; });
  {
    // At most 12, the larger first, none within 1 cm of a larger one (labels would
    // overlap).
    std::vector<Feature> kept;
    for (const Feature& ft : features) {
      const float x = x_of(pts[ft.i].energy_kev);
      if (kept.size() < 12 && std::none_of(kept.begin(), kept.end(), [&](const Feature& k) {
            return std::fabs(x_of(pts[k.i].energy_kev) - x) < 1.0f;
          }))
        kept.push_back(ft);
    }
    features = std::move(kept);
  }
  p.fonts(0.3f, "Times-Roman");
  for (const Feature& ft : features) {
    const auto& q = pts[ft.i];
    const bool up = q.intensity > q.iprim;
    const auto& h = q.strongest.secondary;
    const std::string t = std::to_string(h[0]) + " " + std::to_string(h[1]) + " " + std::to_string(h[2]);
    const float x = x_of(q.energy_kev) + 0.12f;
    const float y = y_of(q.intensity) + (up ? 0.05f : -0.3f);
    text(p, std::min(x, kRight - 1.2f), std::clamp(y, kBottom + 0.1f, kTop - 0.35f), t);
  }

  if (pic.input_kev() >= g.e1_kev && pic.input_kev() <= g.e2_kev) {
    const float x = x_of(pic.input_kev());
    p.linewidth(0.8f);
    p.dash(2);
    p.plot(x, kBottom, 3);
    p.plot(x, kTop, 2);
    p.dash(0);
    text(p, x - 0.3f, kTop + 0.15f, "input");
  }

  p.newpen(0);
  p.frame(0, kLeft, kRight, kBottom, kTop);
  // Energy ticks below.
  {
    p.fonts(0.4f, "Times-Roman");
    const Ticks t = nice_ticks(g.e1_kev, g.e2_kev);
    for (double v = t.first; v <= g.e2_kev + 1e-9 * t.step; v += t.step) {
      const float x = x_of(v);
      p.plot(x, kBottom, 3);
      p.plot(x, kBottom - 0.3f, 2);
      const std::string label = format(("%." + std::to_string(t.decimals) + "f").c_str(), v);
      text(p, x - 0.1f * static_cast<float>(label.size()), kBottom - 0.8f, label);
    }
    p.fonts(0.5f, "Times-Roman");
    text(p, (kLeft + kRight) / 2 - 0.8f, kBottom - 1.6f, "E (keV)");
  }
  vertical_scale(p, lo, hi, "I (cps)");

  p.fonts(0.5f, "Times-Bold");
  text(p, kColumn, 19.6f, "Energy scan");
  p.fonts(0.4f, "Times-Roman");
  date_lines(p, kColumn, 19.0f, when);
  primary_line(p, 17.8f, par);
  symbol_label(p, kColumn, 17.1f, "y", "(deg):");
  text(p, kColumn + 2.7f, 17.1f, format("%.3f", pic.psi()));
  text(p, kColumn, 16.6f, "E (keV):");
  text(p, kColumn + 2.7f, 16.6f, format("%.6g", g.e1_kev) + " - " + format("%.6g", g.e2_kev));
  text(p, kColumn, 16.1f, "energies:");
  text(p, kColumn + 2.7f, 16.1f, std::to_string(g.n));
  text(p, kColumn, 15.6f, "input E (keV):");
  text(p, kColumn + 2.7f, 15.6f, format("%.5f", pic.input_kev()));
  // The extremes.
  const EnergyScanPicture::Point* mx = nullptr;
  const EnergyScanPicture::Point* mn = nullptr;
  for (const auto& q : pts)
    if (q.status == EnergyStatus::ok) {
      if (!mx || q.intensity > mx->intensity) mx = &q;
      if (!mn || q.intensity < mn->intensity) mn = &q;
    }
  if (mx && mn) {
    text(p, kColumn, 14.6f, "Imax (cps):");
    text(p, kColumn + 2.7f, 14.6f, scale_text(mx->intensity) + " at " + format("%.4f", mx->energy_kev));
    text(p, kColumn, 14.1f, "Imin (cps):");
    text(p, kColumn + 2.7f, 14.1f, scale_text(mn->intensity) + " at " + format("%.4f", mn->energy_kev));
  }
  // Legend.
  p.linewidth(1.0f);
  p.plot(kColumn, 12.9f, 3);
  p.plot(kColumn + 1.0f, 12.9f, 2);
  text(p, kColumn + 1.2f, 12.8f, "I at the psi of the scan");
  p.newpen(3);
  p.linewidth(0.8f);
  p.dash(1);
  p.plot(kColumn, 12.3f, 3);
  p.plot(kColumn + 1.0f, 12.3f, 2);
  p.dash(0);
  p.newpen(0);
  text(p, kColumn + 1.2f, 12.2f, "I-prim");
  text(p, kColumn, 11.4f, "labels: the secondary reflection");
  text(p, kColumn, 10.9f, "of the strongest crossing");
  text(p, kColumn, 10.4f, "of a feature (h k l)");
  p.plot(0, 0, 999);
}

}  // namespace kaven
