#include "analysis/scan_fit.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>

#include <Eigen/SVD>
#include <ceres/ceres.h>

#include "core/constants.hpp"
#include "core/run_stop.hpp"
#include "scattering/anomalous_dispersion.hpp"
#include "simulation/scan_simulation.hpp"

namespace kaven {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool has(const std::vector<FitParameter>& v, FitParameter p) {
  return std::find(v.begin(), v.end(), p) != v.end();
}

bool linear(FitParameter p) {
  return p == FitParameter::scale || p == FitParameter::background || p == FitParameter::slope;
}

// ---- agreement and the linear parameters ------------------------------------------

FitQuality quality_of(const std::vector<MeasuredPoint>& pts, const std::vector<double>& curve,
                      int refined) {
  FitQuality q;
  q.points = static_cast<int>(pts.size());
  q.refined = refined;
  double e = 0, o = 0, ew = 0, ow = 0;
  for (std::size_t i = 0; i < pts.size() && i < curve.size(); ++i) {
    const double d = pts[i].y - curve[i];
    const double w = 1.0 / (pts[i].sigma * pts[i].sigma);
    e += d * d;
    o += pts[i].y * pts[i].y;
    ew += w * d * d;
    ow += w * pts[i].y * pts[i].y;
  }
  q.r = o > 0 ? std::sqrt(e / o) : kNaN;
  q.r_weighted = ow > 0 ? std::sqrt(ew / ow) : kNaN;
  q.chi2_dof = q.points > refined ? ew / (q.points - refined) : kNaN;
  return q;
}

// The scan at the measured points.
std::vector<double> at_points(const std::vector<MeasuredPoint>& pts, const ScanProfile& p) {
  std::vector<double> v;
  v.reserve(pts.size());
  for (const MeasuredPoint& pt : pts) v.push_back(p.intensity[static_cast<std::size_t>(pt.step)]);
  return v;
}

// Weighted least squares for the linear parameters among `refine` (scale of the
// simulation, background, slope) with the simulation `sim` at the points held.
void solve_linear(const std::vector<MeasuredPoint>& pts, const std::vector<double>& sim,
                  double centre, const std::vector<FitParameter>& refine, ParameterValues& v) {
  std::vector<FitParameter> unknown;
  for (FitParameter p : {FitParameter::scale, FitParameter::background, FitParameter::slope})
    if (has(refine, p)) unknown.push_back(p);
  const std::size_t m = unknown.size();
  if (m == 0) return;
  double a[3][4] = {};
  for (std::size_t i = 0; i < pts.size(); ++i) {
    double col[3];
    double target = pts[i].y;
    const double d = pts[i].psi - centre;
    for (std::size_t j = 0; j < m; ++j)
      col[j] = unknown[j] == FitParameter::scale ? sim[i] : (unknown[j] == FitParameter::background ? 1.0 : d);
    if (!has(unknown, FitParameter::scale)) target -= v[FitParameter::scale] * sim[i];
    if (!has(unknown, FitParameter::background)) target -= v[FitParameter::background];
    if (!has(unknown, FitParameter::slope)) target -= v[FitParameter::slope] * d;
    const double w = 1.0 / (pts[i].sigma * pts[i].sigma);
    for (std::size_t j = 0; j < m; ++j) {
      for (std::size_t k = 0; k < m; ++k) a[j][k] += w * col[j] * col[k];
      a[j][3] += w * col[j] * target;
    }
  }
  // Gaussian elimination with partial pivoting on the m x m normal equations.
  for (std::size_t c = 0; c < m; ++c) {
    std::size_t piv = c;
    for (std::size_t r = c + 1; r < m; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[piv][c])) piv = r;
    if (!(std::fabs(a[piv][c]) > 0)) return;  // singular: keep the values
    std::swap(a[c], a[piv]);
    for (std::size_t r = 0; r < m; ++r) {
      if (r == c) continue;
      const double f = a[r][c] / a[c][c];
      for (std::size_t k = c; k < 4; ++k) a[r][k] -= f * a[c][k];
    }
  }
  for (std::size_t j = 0; j < m; ++j) v[unknown[j]] = a[j][3] / a[j][j];
}

// ---- bounds and derivative steps ----------------------------------------------------

struct Bounds {
  double lower = 0, upper = 0;
  double step = 0;       // of the difference quotient (at least); 0 for a linear parameter
  double relative = 0;   // the step as a share of the value, where larger
  bool forward = false;  // a forward difference (else central)
};

Bounds bounds_of(FitParameter p, const ParameterValues& input, const RunParameters& par,
                 const std::vector<MeasuredPoint>& pts) {
  double ymax = 1;
  for (const MeasuredPoint& pt : pts) ymax = std::max(ymax, std::fabs(pt.y));
  const double range = pts.size() > 1 ? std::max(pts.back().psi - pts.front().psi, 1e-3) : 1.0;
  const double step = par.zsw > 0 ? 1.0 / par.zsw : 0.01;
  const double x = input[p];
  switch (p) {
    // A psi offset beyond half a degree means another reading of the axis, not a
    // calibration; the derivative moves every event by a twentieth of a step.
    case FitParameter::psi_offset: return {x - 0.5, x + 0.5, 0.05 * step};
    // Two per cent of lambda/a: some 140 eV at 7 keV.
    case FitParameter::lambda_a: return {0.98, 1.02, 2e-5};
    case FitParameter::scale: return {0, std::max(1e6 * std::fabs(x), 1e-30), 0};
    case FitParameter::background: return {-10 * ymax, 10 * ymax, 0};
    case FitParameter::slope: return {-10 * ymax / range, 10 * ymax / range, 0};
    case FitParameter::primary:
    case FitParameter::events: return {1e-4, 1e4, 1e-8, 1e-4, false};
    case FitParameter::diverp:
    case FitParameter::divers:
    case FitParameter::eta: return {0, std::max(1.0, 20 * x), 1e-6, 1e-3, true};
    case FitParameter::radius:
      return {0.01, std::max(double(par.rkugel) * kMicronPerCm, 10 * x), 1e-5, 1e-3, true};
  }
  return {};
}

// ---- the residuals for Ceres ------------------------------------------------------

// (y_calc - y_obs) / sigma at every measured point, as a function of the refined
// parameters (one block); the others keep their values. The solver sees each parameter
// divided by its scale: parameters in degrees, electrons and counts differ by many
// orders of magnitude in their effect, and the covariance is formed from a Jacobian
// whose columns are of one size.
class ScanResiduals final : public ceres::CostFunction {
 public:
  ScanResiduals(ScanModel& model, std::vector<FitParameter> refined, const ParameterValues& held,
                std::vector<Bounds> bounds)
      : model_(&model), refined_(std::move(refined)), held_(held), bounds_(std::move(bounds)),
        scales_(refined_.size(), 1.0) {
    set_num_residuals(static_cast<int>(model.points().size()));
    mutable_parameter_block_sizes()->push_back(static_cast<int>(refined_.size()));
  }

  // Scales from the Jacobian at `x` (parameter values): each column of unit length.
  void scale_by_jacobian(const std::vector<double>& values) {
    std::fill(scales_.begin(), scales_.end(), 1.0);
    const std::size_t n = model_->points().size(), m = refined_.size();
    std::vector<double> r(n), jac(n * m);
    double* jp = jac.data();
    const double* xp = values.data();
    if (!Evaluate(&xp, r.data(), &jp)) return;
    for (std::size_t j = 0; j < m; ++j) {
      double norm = 0;
      for (std::size_t i = 0; i < n; ++i) norm += jac[i * m + j] * jac[i * m + j];
      norm = std::sqrt(norm);
      // A power of two, so that a value divided by its scale and multiplied again is
      // the value itself (and its search of the events is found again).
      if (norm > 0 && std::isfinite(norm)) scales_[j] = std::exp2(-std::round(std::log2(norm)));
    }
  }
  double scale(std::size_t j) const { return scales_[j]; }

  ParameterValues values(const double* x) const {
    ParameterValues v = held_;
    for (std::size_t j = 0; j < refined_.size(); ++j) v[refined_[j]] = x[j] * scales_[j];
    return v;
  }

  bool Evaluate(double const* const* x, double* residuals, double** jacobians) const override {
    const std::vector<MeasuredPoint>& pts = model_->points();
    const ParameterValues v = values(x[0]);
    try {
      const std::vector<double> sim = at_points(pts, model_->simulate(v).profile);
      const double centre = model_->psi_centre();
      std::vector<double> y(pts.size());
      for (std::size_t i = 0; i < pts.size(); ++i) {
        y[i] = v[FitParameter::scale] * sim[i] + v[FitParameter::background] +
               v[FitParameter::slope] * (pts[i].psi - centre);
        residuals[i] = (y[i] - pts[i].y) / pts[i].sigma;
      }
      if (!jacobians || !jacobians[0]) return true;
      const std::size_t m = refined_.size();
      double* jac = jacobians[0];
      for (std::size_t j = 0; j < m; ++j) {
        const FitParameter p = refined_[j];
        if (linear(p)) {
          for (std::size_t i = 0; i < pts.size(); ++i) {
            const double d = p == FitParameter::scale ? sim[i]
                             : p == FitParameter::background ? 1.0
                                                             : pts[i].psi - centre;
            jac[i * m + j] = d / pts[i].sigma;
          }
          continue;
        }
        // Central differences for the positions, whose derivatives change within a
        // peak width; the beam and crystal parameters change the profiles smoothly, and
        // a forward difference saves one search of the events. One-sided at a bound.
        const Bounds& b = bounds_[j];
        const double h = std::max(b.step, b.relative * std::fabs(v[p]));
        ParameterValues hi = v, lo = v;
        hi[p] = std::min(v[p] + h, b.upper);
        lo[p] = b.forward && hi[p] > v[p] ? v[p] : std::max(v[p] - h, b.lower);
        const double span = hi[p] - lo[p];
        if (!(span > 0)) return false;
        const std::vector<double> up = model_->curve(hi);
        const std::vector<double> down = lo[p] == v[p] ? y : model_->curve(lo);
        for (std::size_t i = 0; i < pts.size(); ++i)
          jac[i * m + j] = (up[i] - down[i]) / span / pts[i].sigma;
      }
      for (std::size_t i = 0; i < pts.size(); ++i)
        for (std::size_t j = 0; j < m; ++j) jac[i * m + j] *= scales_[j];
      return true;
    } catch (const RunStopped&) {
      return false;  // values that give no run: the solver steps back
    }
  }

 private:
  ScanModel* model_;
  std::vector<FitParameter> refined_;
  ParameterValues held_;
  std::vector<Bounds> bounds_;
  std::vector<double> scales_;
};

class FitCallback final : public ceres::IterationCallback {
 public:
  FitCallback(const FitOptions& o, std::string_view stage) : o_(o), stage_(stage) {}
  ceres::CallbackReturnType operator()(const ceres::IterationSummary& s) override {
    if (o_.progress) o_.progress({stage_, s.iteration, o_.max_iterations});
    if (o_.cancel && o_.cancel->load()) return ceres::SOLVER_ABORT;
    return ceres::SOLVER_CONTINUE;
  }

 private:
  const FitOptions& o_;
  std::string_view stage_;
};

// ---- the start: positions of the indexed peaks ---------------------------------------

struct PeakPosition {
  double measured, calculated, rate;  // rate: d psi / d (lambda/a)
};

// The event of `e` among the passes (same pass, secondary and crossing).
const MultipleDiffractionEvent* find_event(const std::vector<PassRecord>& passes, const IndexedEvent& e) {
  if (e.pass < 0 || static_cast<std::size_t>(e.pass) >= passes.size()) return nullptr;
  for (const MultipleDiffractionEvent& ev : passes[static_cast<std::size_t>(e.pass)].events.events)
    if (std::lround(ev.h1) == e.secondary[0] && std::lround(ev.k1) == e.secondary[1] &&
        std::lround(ev.l1) == e.secondary[2] && (ev.crossing == 2.0f ? 2 : 1) == e.crossing)
      return &ev;
  return nullptr;
}

PositionEstimate estimate_positions(ScanModel& model, ParameterValues& v,
                                    const std::vector<IndexedFeature>& peaks, bool offset,
                                    bool lambda, const Bounds& psi_bounds, const Bounds& lambda_bounds) {
  PositionEstimate est;
  if (!offset && !lambda) return est;
  std::vector<PeakPosition> pos;
  constexpr double kDelta = 1e-4;  // of lambda/a: events move by a few hundredths of a degree
  std::vector<PassRecord> moved;
  if (lambda) {
    ParameterValues w = v;
    w[FitParameter::lambda_a] += kDelta;
    moved = model.passes(w);
  }
  for (const IndexedFeature& f : peaks) {
    if (!f.feature.peak || f.events.empty()) continue;
    const IndexedEvent& e = f.events.front();
    double rate = 0;
    if (lambda) {
      const MultipleDiffractionEvent* m = find_event(moved, e);
      if (!m || std::fabs(m->psi - e.psi_calc) > 1.0) continue;
      rate = (m->psi - e.psi_calc) / kDelta;
    }
    pos.push_back({f.feature.psi, e.psi_calc, rate});
  }
  est.peaks = static_cast<int>(pos.size());
  if (pos.empty()) return est;
  // Least squares for the offset d and the change dr of lambda/a:
  // measured - calculated = d + rate dr.
  double n = 0, sr = 0, srr = 0, sd = 0, srd = 0, ss = 0;
  for (const PeakPosition& p : pos) {
    const double d = p.measured - p.calculated;
    n += 1, sr += p.rate, srr += p.rate * p.rate, sd += d, srd += p.rate * d, ss += d * d;
  }
  double d = 0, dr = 0;
  const double det = n * srr - sr * sr;
  const bool both = offset && lambda && pos.size() >= 2 && det > 1e-6 * n * srr;
  if (both) {
    d = (srr * sd - sr * srd) / det;
    dr = (n * srd - sr * sd) / det;
  } else if (offset) {
    d = sd / n;
  } else if (srr > 0) {
    dr = srd / srr;
  }
  d = std::clamp(v[FitParameter::psi_offset] + d, psi_bounds.lower, psi_bounds.upper) - v[FitParameter::psi_offset];
  dr = std::clamp(v[FitParameter::lambda_a] + dr, lambda_bounds.lower, lambda_bounds.upper) - v[FitParameter::lambda_a];
  double after = 0;
  for (const PeakPosition& p : pos) {
    const double r = p.measured - p.calculated - d - p.rate * dr;
    after += r * r;
  }
  est.rms_before = std::sqrt(ss / n);
  est.rms_after = std::sqrt(after / n);
  if (!(est.rms_after < est.rms_before)) return est;
  est.made = true;
  if (offset) v[FitParameter::psi_offset] += d;
  if (lambda) v[FitParameter::lambda_a] += dr;
  est.psi_offset = v[FitParameter::psi_offset];
  est.lambda_a = v[FitParameter::lambda_a];
  return est;
}

// ---- asymmetries ---------------------------------------------------------------------

// The point of `curve` highest within `reach` degrees of `psi`.
std::size_t highest_near(const std::vector<MeasuredPoint>& pts, const std::vector<double>& curve,
                         double psi, double reach) {
  std::size_t best = pts.size();
  for (std::size_t i = 0; i < pts.size(); ++i)
    if (std::fabs(pts[i].psi - psi) <= reach && (best == pts.size() || curve[i] > curve[best])) best = i;
  return best;
}

void compare_asymmetries(ScanModel& model, ScanFitSolution& sol, double noise) {
  const std::vector<MeasuredPoint>& pts = model.points();
  const ParameterValues& v = sol.values;
  sol.nnn_with = model.base().nnn > 0 ? model.base().nnn : 1;
  const std::vector<double> with = model.curve(v, sol.nnn_with);
  const std::vector<double> without = model.curve(v, 0);
  std::vector<double> psi, y;
  for (const MeasuredPoint& pt : pts) psi.push_back(pt.psi), y.push_back(pt.y);
  for (std::size_t k = 0; k < sol.peaks_after.size(); ++k) {
    const IndexedFeature& f = sol.peaks_after[k];
    if (!f.feature.peak || f.events.empty()) continue;
    double neighbour = std::numeric_limits<double>::infinity();
    for (const IndexedFeature& g : sol.peaks_after)
      if (&g != &f && g.feature.peak) neighbour = std::min(neighbour, std::fabs(g.feature.psi - f.feature.psi));
    PeakAsymmetry a;
    a.psi = f.feature.psi;
    a.feature = k;
    const double fwhm = f.feature.fwhm_deg;
    const PeakWindows w = peak_windows(f.feature.psi, fwhm, neighbour);
    auto height_at = [&](const std::vector<double>& c, std::size_t i) { return c[i] - sol.background[i]; };
    const std::size_t im = highest_near(pts, y, f.feature.psi, 0.5 * fwhm + 1e-9);
    if (im < pts.size())
      a.measured = asymmetry(psi, y, sol.background, w, height_at(y, im), noise);
    auto simulated = [&](const std::vector<double>& c) {
      const std::size_t i = highest_near(pts, c, f.feature.psi, fwhm);
      if (i == pts.size()) return Asymmetry{};
      PeakWindows ws = w;
      ws.centre = pts[i].psi;
      return asymmetry(psi, c, sol.background, ws, height_at(c, i), 0.0);
    };
    a.with_term = simulated(with);
    a.without_term = simulated(without);
    sol.asymmetry.push_back(a);
  }
  // R with the interference term switched, the linear parameters solved again.
  sol.nnn_other = model.base().nnn > 0 ? 0 : sol.nnn_with;
  ParameterValues other = v;
  const ScanProfile p = model.simulate(other, sol.nnn_other).profile;
  const std::vector<double> sim = at_points(pts, p);
  std::vector<FitParameter> lin;
  for (const FittedParameter& fp : sol.parameters)
    if (fp.refined && linear(fp.id)) lin.push_back(fp.id);
  solve_linear(pts, sim, model.psi_centre(), lin, other);
  std::vector<double> c(pts.size());
  for (std::size_t i = 0; i < pts.size(); ++i)
    c[i] = other[FitParameter::scale] * sim[i] + other[FitParameter::background] +
           other[FitParameter::slope] * (pts[i].psi - model.psi_centre());
  sol.quality_other_term = quality_of(pts, c, static_cast<int>(sol.refined.size()));
}

// ---- one fit -------------------------------------------------------------------------

std::string number_text(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

// Fills what the fitted values give: the refined run's wavelength, cell, PsiD and the
// curves.
void describe(ScanModel& model, ScanFitSolution& sol) {
  const ParameterValues& v = sol.values;
  const RunParameters& base = model.base();
  const double r = v[FitParameter::lambda_a];
  sol.wavelength_A = base.alam1 * r;
  sol.energy_eV = energy_ev_of(sol.wavelength_A);
  sol.cell_a = base.a / r, sol.cell_b = base.b / r, sol.cell_c = base.c / r;
  sol.cell_equivalent_a = sol.cell_a;
  sol.psid = wrap_scan_psi(double(base.psid) + v[FitParameter::psi_offset], 0);
  for (const AtomType& t : base.types) sol.dispersion.emplace_back(t.fp, t.fpp);
  const std::vector<MeasuredPoint>& pts = model.points();
  const ScanProfile p = model.simulate(v).profile;
  sol.fitted.clear();
  sol.background.clear();
  sol.sigma.clear();
  for (const MeasuredPoint& pt : pts) {
    sol.sigma.push_back(pt.sigma);
    const double lin = v[FitParameter::background] + v[FitParameter::slope] * (pt.psi - model.psi_centre());
    sol.fitted.push_back(v[FitParameter::scale] * p.intensity[static_cast<std::size_t>(pt.step)] + lin);
    sol.background.push_back(v[FitParameter::scale] * p.iprim_total + lin);
  }
  sol.fitted_steps = model.curve_on_steps(v);
}

// The extreme of the fitted curve next to each feature after the fit: found as the
// measured ones are, on the curve over every step, within the feature's width.
std::vector<double> model_extremes(const ScanModel& model, const ScanFitSolution& sol) {
  const RunParameters& base = model.base();
  std::vector<double> psi(sol.fitted_steps.size());
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  for (std::size_t i = 0; i < psi.size(); ++i) {
    psi[i] = step_psi(base, static_cast<long>(i));
    lo = std::min(lo, sol.fitted_steps[i]), hi = std::max(hi, sol.fitted_steps[i]);
  }
  FeatureOptions fo;
  fo.smooth = false;
  fo.min_prominence = 1e-6 * (hi - lo);
  const std::vector<ScanFeature> curve = find_features(psi, sol.fitted_steps, fo);
  std::vector<double> out;
  for (const IndexedFeature& f : sol.peaks_after) {
    double best = kNaN, distance = std::max(f.feature.fwhm_deg, 1e-9);
    for (const ScanFeature& c : curve)
      if (c.peak == f.feature.peak && std::fabs(c.psi - f.feature.psi) <= distance)
        best = c.psi, distance = std::fabs(c.psi - f.feature.psi);
    out.push_back(best);
  }
  return out;
}

// Whether the refined parameters are independent at `x` (scaled): the smallest singular
// value of the Jacobian is not negligible beside the largest. The covariance needs it,
// and Ceres, asked for one it cannot form, says so on standard error.
bool independent(const ScanResiduals& cost, const std::vector<double>& x) {
  const std::size_t m = x.size();
  const std::size_t n = static_cast<std::size_t>(cost.num_residuals());
  std::vector<double> r(n), jac(n * m);
  double* jp = jac.data();
  const double* xp = x.data();
  if (m == 0 || !cost.Evaluate(&xp, r.data(), &jp)) return false;
  const Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>> J(
      jac.data(), static_cast<Eigen::Index>(n), static_cast<Eigen::Index>(m));
  const Eigen::VectorXd sv = Eigen::JacobiSVD<Eigen::MatrixXd>(J).singularValues();
  // Ceres's own criterion, on the eigenvalues of J^T J: 1e-14 of the largest.
  return sv.size() > 0 && sv(sv.size() - 1) > 1e-7 * sv(0);
}

// One Levenberg-Marquardt minimisation of the refined parameters `refine` from `v`,
// with the covariance at its end (in the parameters' own units, not yet scaled by
// chi^2 per degree of freedom).
struct Minimisation {
  bool converged = false;
  std::string termination;
  std::string message;
  int iterations = 0;
  ParameterValues values;
  bool covariance = false;
  std::vector<double> cov;  // m x m
};

Minimisation minimise(ScanModel& model, const std::vector<FitParameter>& refine,
                      const std::vector<Bounds>& bounds, const ParameterValues& v, const FitOptions& o,
                      std::string_view stage) {
  Minimisation out;
  out.values = v;
  ScanResiduals cost(model, refine, v, bounds);
  std::vector<double> x;
  for (FitParameter p : refine) x.push_back(v[p]);
  cost.scale_by_jacobian(x);
  for (std::size_t j = 0; j < x.size(); ++j) x[j] /= cost.scale(j);
  ceres::Problem::Options popts;
  popts.cost_function_ownership = ceres::DO_NOT_TAKE_OWNERSHIP;
  ceres::Problem problem(popts);
  problem.AddResidualBlock(&cost, nullptr, x.data());
  for (std::size_t j = 0; j < x.size(); ++j) {
    problem.SetParameterLowerBound(x.data(), static_cast<int>(j), bounds[j].lower / cost.scale(j));
    problem.SetParameterUpperBound(x.data(), static_cast<int>(j), bounds[j].upper / cost.scale(j));
  }
  ceres::Solver::Options so;
  so.minimizer_type = ceres::TRUST_REGION;
  so.trust_region_strategy_type = ceres::LEVENBERG_MARQUARDT;
  so.linear_solver_type = ceres::DENSE_QR;
  so.max_num_iterations = o.max_iterations;
  // The start is near the minimum (the positions and the linear parameters solved for):
  // a first step of modest size (the parameters are scaled to unit derivatives).
  so.initial_trust_region_radius = 100;
  so.function_tolerance = 1e-6;
  so.parameter_tolerance = 1e-8;
  so.gradient_tolerance = 1e-12;
  so.num_threads = 1;
  so.logging_type = ceres::SILENT;
  so.minimizer_progress_to_stdout = false;
  // Bounds are held by projecting the step onto them, without the projected line search
  // Ceres adds for a bounded problem: each of its steps would cost a derivative (a search
  // of the events for lambda/a), and the model's single-precision values give it nothing
  // to gain in the last digits.
  so.max_num_line_search_step_size_iterations = 0;
  FitCallback callback(o, stage);
  so.callbacks.push_back(&callback);
  ceres::Solver::Summary summary;
  ceres::Solve(so, &problem, &summary);

  out.termination = summary.message;
  out.iterations = std::max(0, static_cast<int>(summary.iterations.size()) - 1);
  out.converged = summary.termination_type == ceres::CONVERGENCE;
  if (!out.converged) {
    if (o.cancel && o.cancel->load())
      out.message = "the fit was cancelled";
    else if (summary.termination_type == ceres::NO_CONVERGENCE)
      out.message = "the fit did not converge in " + std::to_string(o.max_iterations) + " iterations";
    else
      out.message = "the fit failed: " + summary.message;
    return out;
  }
  out.values = cost.values(x.data());
  const std::size_t m = x.size();
  out.cov.assign(m * m, kNaN);
  if (independent(cost, x)) {
    ceres::Covariance::Options copts;
    copts.algorithm_type = ceres::DENSE_SVD;
    copts.num_threads = 1;
    ceres::Covariance covariance(copts);
    const std::vector<std::pair<const double*, const double*>> blocks{{x.data(), x.data()}};
    out.covariance = covariance.Compute(blocks, &problem) &&
                     covariance.GetCovarianceBlock(x.data(), x.data(), out.cov.data());
  }
  if (!out.covariance) std::fill(out.cov.begin(), out.cov.end(), kNaN);
  for (std::size_t j = 0; j < m; ++j)
    for (std::size_t k = 0; k < m; ++k) out.cov[j * m + k] *= cost.scale(j) * cost.scale(k);
  return out;
}

bool shape_parameter(FitParameter p) {
  return p == FitParameter::diverp || p == FitParameter::divers || p == FitParameter::eta ||
         p == FitParameter::radius;
}

ScanFitSolution solve(ScanModel& model, const FitOptions& o, const std::vector<ScanFeature>& features,
                      double noise, const ParameterValues* from, std::string_view stage) {
  ScanFitSolution sol;
  sol.reading_deg = model.settings().reading_deg;
  sol.nnn = model.base().nnn;
  const std::vector<MeasuredPoint>& pts = model.points();
  const ParameterValues input = model.start_values();
  ParameterValues v = from ? *from : input;
  std::vector<Bounds> bounds;
  for (FitParameter p : o.refine) bounds.push_back(bounds_of(p, input, model.base(), pts));
  auto bound_of = [&](FitParameter p) {
    for (std::size_t j = 0; j < o.refine.size(); ++j)
      if (o.refine[j] == p) return bounds[j];
    return bounds_of(p, input, model.base(), pts);
  };

  // Peaks indexed with the input's values; the positions give the first offset and
  // lambda/a, the linear parameters follow.
  {
    const std::vector<PassRecord> passes = model.passes(v);
    const RunParameters& par = *model.simulate(v).par;
    sol.peaks_before = index_features(features, passes, par);
  }
  if (!from)
    sol.positions = estimate_positions(model, v, sol.peaks_before, has(o.refine, FitParameter::psi_offset),
                                       has(o.refine, FitParameter::lambda_a),
                                       bound_of(FitParameter::psi_offset), bound_of(FitParameter::lambda_a));
  // The linear parameters solved for; the factors of the primary and of the events,
  // refined without a common scale, start from the common scale so found.
  const bool factors = !has(o.refine, FitParameter::scale) &&
                       (has(o.refine, FitParameter::primary) || has(o.refine, FitParameter::events));
  std::vector<FitParameter> linear_start = o.refine;
  if (factors) linear_start.push_back(FitParameter::scale);
  solve_linear(pts, at_points(pts, model.simulate(v).profile), model.psi_centre(), linear_start, v);
  // A scale the data would rather have negative (peaks against dips) starts small.
  if (has(linear_start, FitParameter::scale) && !(v[FitParameter::scale] > 0)) v[FitParameter::scale] = 1e-30;
  if (factors) {
    for (FitParameter p : {FitParameter::primary, FitParameter::events})
      if (has(o.refine, p)) v[p] *= v[FitParameter::scale];
    v[FitParameter::scale] = 1;
  }
  for (std::size_t j = 0; j < o.refine.size(); ++j) {
    const FitParameter p = o.refine[j];
    // Factors bounded around where they start (their units are the measured scan's).
    if (p == FitParameter::scale) bounds[j].upper = std::max(1e6 * v[p], 1e-30);
    if (p == FitParameter::primary || p == FitParameter::events)
      bounds[j].lower = 1e-6 * std::fabs(v[p]), bounds[j].upper = 1e6 * std::fabs(v[p]);
    v[p] = std::clamp(v[p], bounds[j].lower, bounds[j].upper);
  }
  sol.start_curve = model.curve(v);
  sol.start_quality = quality_of(pts, sol.start_curve, static_cast<int>(o.refine.size()));
  const ParameterValues start = v;

  // The positions and intensities first, then the shapes of the profiles with them: the
  // widths move the fit little until the peaks sit where they belong, and a minimisation
  // of everything at once from the input's values can stop in a poorer minimum.
  std::vector<FitParameter> first;
  std::vector<Bounds> first_bounds;
  for (std::size_t j = 0; j < o.refine.size(); ++j)
    if (!shape_parameter(o.refine[j])) first.push_back(o.refine[j]), first_bounds.push_back(bounds[j]);
  int iterations = 0;
  if (!first.empty() && first.size() < o.refine.size()) {
    const Minimisation m1 = minimise(model, first, first_bounds, v, o, stage);
    iterations += m1.iterations;
    if (m1.converged) v = m1.values;
  }
  model.weigh_by_measured();
  Minimisation m = minimise(model, o.refine, bounds, v, o, stage);
  if (m.converged) {
    // Once more with the errors of the counts the fitted curve expects.
    model.weigh_by_expected(model.curve(m.values));
    const Minimisation again = minimise(model, o.refine, bounds, m.values, o, stage);
    iterations += m.iterations;
    m = again;
  }
  sol.termination = m.termination;
  sol.iterations = iterations + m.iterations;
  sol.converged = m.converged;
  sol.message = m.message;
  v = sol.converged ? m.values : start;
  sol.values = v;
  sol.refined = o.refine;
  sol.covariance = m.covariance;
  if (sol.converged && !m.covariance)
    sol.message = "the refined parameters are not independent of each other: no uncertainties";

  const std::size_t n = o.refine.size();
  sol.quality = quality_of(pts, model.curve(v), static_cast<int>(n));
  const double gof = std::isfinite(sol.quality.chi2_dof) ? sol.quality.chi2_dof : kNaN;
  for (int i = 0; i < kFitParameterCount; ++i) {
    FittedParameter fp;
    fp.id = static_cast<FitParameter>(i);
    fp.value = v[fp.id];
    fp.input = input[fp.id];
    fp.start = fp.value;
    fp.sigma = kNaN;
    fp.lower = fp.upper = kNaN;
    sol.parameters.push_back(fp);
  }
  sol.correlation.assign(n, std::vector<double>(n, kNaN));
  for (std::size_t j = 0; j < n; ++j) {
    FittedParameter& fp = sol.parameters[static_cast<std::size_t>(o.refine[j])];
    fp.refined = true;
    fp.start = start[fp.id];
    fp.lower = bounds[j].lower;
    fp.upper = bounds[j].upper;
    if (!sol.converged) continue;
    fp.sigma = std::sqrt(m.cov[j * n + j] * gof);
    // The solver projects a step that leaves the bounds onto them: a value at a bound
    // stands on it (to the rounding of the scaled parameter).
    auto near = [](double a, double b) { return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(b)); };
    fp.at_bound = near(v[fp.id], bounds[j].lower) || near(v[fp.id], bounds[j].upper);
    for (std::size_t k = 0; k < n; ++k)
      sol.correlation[j][k] = m.cov[j * n + k] / std::sqrt(m.cov[j * n + j] * m.cov[k * n + k]);
  }
  for (const FittedParameter& fp : sol.parameters)
    if (fp.at_bound && sol.message.empty())
      sol.message = "the fit ended with " + std::string(fit_parameter_info(fp.id).name) +
                    " at its bound " + number_text(fp.value);

  describe(model, sol);
  const std::vector<PassRecord> passes = model.passes(v);
  const RunParameters& par = *model.simulate(v).par;
  sol.peaks_after = index_features(features, passes, par);
  sol.model_psi = model_extremes(model, sol);
  compare_asymmetries(model, sol, noise);
  return sol;
}

ReadingResult reading_summary(const ScanFitSolution& s) {
  ReadingResult r;
  r.angle_deg = s.reading_deg;
  r.converged = s.converged;
  r.quality = s.quality;
  r.psi_offset = s.values[FitParameter::psi_offset];
  r.lambda_a = s.values[FitParameter::lambda_a];
  for (const PeakAsymmetry& a : s.asymmetry) {
    if (a.measured.sign == 0) continue;
    ++r.signs_total;
    if (a.with_term.sign == a.measured.sign) ++r.signs_agree;
  }
  return r;
}

// The features of the measured scan, within windows of three times the typical width
// of the model's events (at least five steps).
void measured_features(ScanFitResult& res, ScanModel& model) {
  std::vector<double> psi, y;
  for (const MeasuredPoint& pt : res.points) psi.push_back(pt.psi), y.push_back(pt.y);
  res.noise = noise_from_scatter(y);
  const ParameterValues v = model.start_values();
  const RunParameters& base = model.base();
  const double step = base.zsw > 0 ? 1.0 / base.zsw : 0.0;
  FeatureOptions fo;
  fo.min_prominence = kProminenceInNoise * res.noise;
  fo.smooth = true;
  fo.window_deg = std::max(3.0 * typical_event_width(model.passes(v), base), 5.0 * step);
  res.features = find_features(psi, y, fo);
}

}  // namespace

std::vector<std::pair<float, float>> dispersion_at(const RunParameters& par, double wavelength_A) {
  std::vector<std::pair<float, float>> out;
  for (const AtomType& t : par.types) {
    if (t.z < 1 || t.z > 92 || !(wavelength_A > 0)) {
      out.emplace_back(t.fp, t.fpp);
      continue;
    }
    const AnomalousDispersion d = cromer_liberman(t.z, wavelength_A);
    out.emplace_back(static_cast<float>(d.fp), static_cast<float>(d.fpp));
  }
  return out;
}

std::vector<double> lattice_readings(const RunParameters& par) {
  // A Cartesian frame of the reciprocal lattice: the rows of the Cholesky factor L of
  // G* = L L^T are a*, b*, c*, so h_cart = L^T h.
  const ReciprocalMetric& g = par.gstar;
  const double G[3][3] = {{g.g11, g.g12, g.g13}, {g.g12, g.g22, g.g23}, {g.g13, g.g23, g.g33}};
  double L[3][3] = {};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j <= i; ++j) {
      double s = G[i][j];
      for (int k = 0; k < j; ++k) s -= L[i][k] * L[j][k];
      if (i == j) {
        if (!(s > 0)) return {0.0};
        L[i][i] = std::sqrt(s);
      } else {
        L[i][j] = s / L[j][j];
      }
    }
  // M = L^T: columns a*, b*, c*.
  double M[3][3], Mi[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) M[i][j] = L[j][i];
  const double det = M[0][0] * (M[1][1] * M[2][2] - M[1][2] * M[2][1]) -
                     M[0][1] * (M[1][0] * M[2][2] - M[1][2] * M[2][0]) +
                     M[0][2] * (M[1][0] * M[2][1] - M[1][1] * M[2][0]);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const int i1 = (j + 1) % 3, i2 = (j + 2) % 3, j1 = (i + 1) % 3, j2 = (i + 2) % 3;
      Mi[i][j] = (M[i1][j1] * M[i2][j2] - M[i1][j2] * M[i2][j1]) / det;
    }
  double u[3];
  for (int i = 0; i < 3; ++i) u[i] = M[i][0] * par.h + M[i][1] * par.k + M[i][2] * par.l;
  const double len = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
  if (!(len > 0)) return {0.0};
  for (double& c : u) c /= len;
  std::vector<double> out{0.0};
  for (double angle : {60.0, 90.0, 120.0, 180.0, 240.0, 270.0, 300.0}) {
    const double a = angle * kDegree, c = std::cos(a), s = std::sin(a);
    // Rodrigues: R = c I + s [u]x + (1 - c) u u^T.
    double R[3][3];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) R[i][j] = (i == j ? c : 0.0) + (1 - c) * u[i] * u[j];
    R[0][1] -= s * u[2], R[0][2] += s * u[1], R[1][0] += s * u[2];
    R[1][2] -= s * u[0], R[2][0] -= s * u[1], R[2][1] += s * u[0];
    // T = M^-1 R M takes indices to indices; integral for a lattice rotation.
    bool integral = true;
    for (int i = 0; i < 3 && integral; ++i)
      for (int j = 0; j < 3 && integral; ++j) {
        double t = 0;
        for (int k = 0; k < 3; ++k)
          for (int l = 0; l < 3; ++l) t += Mi[i][k] * R[k][l] * M[l][j];
        integral = std::fabs(t - std::round(t)) < 1e-3;
      }
    if (integral) out.push_back(angle);
  }
  return out;
}

PeakTable index_measured_scan(const RunParameters& par, const RunResult& run, int threads) {
  PeakTable t;
  ModelSettings settings;
  settings.threads = threads;
  ScanModel model(par, run, settings);
  ScanFitResult r;
  r.points = model.points();
  measured_features(r, model);
  t.noise = r.noise;
  const ParameterValues v = model.start_values();
  const std::vector<PassRecord> passes = model.passes(v);
  t.peaks = index_features(r.features, passes, *model.simulate(v).par);
  return t;
}

ScanFitResult fit_measured_scan(const RunParameters& par, const RunResult& run, const FitOptions& options) {
  const auto t0 = std::chrono::steady_clock::now();
  ScanFitResult res;
  res.requested = options.refine;
  for (const AtomType& t : par.types) {
    res.elements.push_back(t.atn);
    res.input_dispersion.emplace_back(t.fp, t.fpp);
  }
  auto fail = [&](std::string why) {
    res.ok = false;
    res.message = std::move(why);
    res.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return res;
  };
  if (!run.measured.present) return fail("the run has no measured scan to fit (line 12 of the input names none)");
  if (options.refine.empty()) return fail("no parameter to refine");
  res.points = measured_points(par, run);
  if (res.points.size() <= options.refine.size())
    return fail(std::to_string(res.points.size()) + " measured points for " +
                std::to_string(options.refine.size()) + " parameters: the fit needs more points than parameters");
  const bool flat = has(options.refine, FitParameter::background) || has(options.refine, FitParameter::slope);
  const int nnn = options.nnn >= 0 ? options.nnn : par.nnn;
  if (nnn == 0 && flat && has(options.refine, FitParameter::primary))
    return fail("without the interference term (nnn = 0) the primary intensity adds a flat level to the"
                " scan, as the background does: refine one of primary and background");

  ModelSettings settings;
  settings.threads = options.threads;
  settings.cancel = options.cancel;
  settings.nnn = options.nnn;
  // Per reading: the fit with the input's dispersion terms and, when asked, the one
  // with those at the fitted energy.
  struct Reading {
    ScanFitSolution fit;
    std::optional<ScanFitSolution> at_energy;
    int rounds = 0;
    const ScanFitSolution& last() const { return at_energy ? *at_energy : fit; }
  };
  std::vector<Reading> fits;
  long searches = 0;
  auto fit_reading = [&](ScanModel& model, std::string_view stage) {
    Reading r;
    r.fit = solve(model, options, res.features, res.noise, nullptr, stage);
    searches += model.searches();
    if (options.dispersion_at_fitted_energy && par.isyn > 0 && r.fit.converged) {
      // f' and f'' at the fitted energy, fitted again, until the energy stays.
      for (int round = 0; round < kDispersionRounds; ++round) {
        const ScanFitSolution& last = r.last();
        ModelSettings s = model.settings();
        s.dispersion = dispersion_at(par, last.wavelength_A);
        ScanModel at_energy(par, run, s);
        ScanFitSolution next = solve(at_energy, options, res.features, res.noise, &last.values,
                                     "fit with f' and f'' at the fitted energy");
        searches += at_energy.searches();
        ++r.rounds;
        const double moved = std::fabs(next.energy_eV - last.energy_eV);
        r.at_energy = std::move(next);
        if (!r.at_energy->converged || moved < kDispersionEnergyTolerance) break;
      }
    }
    ReadingResult g = reading_summary(r.last());
    g.quality_input = r.fit.quality;
    res.readings.push_back(g);
    fits.push_back(std::move(r));
  };
  try {
    ScanModel model(par, run, settings);
    measured_features(res, model);
    fit_reading(model, "fit");
    if (options.readings) {
      // A rotation of the crystal's own symmetry gives the same scan as one tried
      // already: nothing new. The scans agree to the rounding of the event positions
      // in single precision (some 1e-6 degrees, steep flanks magnify it).
      std::vector<std::vector<float>> tried{model.simulate(model.start_values()).profile.intensity};
      auto same_scan = [](const std::vector<float>& a, const std::vector<float>& b) {
        double diff = 0, top = 0;
        for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
          diff = std::max(diff, double(std::fabs(a[i] - b[i]))), top = std::max(top, double(std::fabs(b[i])));
        return diff <= 1e-2 * top;
      };
      for (double angle : lattice_readings(par)) {
        if (angle == 0) continue;
        ModelSettings s = settings;
        s.reading_deg = angle > 180 ? angle - 360 : angle;
        ScanModel other(par, run, s);
        const std::vector<float> p = other.simulate(other.start_values()).profile.intensity;
        if (std::any_of(tried.begin(), tried.end(), [&](const std::vector<float>& t) { return same_scan(p, t); }))
          continue;
        tried.push_back(p);
        fit_reading(other, "fit of the reading " + number_text(s.reading_deg));
      }
    }
    // The reading the model describes best: the lowest weighted R of its last converged
    // fit (with f', f'' at the fitted energy when asked).
    std::size_t best = 0;
    for (std::size_t i = 1; i < fits.size(); ++i) {
      const ScanFitSolution& a = fits[i].last();
      const ScanFitSolution& b = fits[best].last();
      if (a.converged && (!b.converged || a.quality.r_weighted < b.quality.r_weighted)) best = i;
    }
    res.preferred_reading = best;
    res.fit = std::move(fits[best].fit);
    res.at_fitted_energy = std::move(fits[best].at_energy);
    res.dispersion_rounds = fits[best].rounds;
  } catch (const RunStopped& stop) {
    std::string why;
    for (const std::string& r : stop.records)
      if (r.find_first_not_of(' ') != std::string::npos) why += (why.empty() ? "" : " ") + r.substr(r.find_first_not_of(' '));
    return fail("the model could not be formed: " + why);
  }
  res.searches = searches;
  res.ok = res.fit.converged;
  if (!res.ok) res.message = res.fit.message;
  res.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  return res;
}

}  // namespace kaven
