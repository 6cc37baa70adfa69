#include "analysis/peak_index.hpp"

#include <algorithm>
#include <cmath>

#include "simulation/listed_events.hpp"

namespace kaven {

namespace {

double value_of(const MultipleDiffractionEvent& e) {
  return e.fwhm > 0 ? std::max(e.ikaven, e.iaufhe) / double(e.fwhm) : 0.0;
}

double strongest_in_range(const std::vector<PassRecord>& passes, const RunParameters& par) {
  double strongest = 0;
  for (const PassRecord& rec : passes)
    for (const MultipleDiffractionEvent& e : rec.events.events)
      if (e.psi >= par.psia && e.psi <= par.psie) strongest = std::max(strongest, value_of(e));
  return strongest;
}

}  // namespace

double typical_event_width(const std::vector<PassRecord>& passes, const RunParameters& par) {
  const double strongest = strongest_in_range(passes, par);
  std::vector<double> w;
  for (const PassRecord& rec : passes)
    for (const MultipleDiffractionEvent& e : rec.events.events)
      if (e.psi >= par.psia && e.psi <= par.psie && value_of(e) > 0 &&
          value_of(e) >= kIndexedShare * strongest)
        w.push_back(e.fwhm);
  if (w.empty()) return 0;
  std::nth_element(w.begin(), w.begin() + static_cast<long>(w.size() / 2), w.end());
  return w[w.size() / 2];
}

std::vector<IndexedFeature> index_features(const std::vector<ScanFeature>& features,
                                           const std::vector<PassRecord>& passes,
                                           const RunParameters& par) {
  std::vector<IndexedFeature> out;
  for (const ScanFeature& f : features) out.push_back({f, {}});
  const double step = par.zsw > 0 ? 1.0 / par.zsw : 0.0;

  const double strongest = strongest_in_range(passes, par);

  for (std::size_t n = 0; n < passes.size(); ++n)
    for (const MultipleDiffractionEvent& e : passes[n].events.events) {
      const double value = value_of(e);
      if (!(value > 0) || value < kIndexedShare * strongest) continue;
      const bool adds = e.ikaven >= e.iaufhe;
      IndexedFeature* best = nullptr;
      double best_distance = 0;
      for (IndexedFeature& f : out) {
        if (f.feature.peak != adds) continue;
        const double d = std::fabs(f.feature.psi - e.psi);
        const double window = std::max(2.0 * std::max(double(e.fwhm), f.feature.fwhm_deg), 3.0 * step);
        if (d > window) continue;
        if (!best || d < best_distance) best = &f, best_distance = d;
      }
      if (!best) continue;
      IndexedEvent ie;
      ie.pass = static_cast<int>(n);
      ie.secondary = {static_cast<int>(std::lround(e.h1)), static_cast<int>(std::lround(e.k1)),
                      static_cast<int>(std::lround(e.l1))};
      ie.coupling = {static_cast<int>(std::lround(e.h2)), static_cast<int>(std::lround(e.k2)),
                     static_cast<int>(std::lround(e.l2))};
      ie.crossing = e.crossing == 2.0f ? 2 : 1;
      ie.triplet_deg = triplet_phase_deg(par, e);
      ie.psi_calc = e.psi;
      ie.delta = best->feature.psi - e.psi;
      ie.peak_cps = value;
      ie.fwhm = e.fwhm;
      ie.adds = adds;
      best->events.push_back(ie);
    }
  for (IndexedFeature& f : out)
    std::stable_sort(f.events.begin(), f.events.end(),
                     [](const IndexedEvent& a, const IndexedEvent& b) { return a.peak_cps > b.peak_cps; });
  return out;
}

}  // namespace kaven
