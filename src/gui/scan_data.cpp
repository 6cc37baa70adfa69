#include "gui/scan_data.hpp"

#include <cmath>
#include <cstdio>

#include "report/record_format.hpp"
#include "scans/measured_scan.hpp"
#include "simulation/scan_simulation.hpp"

namespace kaven::gui {

namespace {

std::string printed(const char* format, double v) {
  if (!std::isfinite(v)) return "-";
  char b[64];
  std::snprintf(b, sizeof b, format, v);
  return b;
}

int index(float v) { return static_cast<int>(std::lround(v)); }

std::string indices(float h, float k, float l) {
  return std::to_string(index(h)) + ' ' + std::to_string(index(k)) + ' ' + std::to_string(index(l));
}

}  // namespace

ScanData scan_data(const RunParameters& par, const RunResult& r) {
  ScanData d;
  d.title = std::string(rec::rtrim(par.title));
  d.primary = {par.h, par.k, par.l};
  d.calculated = r.profile.intensity;
  d.psi.reserve(d.calculated.size());
  for (std::size_t i = 0; i < d.calculated.size(); ++i)
    d.psi.push_back(step_psi(par, static_cast<long>(i)));
  if (r.measured.present && !r.measured.intensity.empty()) {
    d.measured = r.measured.intensity;
    d.measured.resize(d.calculated.size(), kNoMeasurement);
    // A deviation reset to zero draws the scan unshifted.
    d.measured_shift = r.deviation.dev != 0 ? r.deviation.shift : 0;
    if (!r.fitted.empty()) {
      d.fitted = r.fitted;
      d.fitted.resize(d.calculated.size(), kNoMeasurement);
    }
  }
  d.iprim = r.profile.iprim_total;
  d.passes = static_cast<int>(r.passes.size());
  d.events = listed_events(par, r);
  return d;
}

const char* event_column_name(EventColumn c) {
  switch (c) {
    case EventColumn::pass: return "Pass";
    case EventColumn::secondary: return "Secondary h k l";
    case EventColumn::coupling: return "Coupling h k l";
    case EventColumn::crossing: return "Crossing";
    case EventColumn::psi: return "Psi (deg)";
    case EventColumn::triplet: return "Triplet phase (deg)";
    case EventColumn::ikaven: return "Ikaven peak (cps)";
    case EventColumn::iaufhe: return "Iaufhe peak (cps)";
    case EventColumn::fwhm: return "FWHM (deg)";
    case EventColumn::f1: return "|F| secondary";
    case EventColumn::f2: return "|F| coupling";
    case EventColumn::count: break;
  }
  return "";
}

std::string event_cell(const ListedEvent& le, EventColumn c) {
  const MultipleDiffractionEvent& e = le.event;
  switch (c) {
    case EventColumn::pass: return std::to_string(le.pass);
    case EventColumn::secondary: return indices(e.h1, e.k1, e.l1);
    case EventColumn::coupling: return indices(e.h2, e.k2, e.l2);
    case EventColumn::crossing:
      return e.crossing == static_cast<float>(Crossing::first) ? "i-o" : "o-i";
    case EventColumn::psi: return printed("%.3f", e.psi);
    case EventColumn::triplet: return printed("%.1f", le.triplet_deg);
    case EventColumn::ikaven: return printed("%.4g", le.ikaven_peak);
    case EventColumn::iaufhe: return printed("%.4g", le.iaufhe_peak);
    case EventColumn::fwhm: return printed("%.4f", e.fwhm);
    case EventColumn::f1: return printed("%.2f", e.f1);
    case EventColumn::f2: return printed("%.2f", e.f2);
    case EventColumn::count: break;
  }
  return {};
}

double event_sort_key(const ListedEvent& le, EventColumn c) {
  const MultipleDiffractionEvent& e = le.event;
  // Indices within +-999 sort as the number h k l written in base 2000.
  auto key = [](float h, float k, float l) {
    return (index(h) + 1000.0) * 4e6 + (index(k) + 1000.0) * 2e3 + (index(l) + 1000.0);
  };
  switch (c) {
    case EventColumn::pass: return le.pass;
    case EventColumn::secondary: return key(e.h1, e.k1, e.l1);
    case EventColumn::coupling: return key(e.h2, e.k2, e.l2);
    case EventColumn::crossing: return e.crossing;
    case EventColumn::psi: return e.psi;
    case EventColumn::triplet: return le.triplet_deg;
    case EventColumn::ikaven: return le.ikaven_peak;
    case EventColumn::iaufhe: return le.iaufhe_peak;
    case EventColumn::fwhm: return e.fwhm;
    case EventColumn::f1: return e.f1;
    case EventColumn::f2: return e.f2;
    case EventColumn::count: break;
  }
  return 0;
}

std::vector<std::string> event_tooltip_lines(const ScanData& data, std::span<const std::size_t> at,
                                             double psi, std::size_t max_lines) {
  std::vector<std::string> lines;
  if (at.empty()) return lines;
  lines.push_back("psi " + printed("%.3f", psi) + ": " + std::to_string(at.size()) +
                  (at.size() == 1 ? " event" : " events"));
  for (std::size_t n = 0; n < at.size() && n < max_lines; ++n) {
    const ListedEvent& e = data.events[at[n]];
    std::string line = event_cell(e, EventColumn::secondary) + " / " +
                       event_cell(e, EventColumn::coupling) + "  " +
                       event_cell(e, EventColumn::crossing) + "  psi " +
                       event_cell(e, EventColumn::psi) + "  Phi " +
                       event_cell(e, EventColumn::triplet) + "  Ikaven " +
                       event_cell(e, EventColumn::ikaven) + "  Iaufhe " +
                       event_cell(e, EventColumn::iaufhe) + " cps";
    if (data.passes > 1) line += "  pass " + std::to_string(e.pass);
    lines.push_back(line);
  }
  if (at.size() > max_lines) lines.push_back("and " + std::to_string(at.size() - max_lines) + " more");
  return lines;
}

}  // namespace kaven::gui
