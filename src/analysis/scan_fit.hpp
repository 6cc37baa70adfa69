// Least-squares fit of the simulated Renninger scan to a measured one, with the peaks of
// the measured scan indexed before and after and the asymmetry of each peak compared
// with the model's.
//
// The model (fit_parameters.hpp, scan_model.hpp) is the run itself with changed
// parameters. The residuals (y_calc - y_obs)/sigma, sigma the counting error of each
// measured step, are minimised by Levenberg-Marquardt (Ceres) within bounds on every
// parameter; the derivatives are those of the linear parameters (scale, background,
// slope) in closed form and central differences of the simulation for the others. The
// standard uncertainties are the square roots of the covariance (J^T J)^-1 scaled by
// chi^2 per degree of freedom, as crystallographic refinements quote them: a model that
// does not describe the data within the counting errors has larger uncertainties.
//
// Before the fit the positions of the indexed peaks alone give a first psi offset and
// lambda/a (the events move with lambda/a at rates the simulation gives), and the
// linear parameters are solved for; Levenberg-Marquardt starts from there.
//
// Agreement: R = sqrt(sum (y_obs - y_calc)^2 / sum y_obs^2) and the weighted
// R_w = sqrt(sum w (y_obs - y_calc)^2 / sum w y_obs^2), w = 1/sigma^2, over the measured
// steps; chi^2 per degree of freedom sum w (y_obs - y_calc)^2 / (n - m).
//
// Nothing here writes: the listing sections, the files and the plot take the result
// (report/fit_report.hpp, plot/scan_page.hpp).
#pragma once
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/asymmetry.hpp"
#include "analysis/fit_parameters.hpp"
#include "analysis/peak_index.hpp"
#include "analysis/scan_model.hpp"
#include "input/run_parameters.hpp"
#include "simulation/run_result.hpp"

namespace kaven {

// Progress of a fit: the stage ("fit", "fit of the reading +90", ...) and the
// iterations done of the most allowed.
struct FitProgress {
  std::string_view stage;
  int iteration = 0;
  int max_iterations = 0;
};

struct FitOptions {
  std::vector<FitParameter> refine = default_fit_parameters();
  int max_iterations = 100;
  // Synchrotron input: after the fit, f' and f'' of every element at the fitted energy
  // (Cromer-Liberman) and a second fit with them, repeated while the energy moves by
  // more than kDispersionEnergyTolerance (a few rounds at most); both fits are reported.
  bool dispersion_at_fitted_energy = false;
  // Fit every reading of the measured psi axis that the lattice allows (rotations about
  // the primary axis that move no event, each a different set of secondaries) and keep
  // the one the model describes best.
  bool readings = false;
  // The interference term of the fitted model: -1 the input's nnn, otherwise this value
  // (written back on line 6 of the refined input).
  int nnn = -1;
  int threads = 0;
  std::function<void(const FitProgress&)> progress;  // optional
  const std::atomic<bool>* cancel = nullptr;          // optional: ends the fit, not converged
};

// The fit with f', f'' at the fitted energy is done again until its energy moves by less
// than this (eV): near an absorption edge f' changes by electrons per eV.
inline constexpr double kDispersionEnergyTolerance = 0.25;
inline constexpr int kDispersionRounds = 4;

struct FittedParameter {
  FitParameter id = FitParameter::psi_offset;
  bool refined = false;
  double value = 0;
  double start = 0;  // the value the fit started from (after the start estimates)
  double input = 0;  // the value of the input (before any estimate)
  double sigma = 0;  // standard uncertainty; NaN when fixed or not formed
  double lower = 0, upper = 0;  // bounds (refined parameters)
  bool at_bound = false;
};

struct FitQuality {
  int points = 0;
  int refined = 0;
  double r = 0;           // unweighted
  double r_weighted = 0;
  double chi2_dof = 0;    // NaN without degrees of freedom
};

// psi offset and lambda/a from the positions of the indexed peaks alone.
struct PositionEstimate {
  bool made = false;
  int peaks = 0;
  double psi_offset = 0;
  double lambda_a = 1;
  double rms_before = 0, rms_after = 0;  // of measured - calculated psi (degrees)
};

// One measured peak with the asymmetries of the measurement and of the fitted model.
struct PeakAsymmetry {
  double psi = 0;           // measured maximum
  std::size_t feature = 0;  // its entry in the peak table after the fit
  Asymmetry measured;
  Asymmetry with_term;     // the fitted model with the interference term (nnn_with)
  Asymmetry without_term;  // the same values with nnn = 0
};

// One fit at one reading of the psi axis and one set of dispersion terms.
struct ScanFitSolution {
  bool converged = false;
  std::string message;      // why it failed, or notes (a parameter at its bound)
  std::string termination;  // the solver's own words
  int iterations = 0;
  double reading_deg = 0;
  std::vector<FittedParameter> parameters;  // every parameter, in the order of the enumeration
  std::vector<FitParameter> refined;        // the order of the correlation matrix
  std::vector<std::vector<double>> correlation;
  bool covariance = false;  // formed (false: the refined parameters are not independent)
  FitQuality start_quality, quality;
  PositionEstimate positions;
  std::vector<IndexedFeature> peaks_before, peaks_after;
  // psi of the fitted curve's extreme next to each feature of peaks_after (NaN where the
  // curve has none): the position of the refined run's peak, which the interference
  // term moves away from the event itself.
  std::vector<double> model_psi;
  std::vector<PeakAsymmetry> asymmetry;
  int nnn = 0;       // the interference term of the fitted model
  int nnn_with = 1;  // the interference term of the "with" model
  // R of the fitted model with the interference term switched (on when the run has it
  // off, off when on), the linear parameters solved again.
  FitQuality quality_other_term;
  int nnn_other = 0;
  // The refined run: wavelength and energy of the (first) line, cell edges.
  double wavelength_A = 0, energy_eV = 0;
  double cell_a = 0, cell_b = 0, cell_c = 0;
  double cell_equivalent_a = 0;  // a at the input's wavelength for the same lambda/a
  double psid = 0;               // PsiD of the refined run (degrees)
  std::vector<std::pair<float, float>> dispersion;  // f', f'' of the element lines used
  // Curves at the measured points and over all steps (units of the measured scan), and
  // the errors of the points the fit ended with (those of the fitted curve's counts).
  std::vector<double> start_curve, fitted, background, sigma;
  std::vector<double> fitted_steps;
  ParameterValues values;  // the fitted values (start values when not converged)
};

// A reading of the measured psi axis and how the model describes it.
struct ReadingResult {
  double angle_deg = 0;
  bool converged = false;
  FitQuality quality;        // of its last fit (at the fitted energy when asked)
  FitQuality quality_input;  // with the input's f' and f
  int signs_agree = 0, signs_total = 0;  // measured asymmetries whose sign the model has
  double psi_offset = 0, lambda_a = 1;
};

struct ScanFitResult {
  bool ok = false;       // the fit converged (the refined input may be written)
  std::string message;   // why not, for the listing and standard error
  std::vector<MeasuredPoint> points;
  double noise = 0;      // estimated deviation of one measured value
  std::vector<ScanFeature> features;  // of the measured scan
  ScanFitSolution fit;   // the fit of the kept reading with the input's dispersion terms
  std::optional<ScanFitSolution> at_fitted_energy;  // with f', f'' at the fitted energy
  int dispersion_rounds = 0;  // fits with recomputed f', f'' done
  std::vector<ReadingResult> readings;  // every reading tried (the input's first)
  std::size_t preferred_reading = 0;
  std::vector<FitParameter> requested;
  // The element lines of the input: symbols, f' and f'' as read.
  std::vector<std::string> elements;
  std::vector<std::pair<float, float>> input_dispersion;
  double seconds = 0;    // wall time of the whole analysis
  long searches = 0;     // wavelength-pass searches formed
};

// Fits the run's simulation to its measured scan. `par` and `run` as the run driver
// holds them after the comparison with the measured scan (the crystal and the measured
// scan still in place). Fails with a message, without fitting, when the run has no
// measured scan, fewer measured steps than refined parameters, or parameters that are
// one in disguise; fails after the fit when it did not converge.
ScanFitResult fit_measured_scan(const RunParameters& par, const RunResult& run,
                                const FitOptions& options);

// Peaks and dips of the measured scan indexed with the run's own events, without a fit
// (the peak table of a run asked for it alone).
struct PeakTable {
  double noise = 0;
  std::vector<IndexedFeature> peaks;
};
PeakTable index_measured_scan(const RunParameters& par, const RunResult& run, int threads = 0);

// The rotations about the primary axis (degrees, 0 first, then ascending in (0, 360))
// that carry the reciprocal lattice into itself.
std::vector<double> lattice_readings(const RunParameters& par);

// f' and f'' of the element lines at a wavelength (Cromer-Liberman).
std::vector<std::pair<float, float>> dispersion_at(const RunParameters& par, double wavelength_A);

}  // namespace kaven
