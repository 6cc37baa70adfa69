#include "plot/scan_page.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "report/record_format.hpp"

namespace kaven {
namespace {

// Fixed page geometry, cm (landscape).
constexpr float kLeft = 1, kRight = 21;  // scan and diagram frames
constexpr float kScanBottom = 4.5f, kScanTop = 20.3f;
constexpr float kCalcBase = 4.8f;  // base of the calculated panel
constexpr float kDiagramBottom = 2.5f, kDiagramTop = 4.5f;

// Intensities onto a panel: lo at the base, hi at base + height. A panel whose range is
// empty (a flat measured scan, or zeimax equal to the minimum) has no scale: every value
// goes to the base.
struct PanelScale {
  float base, height, lo, hi;
  float y(float v) const {
    const double range = double(hi) - lo;
    if (range == 0 || !std::isfinite(range)) return base;
    return static_cast<float>(base + height * (double(v) - lo) / range);
  }
};

// A level mark: ticks outside both sides of the scan frame and the label on the left.
// A level of a panel: ticks on both frames at y and its name left of the frame, written
// at label_y (y unless another name stands there).
void level_mark(PenPlotter& p, float y, std::string_view label, float label_y) {
  p.plot(0.7f, y, 3);
  p.plot(1.0f, y, 2);
  p.plot(21.0f, y, 3);
  p.plot(21.3f, y, 2);
  p.symbol(-0.3f, label_y, 0.3f, label, 0, static_cast<int>(label.size()));
}
void level_mark(PenPlotter& p, float y, std::string_view label) { level_mark(p, y, label, y); }

// Where "Iprim" is written at level y_prim above the name "Imin" at the panel's base:
// at its level, or, when the two 0.3 cm names would touch, 0.4 cm above the base so that
// both read (its ticks stay at the level).
float iprim_label_y(float y_prim, float base) {
  constexpr float kNameHeight = 0.3f, kClear = 0.4f;
  return std::fabs(y_prim - base) < kNameHeight + 0.05f ? std::max(y_prim, base + kClear) : y_prim;
}

void label(PenPlotter& p, float x, float y, std::string_view text) {
  p.symbol(x, y, 0.3f, text, 0, static_cast<int>(text.size()));
}

// 1 to 8: title and the information column (drawn 0.5 cm left of its coordinates).
void information_column(PenPlotter& p, const RunParameters& par, const RunResult& r,
                        const Zeit::Now& when) {
  using rec::I;
  p.plots();
  p.newpen(0);
  p.fonts(0.5f, "Times-Bold");
  p.symbol(1.0f, 20.5f, 0.4f, par.title, 0, 80);

  p.fonts(0.5f, "Times-Roman");
  p.transl(-0.5f, 0);

  const std::string date =
      I(2, when.day) + " . " + I(2, when.month) + " . " + I(2, when.year % 100);
  const std::string time = I(2, when.hour) + " . " + I(2, when.minute) + " . " + I(2, when.second);
  label(p, 22, 20.0f, "Date:");
  p.symbol(23.5f, 20.0f, 0.3f, date, 0, 12);
  label(p, 22, 19.4f, "Time:");
  p.symbol(23.5f, 19.4f, 0.3f, time, 0, 12);

  p.fonts(0.5f, "Times-Bold");
  label(p, 22, 18.5f, "hkl-prim:");
  p.number(25.2f, 18.5f, 0.3f, static_cast<float>(par.h), 0, -1);
  p.number(26.2f, 18.5f, 0.3f, static_cast<float>(par.k), 0, -1);
  p.number(27.2f, 18.5f, 0.3f, static_cast<float>(par.l), 0, -1);

  // Symbol font: lambda, theta, phi.
  p.fonts(0.5f, "Symbol");
  label(p, 22, 17.5f, "l:");
  label(p, 22, 16.8f, "q-");
  label(p, 22, 15.6f, "j-");
  p.fonts(0.5f, "Times-Roman");
  if (par.clam == "dl")
    p.number(23, 17.5f, 0.3f, static_cast<float>((double(par.lamin) + par.lamax) / 2), 0, 64);
  else
    p.symbol(23, 17.5f, 0.3f, par.clam, 0, 2);  // the anode
  label(p, 22.5f, 16.8f, "prim:");
  p.number(24, 16.8f, 0.3f, static_cast<float>(r.theta_prim_deg), 0, 52);
  label(p, 22, 16.2f, "F-prim:");
  p.number(24, 16.2f, 0.3f, par.f, 0, 72);
  label(p, 22.5f, 15.6f, "prim:");
  p.number(24, 15.6f, 0.3f, par.phi_deg, 0, 72);

  p.fonts(0.5f, "Times-Bold");
  label(p, 22, 11.8f, "Simulation calculated with");
  p.fonts(0.4f, "Times-Roman");
  struct Row {
    const char* text;
    float y, value;
    int ndec;
  };
  const Row rows[] = {
      {"step-width", 11.1f, static_cast<float>(1.0 / par.zsw), 53},
      {"divergence-p", 10.6f, par.diverp, 53},
      {"divergence-s", 10.1f, par.divers, 53},
      {"mosaic-radius", 9.6f, par.radius, par.radius >= 10 ? 50 : 53},
      {"mosaic-spread", 9.1f, par.eta, 53},
  };
  for (const Row& row : rows) {
    label(p, 22, row.y, row.text);
    p.number(25.5f, row.y, 0.3f, row.value, 0, row.ndec);
  }

  p.fonts(0.5f, "Times-Bold");
  if (par.nnn > 0) {
    label(p, 22, 8.6f, "nnn");
    p.number(25.5f, 8.6f, 0.3f, static_cast<float>(par.nnn), 0, 50);
  } else {
    label(p, 22, 8.4f, "without interference term,");
  }
  label(p, 22, 7.8f, "taking into account events");
  label(p, 22, 7.2f, "with I (cps) >");
  p.number(25, 7.2f, 0.3f, par.drumin_scan, 0, 74);

  p.fonts(0.5f, "Times-Roman");
  if (r.measured.present) {
    label(p, 22, 14.6f, "Imax-obs (cps):");
    p.number(25.3f, 14.6f, 0.3f, r.reduction.mmax, 0, 92);
    label(p, 22, 14.0f, "Imin-obs (cps):");
    p.number(25.3f, 14.0f, 0.3f, r.reduction.mmin, 0, 92);
  }
  label(p, 22, 6.2f, "Imax-calc(cps):");
  p.number(25.3f, 6.2f, 0.3f, r.profile.max, 0, 92);
  label(p, 22, 5.6f, "Imin-calc(cps):");
  p.number(25.3f, 5.6f, 0.3f, r.profile.min, 0, 92);
}

double wrap_psi(double psi, int isyn) {
  if (psi > 180)
    psi -= 360;
  else if (psi < -180)
    psi += 360;
  if (isyn > 0 && psi < 0) psi += 360;  // the HUBER axis runs from 0 to 360
  return psi;
}

// A point of a branch that ends inside the diagram goes to the nearer side edge (the
// right one at equal distance): the curve leaves the psi range there.
void snap_to_side(float& x) { x = std::fabs(x - kLeft) < std::fabs(x - kRight) ? kLeft : kRight; }

void event_curve(PenPlotter& p, DiagramBranches b) {
  const bool one = !b.x1.empty(), two = !b.x2.empty();
  auto close_single = [&](std::vector<float>& x, std::vector<float>& y) {
    if (y.back() != kDiagramTop) snap_to_side(x.back());
    if (y.front() != kDiagramBottom) snap_to_side(x.front());
    p.line1(x, y, 20, static_cast<int>(x.size()));
  };
  if (one && !two) {
    close_single(b.x1, b.y1);
  } else if (two && !one) {
    close_single(b.x2, b.y2);
  } else if (one && two) {
    if (b.y1.front() != kDiagramBottom) snap_to_side(b.x1.front());
    if (b.y2.front() != kDiagramBottom) snap_to_side(b.x2.front());
    if (std::fabs(b.x1.back() - b.x2.back()) < 0.9f * 20) {
      // The branches meet where the reflection leaves the sphere for good.
      p.plot(b.x1.back(), b.y1.back(), 3);
      p.plot(b.x2.back(), b.y2.back(), 2);
    } else {
      if (b.y1.back() != kDiagramTop) snap_to_side(b.x1.back());
      if (b.y2.back() != kDiagramTop) snap_to_side(b.x2.back());
    }
    p.line1(b.x1, b.y1, 20, static_cast<int>(b.x1.size()));
    p.line1(b.x2, b.y2, 20, static_cast<int>(b.x2.size()));
  }
}

}  // namespace

DiagramBranches diagram_branches(const MultipleDiffractionEvent& e, const RunParameters& par) {
  DiagramBranches b;
  const double lamin = par.lamin, lamax = par.lamax;
  const double band = std::fabs(lamax - lamin);
  const double g = (double(par.psie) - par.psia) * 0.05;  // degrees per cm
  const double deg = double(kRadToDegDiagram);
  for (int t = 0; t <= 1000; ++t) {
    const double lambda = t == 1000 ? lamax : lamin + t * band * 0.001;
    const double u2 = 1.0 / (lambda * lambda);
    if (double(e.h_sq) > 4 * u2) continue;  // beyond the limiting sphere at this lambda
    const double a =
        (double(e.h_sq) - e.hq) / (2 * std::sqrt(double(e.rho_sq) * (u2 - e.hp_sq / 4.0)));
    if (!(a >= -1 && a <= 1)) continue;  // never on the sphere (or no circle at all)
    const double delta = std::acos(a);
    const double y = kDiagramBottom + (lambda - lamin) / ((lamax - lamin) / 2);
    const double psi1 = wrap_psi((e.phi_az + delta) * deg + par.psid, par.isyn);
    const double psi2 = wrap_psi((e.phi_az - delta) * deg + par.psid, par.isyn);
    if (par.psia < psi1 && psi1 <= par.psie) {
      b.x1.push_back(static_cast<float>(kLeft + (psi1 - par.psia) / g));
      b.y1.push_back(static_cast<float>(y));
    }
    if (par.psia < psi2 && psi2 <= par.psie) {
      b.x2.push_back(static_cast<float>(kLeft + (psi2 - par.psia) / g));
      b.y2.push_back(static_cast<float>(y));
    }
  }
  return b;
}

void uplot(PenPlotter& p, const RunParameters& par, const RunResult& r, const Zeit::Now& when) {
  const bool measured = r.measured.present;
  const float height = measured ? 7.0f : 14.0f;
  const float measured_base = height + 5.8f;
  // 20 cm of psi axis; nstep again from the psi range, bounded by the arrays.
  const double g = (double(par.psie) - par.psia) * 0.05;
  const float dx = static_cast<float>(1.0 / (double(par.zsw) * g));
  const long nstep = std::lround((double(par.psie) - par.psia) * par.zsw);
  const int n =
      static_cast<int>(std::clamp(nstep + 1, 0L, static_cast<long>(r.profile.intensity.size())));

  information_column(p, par, r, when);

  p.transl(0.5f, 0);
  p.frame(1, kLeft, kRight, kScanBottom, kScanTop);

  p.fonts(0.5f, "Times-Roman");
  if (measured) {
    p.symbol(0.7f, 15.5f, 0.5f, "I-obs (cps)", 90, 11);
    p.symbol(0.7f, 7.5f, 0.5f, "I-calc (cps)", 90, 12);
  } else {
    p.symbol(0.7f, 15.5f, 0.5f, "I-calc (cps)", 90, 12);
  }

  // A fixed top of scale cuts both panels from here on (the column shows the extremes).
  const float cmax = par.zeimax > 0 ? par.zeimax : r.profile.max;
  const float mmax = par.zeimax > 0 ? par.zeimax : r.reduction.mmax;

  // The calculated scan.
  const PanelScale calc{kCalcBase, height, r.profile.min, cmax};
  std::vector<float> yc(r.profile.intensity.begin(), r.profile.intensity.begin() + n);
  for (float& v : yc) v = calc.y(std::min(v, cmax));
  p.newpen(0);
  const float y_prim = calc.y(r.profile.iprim_total);
  level_mark(p, y_prim, "Iprim", iprim_label_y(y_prim, kCalcBase));
  level_mark(p, kCalcBase + height, "Imax");
  level_mark(p, kCalcBase, "Imin");
  label(p, 21.5f, 5.0f, "Iprim-calc(cps):");
  p.number(24.8f, 5.0f, 0.3f, r.profile.iprim_total, 0, 92);
  p.line(dx, yc, n);

  // The measured scan, moved by the psi shift of its best match with the calculation;
  // steps without a measurement stay gaps.
  if (measured) {
    const PanelScale meas{measured_base, height, r.reduction.mmin, mmax};
    const auto nm = std::min(r.measured.intensity.size(), static_cast<std::size_t>(n));
    std::vector<float> ym(r.measured.intensity.begin(),
                          r.measured.intensity.begin() + static_cast<long>(nm));
    for (float& v : ym)
      if (v < kGap) v = meas.y(std::min(v, mmax));
    p.newpen(0);
    if (r.reduction.imeas > r.reduction.mmin) {
      const float y_obs = meas.y(r.reduction.imeas);
      level_mark(p, y_obs, "Iprim", iprim_label_y(y_obs, measured_base));
    }
    level_mark(p, measured_base + height, "Imax");
    level_mark(p, measured_base, "Imin");
    label(p, 21.5f, 13.4f, "Iprim-obs (cps):");
    p.number(24.8f, 13.4f, 0.3f, r.reduction.imeas, 0, 92);
    p.newpen(1);
    // A deviation reset to zero draws the scan unshifted.
    const int shift = r.deviation.dev != 0 ? r.deviation.shift : 0;
    p.line2(dx, ym, shift, n);
    if (!r.fitted.empty()) {
      // The simulation fitted to the measured scan, on its scale and moved with it.
      std::vector<float> yf(r.fitted.begin(),
                            r.fitted.begin() + static_cast<long>(std::min(r.fitted.size(), nm)));
      for (float& v : yf)
        if (v < kGap) v = meas.y(std::clamp(v, r.reduction.mmin, mmax));
      p.newpen(3);
      p.line2(dx, yf, shift, n);
      p.newpen(0);
      p.fonts(0.5f, "Times-Roman");
      label(p, 21.5f, 12.7f, "fitted (blue), R:");
      p.number(25.3f, 12.7f, 0.3f, r.fitted_r, 0, 94);
      p.newpen(1);
    }
    if (par.isyn == 0) {
      // Counting errors of the measured maximum and minimum, hanging from the top.
      const float top = measured_base + height;
      auto bar = [&](float x, float s) {
        const double len = mmax != 0 ? double(height) * s / mmax : 0.0;
        p.plot(x, top, 3);
        p.plot(x, static_cast<float>(top - len), 2);
      };
      bar(19, r.reduction.s_max);
      bar(20, r.reduction.s_min);
    }
  }

  // The psi-lambda diagram: frame and the inner edges of the wavelength bands (the
  // bottom and top edges for a single line).
  p.newpen(0);
  p.frame(1, kLeft, kRight, kDiagramBottom, kDiagramTop);
  p.dash(0);
  const double band = double(par.lamax) - par.lamin;
  const auto y_band1 = static_cast<float>(kDiagramBottom + 4 * double(par.w1) / band);
  const auto y_band2 = static_cast<float>(kDiagramTop - 4 * double(par.w2) / band);
  p.plot(kLeft, y_band1, 3);
  p.plot(kRight, y_band1, 2);
  p.plot(kLeft, y_band2, 3);
  p.plot(kRight, y_band2, 2);

  // Each listed event of the first pass, dashed by its extinction code: continuous for
  // an allowed pair, [2 3] when h itself is absent, [6 4 2 4] when the coupling one is.
  int nshown = 0, nall = 0;
  if (!r.passes.empty()) {
    const EventPassResult& first = r.passes.front().events;
    nshown = static_cast<int>(first.events.size());
    nall = static_cast<int>(first.in_range);
    for (const MultipleDiffractionEvent& e : first.events) {
      p.dash(static_cast<int>(std::lround(e.ext_code)));
      event_curve(p, diagram_branches(e, par));
    }
  }
  p.dash(0);

  // The psi axis and the lambda label, in the Symbol font.
  p.fonts(0.5f, "Symbol");
  p.axis(kLeft, kDiagramBottom, "y", 1, 20, 0, par.psia, static_cast<float>(g));
  p.fonts(0.5f, "Symbol");  // the axis left its tick-label font
  p.symbol(0.5f, 3.2f, 0.7f, "l", 0, 1);

  p.transl(-0.5f, 0);
  p.symbo1(nshown, nall, par.drumin);
  p.plot(0, 0, 999);
}

}  // namespace kaven
