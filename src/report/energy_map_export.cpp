#include "report/energy_map_export.hpp"

#include <cmath>
#include <cstdio>
#include <sstream>

#include "core/number_text.hpp"
#include "report/results_export.hpp"
#include "simulation/listed_events.hpp"

namespace kaven {
namespace {

std::string field(double v) { return std::isfinite(v) ? shortest(v) : std::string(); }
std::string field(float v) { return std::isfinite(v) ? shortest(v) : std::string(); }

const std::vector<std::string>& map_header() {
  static const std::vector<std::string> h = [] {
    std::vector<std::string> v{"energy_kev"};
    const std::vector<std::string>& e = events_header();
    v.insert(v.end(), e.begin(), e.end());
    v.push_back("note");
    return v;
  }();
  return h;
}

const std::vector<std::string>& escan_header() {
  static const std::vector<std::string> h{"energy_kev", "wavelength", "intensity", "iprim", "relative",
                                          "crossings", "note", "events"};
  return h;
}

bool starts_with_row(std::istream& is, const std::vector<std::string>& header) {
  std::ostringstream expected;
  write_csv_row(expected, header);
  const std::string head = expected.str();
  std::string start(head.size(), '\0');
  is.read(start.data(), static_cast<std::streamsize>(start.size()));
  return is.gcount() == static_cast<std::streamsize>(head.size()) && start == head;
}

std::string note_of(EnergyStatus status) { return energy_status_text(status); }

std::string triple(const std::array<int, 3>& h) {
  return std::to_string(h[0]) + " " + std::to_string(h[1]) + " " + std::to_string(h[2]);
}

std::string share_text(const ScanShare& s) {
  char cps[32];
  std::snprintf(cps, sizeof cps, "%+.5g", s.cps);
  return triple(s.secondary) + (s.crossing == Crossing::first ? " in-out " : " out-in ") +
         shortest(s.psi) + " " + cps;
}

}  // namespace

void write_map_csv_header(std::ostream& os) { write_csv_row(os, map_header()); }

void write_map_csv_rows(std::ostream& os, const EnergyPoint& p) {
  const std::string energy = field(p.energy_kev);
  if (p.status != EnergyStatus::ok || p.pass.events.empty()) {
    std::vector<std::string> r(map_header().size());
    r.front() = energy;
    r[2] = field(p.wavelength);
    r.back() = p.status == EnergyStatus::ok ? "no event listed" : note_of(p.status);
    write_csv_row(os, r);
    return;
  }
  for (const MultipleDiffractionEvent& e : p.pass.events) {
    std::vector<std::string> r{energy};
    const std::vector<std::string> f = event_csv_fields(1, p.wavelength, triplet_phase_deg(p.primary_phase, e), e);
    r.insert(r.end(), f.begin(), f.end());
    r.emplace_back();
    write_csv_row(os, r);
  }
}

void write_escan_csv_header(std::ostream& os) { write_csv_row(os, escan_header()); }

void write_escan_csv_row(std::ostream& os, const EnergyScanPoint& p) {
  const bool ok = p.status == EnergyStatus::ok;
  std::string shares;
  for (const ScanShare& s : p.shares) shares += (shares.empty() ? "" : "; ") + share_text(s);
  const double relative = ok && p.iprim > 0 ? double(p.intensity) / p.iprim - 1 : std::nan("");
  write_csv_row(os, {field(p.energy_kev), field(p.wavelength), ok ? field(p.intensity) : "",
                     ok ? field(p.iprim) : "", field(relative), ok ? std::to_string(p.crossings) : "",
                     note_of(p.status), shares});
}

bool starts_as_kaven_map_csv(std::istream& is) { return starts_with_row(is, map_header()); }
bool starts_as_kaven_escan_csv(std::istream& is) { return starts_with_row(is, escan_header()); }

void EnergyMapSummary::add(const EnergyPoint& p) {
  ++energies_done;
  if (p.status != EnergyStatus::ok) {
    ++out_of_reach;
    return;
  }
  events += static_cast<long>(p.pass.events.size());
  if (!p.pass.events.empty()) ++energies_with_events;
  for (const MultipleDiffractionEvent& e : p.pass.events) {
    const float peak = std::max(e.ikaven, e.iaufhe) / e.fwhm;
    if (peak > largest_peak) largest_peak = peak, largest_peak_kev = p.energy_kev;
  }
}

void EnergyScanSummary::add(const EnergyScanPoint& p) {
  ++energies_done;
  if (p.status != EnergyStatus::ok) {
    ++out_of_reach;
    return;
  }
  if (!any || p.intensity > max) max = p.intensity, max_kev = p.energy_kev;
  if (!any || p.intensity < min) min = p.intensity, min_kev = p.energy_kev;
  any = true;
}

namespace {

void files(JsonWriter& j, const std::vector<std::pair<std::string, std::string>>& f) {
  j.key("files").begin_object();
  for (const auto& [kind, path] : f) j.key(kind).value(path);
  j.end_object();
}

}  // namespace

void write_energy_map_summary(JsonWriter& j, const EnergyMapSummary& s) {
  j.key("energy_map").begin_object();
  j.key("energies_kev").begin_array(true).value(s.grid.e1_kev).value(s.grid.e2_kev).end_array();
  j.key("energies").value(s.grid.n);
  j.key("energies_done").value(s.energies_done);
  j.key("input_energy_kev").value(s.input_kev);
  j.key("reflections_searched").value(s.candidates);
  j.key("events").value(s.events);
  j.key("energies_with_events").value(s.energies_with_events);
  j.key("energies_out_of_reach").value(s.out_of_reach);
  j.key("largest_peak_cps").value(s.largest_peak);
  j.key("largest_peak_energy_kev");
  if (s.events > 0) j.value(s.largest_peak_kev);
  else j.null();
  files(j, s.files);
  j.end_object();
}

void write_energy_scan_summary(JsonWriter& j, const EnergyScanSummary& s) {
  j.key("energy_scan").begin_object();
  j.key("psi_deg").value(s.psi);
  j.key("energies_kev").begin_array(true).value(s.grid.e1_kev).value(s.grid.e2_kev).end_array();
  j.key("energies").value(s.grid.n);
  j.key("energies_done").value(s.energies_done);
  j.key("input_energy_kev").value(s.input_kev);
  j.key("energies_out_of_reach").value(s.out_of_reach);
  j.key("intensity");
  if (s.any) {
    j.begin_object();
    j.key("max_cps").value(s.max);
    j.key("max_energy_kev").value(s.max_kev);
    j.key("min_cps").value(s.min);
    j.key("min_energy_kev").value(s.min_kev);
    j.end_object();
  } else {
    j.null();
  }
  files(j, s.files);
  j.end_object();
}

}  // namespace kaven
