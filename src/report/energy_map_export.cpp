#include "report/energy_map_export.hpp"

#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>

#include "core/number_text.hpp"
#include "report/results_export.hpp"
#include "simulation/listed_events.hpp"

namespace kaven {
namespace {

bool starts_with_header(std::istream& is, const std::vector<ResultColumn>& columns) {
  std::ostringstream expected;
  write_csv_header(expected, columns);
  const std::string head = expected.str();
  std::string start(head.size(), '\0');
  is.read(start.data(), static_cast<std::streamsize>(start.size()));
  return is.gcount() == static_cast<std::streamsize>(head.size()) && start == head;
}

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

const std::vector<ResultColumn>& map_columns() {
  static const std::vector<ResultColumn> c = [] {
    std::vector<ResultColumn> v{{"energy_kev", ColumnKind::real64}};
    const std::vector<ResultColumn>& e = events_columns();
    v.insert(v.end(), e.begin(), e.end());
    v.push_back({"note", ColumnKind::text});
    return v;
  }();
  return c;
}

void map_rows(const EnergyPoint& p, const RowSink& sink) {
  std::vector<ResultCell> cells;
  for (const MultipleDiffractionEvent& e : p.pass.events) {
    cells = {p.energy_kev};
    const std::vector<ResultCell> f = event_cells(1, p.wavelength, triplet_phase_deg(p.primary_phase, e), e);
    cells.insert(cells.end(), f.begin(), f.end());
    cells.emplace_back(std::string());
    sink(cells);
  }
}

const std::vector<ResultColumn>& escan_columns() {
  using enum ColumnKind;
  static const std::vector<ResultColumn> c{{"energy_kev", real64}, {"wavelength", real32}, {"intensity", real32},
                                           {"iprim", real32},      {"relative", real64},   {"crossings", integer},
                                           {"note", text},         {"events", text}};
  return c;
}

void write_map_csv_header(std::ostream& os) { write_csv_header(os, map_columns()); }

void write_map_csv_rows(std::ostream& os, const EnergyPoint& p) {
  if (p.status == EnergyStatus::ok && !p.pass.events.empty()) {
    map_rows(p, [&os](const std::vector<ResultCell>& cells) { write_csv_row(os, cells); });
    return;
  }
  // The energy, its wavelength and why it has no event; the other fields empty.
  const std::vector<ResultColumn>& cols = map_columns();
  std::vector<ResultCell> cells(cols.size(), std::string());
  cells.front() = p.energy_kev;
  for (std::size_t i = 0; i < cols.size(); ++i)
    if (cols[i].name == "wavelength") cells[i] = p.wavelength;
  cells.back() = std::string(p.status == EnergyStatus::ok ? "no event listed" : energy_status_text(p.status));
  write_csv_row(os, cells);
}

void write_escan_csv_header(std::ostream& os) { write_csv_header(os, escan_columns()); }

std::vector<ResultCell> escan_cells(const EnergyScanPoint& p) {
  const bool ok = p.status == EnergyStatus::ok;
  const float none = std::numeric_limits<float>::quiet_NaN();
  std::string shares;
  for (const ScanShare& s : p.shares) shares += (shares.empty() ? "" : "; ") + share_text(s);
  const double relative = ok && p.iprim > 0 ? double(p.intensity) / p.iprim - 1 : std::nan("");
  ResultCell crossings = std::string();
  if (ok) crossings = static_cast<int>(std::min<long>(p.crossings, std::numeric_limits<int>::max()));
  return {p.energy_kev, p.wavelength, ok ? p.intensity : none, ok ? p.iprim : none, relative, crossings,
          std::string(energy_status_text(p.status)), shares};
}

void write_escan_csv_row(std::ostream& os, const EnergyScanPoint& p) { write_csv_row(os, escan_cells(p)); }

bool starts_as_kaven_map_csv(std::istream& is) { return starts_with_header(is, map_columns()); }
bool starts_as_kaven_escan_csv(std::istream& is) { return starts_with_header(is, escan_columns()); }

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
