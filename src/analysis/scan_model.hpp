// The simulated scan of a run as a function of the fit parameters (fit_parameters.hpp),
// formed by the run's own phases (simulation/run_phases.hpp) on a copy of the run
// record: the geometry, the absorption, the wavelength passes and the scan simulation
// are those a run with these values would perform, so that at the input's values the
// model is the run's scan to the last bit.
//
// What does not depend on the parameters is formed once: the crystal as read, the
// measured points and their errors, the extinction table and, while the cell stays as
// read, the structure factors of every reflection met (a synchrotron fit changes the
// wavelength only). What depends on the beam and crystal parameters (the passes with
// their crossings) is kept for the last few sets of values, so that the derivatives by
// the psi offset and the intensity factors, which only move and scale the crossings,
// need no new search.
#pragma once
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "analysis/fit_parameters.hpp"
#include "input/run_parameters.hpp"
#include "scattering/sphere_tables.hpp"
#include "simulation/reflection_cache.hpp"
#include "simulation/run_result.hpp"

namespace kaven {

// A measured step with its counting error (units of the measured scan).
struct MeasuredPoint {
  int step = 0;
  double psi = 0;    // degrees
  double y = 0;      // as the comparison uses it (above the background in the tube mode)
  double sigma = 0;  // Poisson error of the counts behind it
};

// The measured steps of the run. Errors from counting statistics: in the tube mode the
// CAD4 rates are counts over 60 s with the background B subtracted, sigma =
// 0.1291 sqrt(y + 2B); otherwise sigma = sqrt(y) (at least that of one count).
std::vector<MeasuredPoint> measured_points(const RunParameters& par, const RunResult& run);

// The counting error of an intensity y (units of the measured scan) as above.
double counting_error(const RunParameters& par, double background, double y);

struct ModelSettings {
  // The interference term of the model: -1 the run's nnn, otherwise this value.
  int nnn = -1;
  // A rotation of the psi axis about the primary axis (degrees) under which the lattice
  // goes into itself (another reading of the measured axis): the search runs with PsiD
  // moved by it, and the psi offset is counted from it.
  double reading_deg = 0;
  // Replacements of f' and f'' of the element lines (in their order), for a model at
  // another energy; empty: those of the input.
  std::vector<std::pair<float, float>> dispersion;
  int threads = 0;
  const std::atomic<bool>* cancel = nullptr;
};

// One evaluation at a set of parameter values.
struct ModelScan {
  ScanProfile profile;  // the run's cps, before scale and background
  // The run record of these values (the wavelength, the cell, the absorption); valid
  // until the model is asked for other beam or crystal values.
  const RunParameters* par = nullptr;
};

class ScanModel {
 public:
  // `par` and `run`: the run record and result of a run that has read its measured scan
  // (the crystal as read and derived, PsiD, the reduction of the measured scan).
  ScanModel(const RunParameters& par, const RunResult& run, ModelSettings settings = {});
  ~ScanModel();
  ScanModel(const ScanModel&) = delete;
  ScanModel& operator=(const ScanModel&) = delete;

  // The input's values: offset 0 (the reading's rotation), lambda/a 1, the factors 1, no
  // background, line 5 as read.
  ParameterValues start_values() const;

  // The simulated scan at the values (ends with RunStopped when the values give no run,
  // a wavelength beyond the Ewald sphere for example); `nnn` >= 0 replaces the model's
  // interference term for this scan.
  ModelScan simulate(const ParameterValues& v, int nnn = -1);

  // The wavelength passes at the values, with their events listed down to the scan's
  // own threshold (every event that can show in the scan), the psi offset applied and
  // the events sorted by psi again.
  std::vector<PassRecord> passes(const ParameterValues& v);

  // The model at the measured points: scale I_sim + background + slope (psi - centre).
  std::vector<double> curve(const ParameterValues& v, int nnn = -1);
  // The same over every step of the scan.
  std::vector<double> curve_on_steps(const ParameterValues& v, int nnn = -1);

  const std::vector<MeasuredPoint>& points() const { return points_; }
  // The errors of the points as those of the expected counts `y` (a fitted curve at
  // the points) rather than of the counts measured: the weights of measured counts
  // favour the points that came out low, and pull a fit down by about a count.
  void weigh_by_expected(const std::vector<double>& y);
  // Back to the errors of the measured counts.
  void weigh_by_measured();
  double psi_centre() const { return psi_centre_; }
  // The run record of the input with the settings applied (dispersion, nnn).
  const RunParameters& base() const { return base_; }
  const ModelSettings& settings() const { return settings_; }
  // Searches formed so far (each a full set of wavelength passes).
  long searches() const { return searches_; }

 private:
  struct Physics;
  struct Entry;
  Entry& physics(const ParameterValues& v);

  RunParameters base_;
  ModelSettings settings_;
  bool f_computed_ = false;
  float psid_ = 0;
  ExtinctionTable extinction_;
  std::vector<MeasuredPoint> points_;
  float background_ = 0;  // B of the measured scan
  double psi_centre_ = 0;
  std::unique_ptr<ReflectionCache> cache_;  // for the cell as read
  std::vector<std::unique_ptr<Entry>> entries_;  // most recent last
  long searches_ = 0;
};

// psi brought into the run's range after a shift: -180..180, and 0..360 for the
// synchrotron's HUBER axis.
double wrap_scan_psi(double psi, int isyn);

}  // namespace kaven
