#include "analysis/scan_model.hpp"

#include <algorithm>
#include <cmath>

#include "core/constants.hpp"
#include "input/input_reader.hpp"
#include "simulation/event_intensity.hpp"
#include "simulation/run_phases.hpp"
#include "simulation/scan_simulation.hpp"

namespace kaven {

namespace {

// Every event that can show in the scan is listed for the indexing: the listing
// threshold goes down to the scan's (a positive one, so that the search lists at all).
constexpr float kSmallestListed = 1e-30f;

bool same_cell(const RunParameters& a, const RunParameters& b) {
  return a.a == b.a && a.b == b.b && a.c == b.c && a.alpha == b.alpha && a.beta == b.beta &&
         a.gamma == b.gamma;
}

}  // namespace

double wrap_scan_psi(double psi, int isyn) {
  // Shifts stay within a turn; the loop only guards a value beyond it.
  for (int i = 0; i < 4 && std::fabs(psi) > 180.0; ++i) psi -= 360.0 * (psi > 0 ? 1 : -1);
  if (isyn > 0 && psi < 0) psi += 360.0;
  return psi;
}

double counting_error(const RunParameters& par, double background, double y) {
  // Counting errors as the reduction of the measured scan forms them: the tube's rates
  // are counts per 60 s (1/sqrt(60) = 0.1291) with the background subtracted, whose own
  // error adds; the synchrotron's values are taken as counts. At least the error of a
  // single count: 1/60 cps on the tube, 1 on the synchrotron.
  const bool tube = par.isyn == 0;
  const double c = tube ? double(0.1291f) : 1.0;
  const double b = tube ? background : 0.0;
  return c * std::sqrt(std::max(y + 2 * b, tube ? c * c : 1.0));
}

std::vector<MeasuredPoint> measured_points(const RunParameters& par, const RunResult& run) {
  std::vector<MeasuredPoint> pts;
  const std::vector<float>& m = run.measured.intensity;
  if (!run.measured.present) return pts;
  for (std::size_t i = 0; i < m.size() && static_cast<long>(i) <= par.nstep; ++i) {
    if (!(m[i] < kNoMeasurement)) continue;
    const double y = m[i];
    pts.push_back({static_cast<int>(i), step_psi(par, static_cast<long>(i)), y,
                   counting_error(par, run.reduction.background, y)});
  }
  return pts;
}

void ScanModel::weigh_by_expected(const std::vector<double>& y) {
  for (std::size_t i = 0; i < points_.size() && i < y.size(); ++i)
    points_[i].sigma = counting_error(base_, background_, y[i]);
}

void ScanModel::weigh_by_measured() {
  for (MeasuredPoint& pt : points_) pt.sigma = counting_error(base_, background_, pt.y);
}

struct ScanModel::Physics {
  double lambda_a, diverp, divers, eta, radius;
  bool operator==(const Physics&) const = default;
};

struct ScanModel::Entry {
  Physics key;
  std::unique_ptr<RunParameters> par;      // a stable address: a cache refers to it
  std::unique_ptr<ReflectionCache> cache;  // its own, when the cell is not the input's
  std::vector<PassRecord> passes;
  std::vector<ScanCrossing> crossings;  // of every pass, in the order of the search
  float iprim = 0;
};

ScanModel::ScanModel(const RunParameters& par, const RunResult& run, ModelSettings settings)
    : base_(par), settings_(std::move(settings)), f_computed_(run.primary_f_computed),
      psid_(par.psid), extinction_(xtab1()), points_(measured_points(par, run)),
      background_(run.reduction.background) {
  for (std::size_t t = 0; t < settings_.dispersion.size() && t < base_.types.size(); ++t) {
    base_.types[t].fp = settings_.dispersion[t].first;
    base_.types[t].fpp = settings_.dispersion[t].second;
  }
  if (settings_.nnn >= 0) base_.nnn = settings_.nnn;
  if (!points_.empty()) psi_centre_ = 0.5 * (points_.front().psi + points_.back().psi);
  // The run's own values derived again for the settings: a primary structure factor
  // formed by the run is formed again, so are the absorption coefficients.
  if (f_computed_) base_.f = 0, base_.phi = 0;
  derive_geometry(base_);
  derive_absorption(base_);
}

ScanModel::~ScanModel() = default;

ParameterValues ScanModel::start_values() const {
  ParameterValues v;
  v[FitParameter::psi_offset] = settings_.reading_deg;
  v[FitParameter::lambda_a] = 1;
  v[FitParameter::scale] = 1;
  v[FitParameter::background] = 0;
  v[FitParameter::slope] = 0;
  v[FitParameter::primary] = 1;
  v[FitParameter::events] = 1;
  v[FitParameter::diverp] = base_.diverp;
  v[FitParameter::divers] = base_.divers;
  v[FitParameter::eta] = base_.eta;
  v[FitParameter::radius] = base_.radius;
  return v;
}

ScanModel::Entry& ScanModel::physics(const ParameterValues& v) {
  const Physics key{v[FitParameter::lambda_a], v[FitParameter::diverp], v[FitParameter::divers],
                    v[FitParameter::eta], v[FitParameter::radius]};
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i]->key == key) {
      std::rotate(entries_.begin() + static_cast<long>(i), entries_.begin() + static_cast<long>(i) + 1,
                  entries_.end());
      return *entries_.back();
    }

  auto e = std::make_unique<Entry>();
  e->key = key;
  e->par = std::make_unique<RunParameters>(base_);
  RunParameters& p = *e->par;
  const double r = key.lambda_a;
  if (p.isyn > 0) {
    // The synchrotron line: the monochromator's Bragg angle follows the wavelength.
    p.alam1 = static_cast<float>(base_.alam1 * r);
    monochromator(p);
  } else {
    // The tube's K-alpha lines are known: the cell takes the scale.
    p.a = static_cast<float>(base_.a / r);
    p.b = static_cast<float>(base_.b / r);
    p.c = static_cast<float>(base_.c / r);
  }
  p.diverp = static_cast<float>(key.diverp);
  p.divers = static_cast<float>(key.divers);
  p.eta = static_cast<float>(key.eta);
  p.radius = static_cast<float>(key.radius);
  p.block_path_cm = static_cast<float>(4.0 / 3.0 * p.radius * kCmPerMicron);
  if (p.isyn > 0) synchrotron_band(p);
  if (f_computed_) p.f = 0, p.phi = 0;
  derive_geometry(p);
  derive_absorption(p);
  p.psid = static_cast<float>(double(psid_) + settings_.reading_deg);
  p.drumin = std::max(p.drumin_scan, kSmallestListed);

  ReflectionCache* cache = nullptr;
  if (same_cell(p, base_)) {
    if (!cache_) {
      const std::array<int, 3> lim = search_limits(base_);
      cache_ = std::make_unique<ReflectionCache>(base_, lim[0], lim[1], lim[2]);
    }
    cache = cache_.get();
  } else {
    // Another cell: every s changes, and with it every structure factor.
    const std::array<int, 3> lim = search_limits(p);
    e->cache = std::make_unique<ReflectionCache>(p, lim[0], lim[1], lim[2]);
    cache = e->cache.get();
  }
  const std::vector<WavelengthPass> passes = wavelength_passes(p);
  PassOptions opt;
  opt.threads = settings_.threads;
  opt.cancel = settings_.cancel;
  for (std::size_t n = 0; n < passes.size(); ++n) {
    e->passes.push_back(compute_pass(p, extinction_, passes, n, cache, opt));
    const std::vector<ScanCrossing>& c = e->passes.back().events.scan;
    e->crossings.insert(e->crossings.end(), c.begin(), c.end());
  }
  e->iprim = iprim_of_passes(e->passes);
  ++searches_;

  // The last few sets of values: those of a point and of its derivatives.
  constexpr std::size_t kKept = 8;
  if (entries_.size() >= kKept) entries_.erase(entries_.begin());
  entries_.push_back(std::move(e));
  return *entries_.back();
}

ModelScan ScanModel::simulate(const ParameterValues& v, int nnn) {
  Entry& e = physics(v);
  const double shift = v[FitParameter::psi_offset] - settings_.reading_deg;
  const double primary = v[FitParameter::primary], events = v[FitParameter::events];
  std::vector<ScanCrossing> crossings = e.crossings;
  for (ScanCrossing& c : crossings) {
    // Without a shift the positions stay as the search left them (one at 360 stays there).
    if (shift != 0) c.psi = static_cast<float>(wrap_scan_psi(double(c.psi) + shift, e.par->isyn));
    c.iprim = static_cast<float>(c.iprim * primary);
    c.ikaven = static_cast<float>(c.ikaven * events);
    c.iaufhe = static_cast<float>(c.iaufhe * events);
  }
  ScanOptions opt;
  opt.threads = settings_.threads;
  opt.cancel = settings_.cancel;
  ModelScan m;
  const float iprim = static_cast<float>(e.iprim * primary);
  if (nnn >= 0 && nnn != e.par->nnn) {
    RunParameters other = *e.par;
    other.nnn = nnn;
    m.profile = simulate_scan(other, crossings, iprim, opt);
  } else {
    m.profile = simulate_scan(*e.par, crossings, iprim, opt);
  }
  m.par = e.par.get();
  return m;
}

std::vector<PassRecord> ScanModel::passes(const ParameterValues& v) {
  Entry& e = physics(v);
  const double shift = v[FitParameter::psi_offset] - settings_.reading_deg;
  std::vector<PassRecord> out = e.passes;
  for (PassRecord& rec : out) {
    if (shift == 0) continue;
    for (MultipleDiffractionEvent& ev : rec.events.events)
      ev.psi = static_cast<float>(wrap_scan_psi(double(ev.psi) + shift, e.par->isyn));
    for (ScanCrossing& c : rec.events.scan)
      c.psi = static_cast<float>(wrap_scan_psi(double(c.psi) + shift, e.par->isyn));
    std::stable_sort(rec.events.events.begin(), rec.events.events.end(),
                     [](const MultipleDiffractionEvent& a, const MultipleDiffractionEvent& b) {
                       return a.psi < b.psi;
                     });
  }
  return out;
}

std::vector<double> ScanModel::curve_on_steps(const ParameterValues& v, int nnn) {
  const ScanProfile p = simulate(v, nnn).profile;
  std::vector<double> y(p.intensity.size());
  for (std::size_t i = 0; i < y.size(); ++i)
    y[i] = v[FitParameter::scale] * p.intensity[i] + v[FitParameter::background] +
           v[FitParameter::slope] * (step_psi(base_, static_cast<long>(i)) - psi_centre_);
  return y;
}

std::vector<double> ScanModel::curve(const ParameterValues& v, int nnn) {
  const ScanProfile p = simulate(v, nnn).profile;
  std::vector<double> y;
  y.reserve(points_.size());
  for (const MeasuredPoint& pt : points_)
    y.push_back(v[FitParameter::scale] * p.intensity[static_cast<std::size_t>(pt.step)] +
                v[FitParameter::background] + v[FitParameter::slope] * (pt.psi - psi_centre_));
  return y;
}

}  // namespace kaven
