#include "simulation/listed_events.hpp"

#include <algorithm>
#include <cmath>

#include "core/constants.hpp"

namespace kaven {

bool listed_event(const RunParameters& p, const MultipleDiffractionEvent& e) {
  return p.drumin > 0 && e.psi >= p.psia && e.psi <= p.psie;
}

double triplet_phase_deg(const RunParameters& par, const MultipleDiffractionEvent& e) {
  return triplet_phase_deg(par.phi, e);
}

double triplet_phase_deg(float primary_phase, const MultipleDiffractionEvent& e) {
  double triplet = std::remainder((double(e.phase1) + e.phase2 - primary_phase) * double(kRadToDeg), 360.0);
  if (triplet <= -180) triplet += 360;
  return triplet;
}

std::vector<ListedEvent> listed_events(const RunParameters& par, const RunResult& r) {
  std::vector<ListedEvent> out;
  for (std::size_t n = 0; n < r.passes.size(); ++n) {
    const PassRecord& rec = r.passes[n];
    for (const MultipleDiffractionEvent& e : rec.events.events) {
      if (!listed_event(par, e)) continue;
      ListedEvent le;
      le.pass = static_cast<int>(n + 1);
      le.lambda = rec.pass.lambda;
      le.event = e;
      le.triplet_deg = triplet_phase_deg(par, e);
      le.ikaven_peak = double(e.ikaven) / e.fwhm;
      le.iaufhe_peak = double(e.iaufhe) / e.fwhm;
      out.push_back(le);
    }
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const ListedEvent& a, const ListedEvent& b) { return a.event.psi < b.event.psi; });
  return out;
}

std::vector<std::size_t> events_at_psi(const std::vector<ListedEvent>& events, double psi_deg,
                                       double tolerance_deg) {
  std::vector<std::size_t> found;
  for (std::size_t i = 0; i < events.size(); ++i) {
    const MultipleDiffractionEvent& e = events[i].event;
    const double reach = std::max(std::isfinite(e.fwhm) ? 0.5 * e.fwhm : 0.0, tolerance_deg);
    if (std::fabs(double(e.psi) - psi_deg) <= reach) found.push_back(i);
  }
  auto strength = [&](std::size_t i) {
    const double s = std::max(events[i].ikaven_peak, events[i].iaufhe_peak);
    return std::isfinite(s) ? s : 0.0;
  };
  std::stable_sort(found.begin(), found.end(), [&](std::size_t a, std::size_t b) {
    const double sa = strength(a), sb = strength(b);
    if (sa != sb) return sa > sb;
    return std::fabs(events[a].event.psi - psi_deg) < std::fabs(events[b].event.psi - psi_deg);
  });
  return found;
}

}  // namespace kaven
