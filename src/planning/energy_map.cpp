#include "planning/energy_map.hpp"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <stdexcept>

#include "core/parallel.hpp"
#include "core/run_stop.hpp"
#include "crystal/geometry.hpp"
#include "scattering/element_table.hpp"
#include "simulation/listed_events.hpp"
#include "simulation/reference_direction.hpp"
#include "simulation/reflection_cache.hpp"
#include "simulation/scan_simulation.hpp"

namespace kaven {
namespace {

// Computes point(i) for the energies of the grid on the threads and hands them to the
// sink in the order of the grid. A thread takes the next energy only while fewer than
// `window` energies wait for one before them, so that the points held at once do not
// grow with the grid.
template <class Point, class Compute>
bool ordered_energies(const EnergyGrid& grid, const EnergyMapOptions& opt, Compute compute,
                      const std::function<void(Point&&)>& sink) {
  const int n = grid.n;
  if (n <= 0) return true;
  const int threads = std::max(1, std::min(thread_count(opt.threads), n));
  const int window = 2 * threads;
  std::mutex m;
  std::condition_variable cv;
  int next_take = 0, next_deliver = 0;
  bool stop = false;
  std::map<int, Point> ready;
  std::exception_ptr error;
  auto cancelled = [&] { return opt.cancel && opt.cancel->load(std::memory_order_relaxed); };
  auto work = [&]() {
    for (;;) {
      int i;
      {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return stop || next_take >= n || next_take < next_deliver + window; });
        if (stop || next_take >= n) return;
        if (cancelled()) {
          stop = true;
          cv.notify_all();
          return;
        }
        i = next_take++;
      }
      Point p;
      try {
        p = compute(i, grid.energy(i));
      } catch (...) {
        std::lock_guard<std::mutex> lock(m);
        if (!error) error = std::current_exception();
        stop = true;
        cv.notify_all();
        return;
      }
      std::lock_guard<std::mutex> lock(m);
      ready.emplace(i, std::move(p));
      while (!stop && !ready.empty() && ready.begin()->first == next_deliver) {
        auto node = ready.extract(ready.begin());
        try {
          sink(std::move(node.mapped()));
        } catch (...) {
          if (!error) error = std::current_exception();
          stop = true;
          break;
        }
        ++next_deliver;
        if (opt.progress) opt.progress(double(next_deliver) / n);
      }
      cv.notify_all();
    }
  };
  run_on_threads(threads, work);
  if (error) std::rethrow_exception(error);
  return next_deliver == n;
}

// The record of the plan at one energy, and what the search at it needs.
struct AtEnergy {
  RunParameters par;
  EnergyStatus status;
};

AtEnergy record_at(const EnergyPlan& plan, double energy_kev) {
  AtEnergy a{plan.base(), EnergyStatus::ok};
  a.status = set_energy(a.par, plan.crystal(), energy_kev);
  return a;
}

double margin_at(const EnergyPlan& plan, const RunParameters& par) {
  const std::array<int, 3> b = plan.margin_box();
  return screening_margin(par, b[0], b[1], b[2]);
}

}  // namespace

std::string energy_grid_problem(const EnergyGrid& g) {
  if (!std::isfinite(g.e1_kev) || !std::isfinite(g.e2_kev) || !(g.e1_kev > 0) || !(g.e2_kev > 0))
    return "the energies must be positive numbers of keV";
  if (!(g.e1_kev < g.e2_kev)) return "the first energy must be below the second (E1 < E2)";
  if (g.n < 2) return "a map needs at least 2 energies (N >= 2)";
  if (g.n > kMaxEnergies) return "at most " + std::to_string(kMaxEnergies) + " energies (N)";
  return {};
}

std::string energy_input_problem(const RunParameters& par) {
  if (par.isyn == 0)
    return "the input's radiation (line 4) is an X-ray tube, whose energy is fixed; the energy "
           "can be chosen only for the synchrotron line (mode 1 or 2)";
  return {};
}

EnergyPlan::EnergyPlan(const EnergyCrystal& crystal, double highest_kev, int threads)
    : crystal_(crystal), highest_kev_(highest_kev), extinction_(xtab1()) {
  RunParameters& p = crystal_.par;
  if (std::string why = energy_input_problem(p); !why.empty()) stop_run({"", " " + why});
  reciprocal_cell(p);
  check_cell(p);
  primary_vector(p);
  for (AtomType& t : p.types) tabulate_f0(t);
  // PsiD from the orientation matrix, as the run forms it.
  if (p.ub_read) {
    const std::array<float, 3> r = reference_direction(p);
    p.psid = upsi(p, r[0], r[1], r[2]);
  }
  const double shortest = wavelength_of_energy(highest_kev);
  check_search_size(p, shortest);
  const std::array<int, 3> lim = index_limits(p, shortest);
  margin_box_ = {lim[0] + std::abs(p.h), lim[1] + std::abs(p.k), lim[2] + std::abs(p.l)};
  sums_ = std::make_unique<CandidateSums>(p, candidate_reflections(p, shortest), threads);
}

EnergyPoint map_energy(const EnergyPlan& plan, int index, double energy_kev) {
  EnergyPoint pt;
  pt.index = index;
  pt.energy_kev = energy_kev;
  AtEnergy a = record_at(plan, energy_kev);
  RunParameters& par = a.par;
  pt.status = a.status;
  pt.wavelength = par.alam1;
  for (const AtomType& t : par.types) {
    pt.fp.push_back(t.fp);
    pt.fpp.push_back(t.fpp);
  }
  if (a.status != EnergyStatus::ok) return pt;
  pt.primary_f = par.f;
  pt.primary_phase = par.phi;
  pt.mue = par.mue;
  const WavelengthPass pass{par.alam1, par.dlam1, par.flam1};
  pt.primary = primary_pass(par, plan.extinction(), pass);
  par.zsw1 = -std::fabs(par.zsw1);  // the listing's events only: no scan
  CandidateSums::AtEnergy sf(plan.sums(), par, margin_at(plan, par));
  pt.pass = search_candidates(par, pt.primary, plan.sums().candidates(), sf, true);
  std::vector<MultipleDiffractionEvent>& ev = pt.pass.events;
  ev.erase(std::remove_if(ev.begin(), ev.end(),
                          [&](const MultipleDiffractionEvent& e) { return !listed_event(par, e); }),
           ev.end());
  return pt;
}

EnergyScanPoint scan_energy(const EnergyPlan& plan, int index, double energy_kev, float psi) {
  EnergyScanPoint pt;
  pt.index = index;
  pt.energy_kev = energy_kev;
  AtEnergy a = record_at(plan, energy_kev);
  RunParameters& par = a.par;
  pt.status = a.status;
  pt.wavelength = par.alam1;
  if (a.status != EnergyStatus::ok) return pt;
  const WavelengthPass pass{par.alam1, par.dlam1, par.flam1};
  const PrimaryPass pp = primary_pass(par, plan.extinction(), pass);
  // A scan of one step at psi: every crossing of the turn above 0.01 drumin enters it,
  // nothing is listed. The steps per degree of the input decide on which side of a
  // crossing the step lies.
  par.drumin = 0;
  par.zsw1 = par.zsw;
  par.psia = psi;
  par.psie = psi;
  par.nstep = 0;
  CandidateSums::AtEnergy sf(plan.sums(), par, margin_at(plan, par));
  const EventPassResult r = search_candidates(par, pp, plan.sums().candidates(), sf, true);
  const std::vector<double> add = step_contributions(par, r.scan, 0);
  double sum = 0;
  for (double v : add) sum += v;
  pt.iprim = static_cast<float>(pp.iprim);
  pt.intensity = static_cast<float>(sum + double(pt.iprim));
  pt.crossings = static_cast<long>(r.scan.size());
  double largest = 0;
  for (double v : add) largest = std::max(largest, std::fabs(v));
  const double shown = kShareShown * (pt.iprim > 0 ? double(pt.iprim) : largest);
  std::vector<std::size_t> idx;
  for (std::size_t i = 0; i < add.size(); ++i)
    if (std::fabs(add[i]) >= shown && add[i] != 0) idx.push_back(i);
  std::stable_sort(idx.begin(), idx.end(),
                   [&](std::size_t x, std::size_t y) { return std::fabs(add[x]) > std::fabs(add[y]); });
  if (idx.size() > kSharesKept) idx.resize(kSharesKept);
  for (std::size_t i : idx) {
    const ScanCrossing& c = r.scan[i];
    ScanShare s;
    s.secondary = c.secondary;
    s.coupling = {par.h - c.secondary[0], par.k - c.secondary[1], par.l - c.secondary[2]};
    s.crossing = c.crossing;
    s.psi = c.psi;
    s.cps = add[i];
    pt.shares.push_back(s);
  }
  return pt;
}

namespace {

// A grid beyond the plan's highest energy would meet reflections its list does not hold.
void check_within(const EnergyPlan& plan, const EnergyGrid& grid) {
  if (grid.e2_kev > plan.highest_kev() || grid.e1_kev > plan.highest_kev())
    throw std::invalid_argument("an energy of the grid lies above the plan's highest energy");
}

}  // namespace

bool energy_map(const EnergyPlan& plan, const EnergyGrid& grid, const EnergyMapOptions& opt,
                const std::function<void(EnergyPoint&&)>& sink) {
  check_within(plan, grid);
  return ordered_energies<EnergyPoint>(
      grid, opt, [&](int i, double e) { return map_energy(plan, i, e); }, sink);
}

std::vector<EnergyPoint> energy_map(const EnergyPlan& plan, const EnergyGrid& grid,
                                    const EnergyMapOptions& opt) {
  std::vector<EnergyPoint> all;
  energy_map(plan, grid, opt, [&](EnergyPoint&& p) { all.push_back(std::move(p)); });
  return all;
}

bool energy_scan(const EnergyPlan& plan, const EnergyGrid& grid, float psi, const EnergyMapOptions& opt,
                 const std::function<void(EnergyScanPoint&&)>& sink) {
  check_within(plan, grid);
  return ordered_energies<EnergyScanPoint>(
      grid, opt, [&](int i, double e) { return scan_energy(plan, i, e, psi); }, sink);
}

std::vector<EnergyScanPoint> energy_scan(const EnergyPlan& plan, const EnergyGrid& grid, float psi,
                                         const EnergyMapOptions& opt) {
  std::vector<EnergyScanPoint> all;
  energy_scan(plan, grid, psi, opt, [&](EnergyScanPoint&& p) { all.push_back(std::move(p)); });
  return all;
}

}  // namespace kaven
