#include "report/fit_report.hpp"

#include <cmath>
#include <sstream>

#include "core/constants.hpp"
#include "core/number_text.hpp"
#include "input/input_writer.hpp"
#include "report/json_writer.hpp"
#include "report/record_format.hpp"
#include "scattering/anomalous_dispersion.hpp"
#include "simulation/reference_direction.hpp"

namespace kaven {

using namespace rec;

namespace {

std::string trimmed(std::string_view s) {
  s = rtrim(s);
  const std::size_t b = s.find_first_not_of(' ');
  return b == std::string_view::npos ? std::string() : std::string(s.substr(b));
}

// A number of `digits` significant digits (for values of any size), right-justified in
// w columns; blanks for a value that is not finite.
std::string G(int w, int digits, double v) {
  if (!std::isfinite(v)) return A(w, "-");
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*g", digits, v);
  return A(w, buf);
}

std::string indices(const std::array<int, 3>& h) { return I(3, h[0]) + I(3, h[1]) + I(3, h[2]); }

const char* crossing_text(int c) { return c == 2 ? "o-i" : "i-o"; }

std::string name_of(FitParameter p) { return std::string(fit_parameter_info(p).name); }

// ---- the peak table ------------------------------------------------------------------

void list_features(Listing& out, const std::vector<IndexedFeature>& peaks,
                   const std::vector<double>* model_psi) {
  out.blank();
  out.record(std::string("   no kind     psi-obs  prominence    FWHM") + (model_psi ? "   psi-fit" : "") +
             "  pass  secondary    coupling  cross  triplet  psi-calc  obs-calc");
  out.blank();
  for (std::size_t k = 0; k < peaks.size(); ++k) {
    const IndexedFeature& f = peaks[k];
    std::string head = I(5, static_cast<long long>(k + 1)) + X(1) + (f.feature.peak ? "peak" : "dip ") +
                       F(12, 4, f.feature.psi) +
                       G(12, 6, f.feature.prominence) + F(8, 4, f.feature.fwhm_deg);
    if (model_psi) {
      const double m = k < model_psi->size() ? (*model_psi)[k] : std::nan("");
      head += std::isfinite(m) ? F(10, 4, m) : A(10, "-");
    }
    if (f.events.empty()) {
      out.record(head + "     (no event of its kind near it)");
      continue;
    }
    const std::string blank(head.size(), ' ');
    for (std::size_t i = 0; i < f.events.size(); ++i) {
      const IndexedEvent& e = f.events[i];
      out.record((i == 0 ? head : blank) + I(6, e.pass + 1) + X(2) + indices(e.secondary) + X(3) +
                 indices(e.coupling) + X(4) + crossing_text(e.crossing) + F(9, 1, e.triplet_deg) +
                 F(10, 4, e.psi_calc) + F(10, 4, e.delta));
    }
  }
}

// ---- the fit ---------------------------------------------------------------------------

void list_parameters(Listing& out, const ScanFitSolution& s) {
  out.blank();
  out.record(" parameter           value          s.u.         start         input         lower         upper");
  std::string fixed;
  for (const FittedParameter& p : s.parameters) {
    if (!p.refined) {
      fixed += "  " + name_of(p.id) + " " + shortest(static_cast<float>(p.value));
      continue;
    }
    out.record(" " + pad(name_of(p.id), 10) + G(14, 8, p.value) + G(14, 3, p.sigma) +
               G(14, 7, p.start) + G(14, 7, p.input) + G(14, 6, p.lower) + G(14, 6, p.upper) +
               (p.at_bound ? "  at its bound" : ""));
  }
  if (!fixed.empty()) out.record(" held:" + fixed);
}

void list_correlations(Listing& out, const ScanFitSolution& s) {
  if (s.refined.size() < 2) return;
  out.blank();
  out.record(" Correlations of the refined parameters:");
  std::string head = X(12);
  for (FitParameter p : s.refined) head += A(11, name_of(p));
  out.record(head);
  for (std::size_t j = 0; j < s.refined.size(); ++j) {
    std::string row = " " + pad(name_of(s.refined[j]), 11);
    for (std::size_t k = 0; k < s.refined.size(); ++k)
      row += std::isfinite(s.correlation[j][k]) ? F(11, 3, s.correlation[j][k]) : A(11, "-");
    out.record(row);
  }
}

void list_quality(Listing& out, const ScanFitSolution& s) {
  out.blank();
  out.record(" R (unweighted)                   :" + F(10, 4, s.start_quality.r) + " at the start," +
             F(10, 4, s.quality.r) + " fitted");
  out.record(" R (weighted by the counting errors):" + F(8, 4, s.start_quality.r_weighted) +
             " at the start," + F(10, 4, s.quality.r_weighted) + " fitted");
  out.record(" chi-squared per degree of freedom :" + G(10, 5, s.start_quality.chi2_dof) +
             " at the start," + G(10, 5, s.quality.chi2_dof) + " fitted");
  out.record(" R with the interference term " + std::string(s.nnn_other > 0 ? "on (nnn =" + I(2, s.nnn_other) + ")" : "off (nnn = 0)") +
             ", the linear parameters solved again:" + F(8, 4, s.quality_other_term.r));
}

void list_refined_run(Listing& out, const RunParameters& par, const ScanFitSolution& s) {
  const FittedParameter& lam = s.parameters[static_cast<std::size_t>(FitParameter::lambda_a)];
  const double e_sigma = lam.refined && std::isfinite(lam.sigma) && lam.value > 0 ? s.energy_eV * lam.sigma / lam.value : std::nan("");
  out.blank();
  out.record(" Refined run:");
  std::string energy = " energy " + F(10, 2, s.energy_eV) + " eV";
  if (std::isfinite(e_sigma)) energy += " +/-" + F(6, 2, e_sigma);
  if (par.isyn > 0) {
    out.record("   wavelength     " + F(10, 6, s.wavelength_A) + " A," + energy +
               "   (written back on line 4)");
    out.record("   or, at the input's wavelength, the cell edge a =" + F(10, 5, s.cell_a) + " A");
  } else {
    out.record("   cell edges     " + F(10, 5, s.cell_a) + F(10, 5, s.cell_b) + F(10, 5, s.cell_c) +
               " A   (written back on line 3)");
    out.record("   or, with the input's cell, the wavelength" + F(10, 6, s.wavelength_A) + " A," + energy);
  }
  out.record("   PsiD           " + F(10, 4, s.psid) +
             " degrees   (the orientation matrix turned about h_p, line 11)");
}

void list_asymmetry(Listing& out, const ScanFitSolution& s) {
  out.blank();
  out.record(" Asymmetry of the peaks: A = (mean after - mean before) / height, above the fitted");
  out.record(" background, over one to three peak widths on each side; A > 0: the side after the");
  out.record(" peak (higher psi) is enhanced. The interference term enhances the side before the first");
  out.record(" crossing (i-o) when cos Phi > 0, the side after the second (o-i).");
  out.blank();
  out.record("   psi-obs  secondary    coupling  cross  triplet  cos Phi      measured        with nnn =" +
             I(2, s.nnn_with) + "     without     signs");
  for (const PeakAsymmetry& a : s.asymmetry) {
    const IndexedFeature& f = s.peaks_after[a.feature];
    const IndexedEvent& e = f.events.front();
    auto side = [](const Asymmetry& x) {
      if (!x.formed) return A(15, "-");
      return F(7, 3, x.value) + " " + pad(enhanced_side(x.sign), 7);
    };
    std::string measured = a.measured.formed ? F(7, 3, a.measured.value) + "(" + I(3, std::lround(1000 * a.measured.sigma)) + ") " + pad(enhanced_side(a.measured.sign), 6) : A(18, "-");
    const char* agree = a.measured.sign == 0 ? "-" : (a.with_term.sign == a.measured.sign ? "agree" : "differ");
    out.record(F(10, 4, a.psi) + X(1) + indices(e.secondary) + X(3) + indices(e.coupling) + X(4) +
               crossing_text(e.crossing) + F(9, 1, e.triplet_deg) +
               F(9, 3, std::cos(e.triplet_deg * kDegree)) + X(3) + measured + X(1) + side(a.with_term) +
               X(1) + side(a.without_term) + X(2) + agree);
  }
  if (s.asymmetry.empty()) out.record("   (no indexed peak)");
}

void list_solution(Listing& out, const RunParameters& par, const ScanFitSolution& s) {
  out.record(" Interference term of the fitted model: nnn =" + I(3, s.nnn));
  if (s.positions.made)
    out.record(" Start: psi offset" + F(9, 4, s.positions.psi_offset) + ", lambda/a" +
               F(10, 6, s.positions.lambda_a) + " from the positions of" + I(3, s.positions.peaks) +
               " indexed peaks (rms" + F(8, 4, s.positions.rms_before) + " ->" +
               F(8, 4, s.positions.rms_after) + " degrees)");
  out.record(" Solver: " + std::string(s.converged ? "converged" : "not converged") + " after" +
             I(4, s.iterations) + " iterations (" + s.termination + ")");
  if (!s.message.empty()) out.record(" Note: " + s.message);
  list_parameters(out, s);
  list_correlations(out, s);
  list_quality(out, s);
  if (!s.converged) return;
  list_refined_run(out, par, s);
  out.blank();
  out.record(" Peaks of the measured scan with the events of the refined run (psi-fit: the fitted");
  out.record(" curve's own extreme there):");
  list_features(out, s.peaks_after, &s.model_psi);
  list_asymmetry(out, s);
}

}  // namespace

void list_peak_table(Listing& out, const RunParameters& par, const PeakTable& table) {
  out.blank(2);
  out.record(X(20) + "*** Peaks and dips of the measured scan ***");
  out.blank();
  out.record(" noise of one measured value (from the scatter of the scan):" + G(12, 5, table.noise));
  out.record(" a feature rises above its surroundings by more than" + F(4, 1, kProminenceInNoise) +
             " times the noise;");
  out.record(" its events are those of the run within a few widths, the strongest first");
  (void)par;
  list_features(out, table.peaks, nullptr);
}

void list_fit(Listing& out, const RunParameters& par, const ScanFitResult& r) {
  out.blank(2);
  out.record(X(20) + "*** Fit of the simulated scan to the measured scan ***");
  out.blank();
  std::string names;
  for (FitParameter p : r.requested) names += (names.empty() ? "" : ", ") + name_of(p);
  out.record(" Refined: " + names);
  out.record(" Measured points:" + I(7, static_cast<long long>(r.points.size())) +
             "    noise of one value (from the scatter of the scan):" + G(12, 5, r.noise));
  if (!r.ok && r.fit.parameters.empty()) {
    out.blank();
    out.record(" The fit was not made: " + r.message + ".");
    out.record(" No refined input is written.");
    return;
  }
  out.blank();
  out.record(" Peaks and dips of the measured scan with the events of the input's run:");
  list_features(out, r.fit.peaks_before, nullptr);
  out.blank();
  list_solution(out, par, r.fit);

  if (r.at_fitted_energy) {
    const ScanFitSolution& s = *r.at_fitted_energy;
    out.blank(2);
    out.record(" f' and f'' at the fitted energy (Cromer-Liberman), fitted again (" +
               std::to_string(r.dispersion_rounds) + (r.dispersion_rounds == 1 ? " round" : " rounds") + "):");
    out.blank();
    out.record("   element    f' input   f'' input    f' used   f'' used");
    for (std::size_t t = 0; t < r.elements.size() && t < s.dispersion.size(); ++t)
      out.record("   " + pad(r.elements[t], 8) + F(10, 4, r.input_dispersion[t].first) +
                 F(11, 4, r.input_dispersion[t].second) + F(11, 4, s.dispersion[t].first) +
                 F(11, 4, s.dispersion[t].second));
    out.blank();
    list_solution(out, par, s);
  }

  if (r.readings.size() > 1) {
    out.blank(2);
    out.record(" Readings of the measured psi axis: the rotations about h_p that carry the lattice");
    out.record(" into itself move no event but change the secondaries (those of the crystal's own");
    out.record(" symmetry change nothing and are left out):");
    out.blank();
    const bool energy = r.at_fitted_energy.has_value();
    out.record(std::string("   rotation        R      R(w)    chi^2/dof   psi offset    lambda/a") +
               (energy ? "   R(input f', f'')" : "") + "   asymmetry signs the model has");
    for (const ReadingResult& g : r.readings)
      out.record(F(11, 1, g.angle_deg) +
                 (g.converged ? F(10, 4, g.quality.r) + F(10, 4, g.quality.r_weighted) + G(13, 5, g.quality.chi2_dof) +
                                    F(13, 4, g.psi_offset) + F(12, 6, g.lambda_a)
                              : A(58, "(not converged)")) +
                 (energy ? F(19, 4, g.quality_input.r) : std::string()) + X(6) +
                 std::to_string(g.signs_agree) + " of " + std::to_string(g.signs_total));
    if (energy) out.record("   (R, R(w), the offsets and the signs with f' and f'' at each fitted energy)");
    out.blank();
    out.record(" The model prefers the rotation" + F(7, 1, r.readings[r.preferred_reading].angle_deg) +
               (r.preferred_reading == 0 ? " (the input's reading)." : ": the fit above is of that reading."));
  }
  out.blank();
  if (r.ok)
    out.record(" The fit converged in" + F(7, 2, r.seconds) + " s (" + std::to_string(r.searches) +
               " event searches).");
  else
    out.record(" The fit failed: " + r.message + ". No refined input is written.");
}

// ---- JSON --------------------------------------------------------------------------------

namespace {

void json_quality(JsonWriter& j, const FitQuality& q) {
  j.begin_object();
  j.key("R").value(q.r);
  j.key("R_weighted").value(q.r_weighted);
  j.key("chi2_per_dof").value(q.chi2_dof);
  j.key("points").value(q.points);
  j.key("refined").value(q.refined);
  j.end_object();
}

void json_hkl(JsonWriter& j, const std::array<int, 3>& h) {
  j.begin_array(true).value(h[0]).value(h[1]).value(h[2]).end_array();
}

void json_peaks(JsonWriter& j, const std::vector<IndexedFeature>& peaks, const std::vector<double>* model_psi) {
  j.begin_array();
  for (std::size_t k = 0; k < peaks.size(); ++k) {
    const IndexedFeature& f = peaks[k];
    j.begin_object();
    j.key("kind").value(f.feature.peak ? "peak" : "dip");
    j.key("psi").value(f.feature.psi);
    j.key("value").value(f.feature.value);
    j.key("prominence").value(f.feature.prominence);
    j.key("fwhm").value(f.feature.fwhm_deg);
    if (model_psi) {
      j.key("psi_fitted_curve");
      j.value(k < model_psi->size() ? (*model_psi)[k] : std::nan(""));
    }
    j.key("events").begin_array();
    for (const IndexedEvent& e : f.events) {
      j.begin_object();
      j.key("pass").value(e.pass + 1);
      j.key("secondary");
      json_hkl(j, e.secondary);
      j.key("coupling");
      json_hkl(j, e.coupling);
      j.key("crossing").value(e.crossing == 2 ? "out-in" : "in-out");
      j.key("triplet_phase").value(e.triplet_deg);
      j.key("psi_calc").value(e.psi_calc);
      j.key("psi_obs_minus_calc").value(e.delta);
      j.key("peak_cps").value(e.peak_cps);
      j.key("fwhm").value(e.fwhm);
      j.end_object();
    }
    j.end_array();
    j.end_object();
  }
  j.end_array();
}

void json_asymmetry(JsonWriter& j, const Asymmetry& a) {
  if (!a.formed) {
    j.null();
    return;
  }
  j.begin_object();
  j.key("value").value(a.value);
  j.key("sigma").value(a.sigma);
  j.key("enhanced").value(enhanced_side(a.sign));
  j.end_object();
}

// The parameters of a solution (with the input values and the bound flags in the full
// record of a fit; the summary at the top level leaves them out).
void json_parameters(JsonWriter& j, const ScanFitSolution& s, bool full) {
  j.key("parameters").begin_object();
  for (const FittedParameter& p : s.parameters) {
    j.key(name_of(p.id)).begin_object();
    j.key("value").value(p.value);
    j.key("sigma").value(p.sigma);
    j.key("start").value(p.start);
    if (full) j.key("input").value(p.input);
    j.key("lower").value(p.lower);
    j.key("upper").value(p.upper);
    j.key("refined").value(p.refined);
    if (full) j.key("at_bound").value(p.at_bound);
    j.end_object();
  }
  j.end_object();
}

void json_correlations(JsonWriter& j, const ScanFitSolution& s) {
  j.key("correlations").begin_object();
  j.key("names").begin_array(true);
  for (FitParameter p : s.refined) j.value(name_of(p));
  j.end_array();
  j.key("matrix").begin_array();
  for (const std::vector<double>& row : s.correlation) {
    j.begin_array(true);
    for (double v : row) j.value(v);
    j.end_array();
  }
  j.end_array();
  j.end_object();
}

void json_solution(JsonWriter& j, const RunParameters& par, const ScanFitSolution& s) {
  j.begin_object();
  j.key("converged").value(s.converged);
  j.key("message").value(s.message);
  j.key("termination").value(s.termination);
  j.key("iterations").value(s.iterations);
  j.key("reading_deg").value(s.reading_deg);
  j.key("nnn").value(s.nnn);
  json_parameters(j, s, true);
  json_correlations(j, s);
  j.key("start");
  json_quality(j, s.start_quality);
  j.key("fitted");
  json_quality(j, s.quality);
  j.key("R").value(s.quality.r);
  j.key("R_weighted").value(s.quality.r_weighted);
  j.key("chi2_per_dof").value(s.quality.chi2_dof);
  j.key("other_interference_term").begin_object();
  j.key("nnn").value(s.nnn_other);
  j.key("quality");
  json_quality(j, s.quality_other_term);
  j.end_object();
  const FittedParameter& lam = s.parameters[static_cast<std::size_t>(FitParameter::lambda_a)];
  j.key("refined_run").begin_object();
  j.key("written_back").value(par.isyn > 0 ? "wavelength" : "cell");
  j.key("wavelength").value(s.wavelength_A);
  j.key("energy_eV").value(s.energy_eV);
  j.key("energy_sigma_eV").value(lam.refined && lam.value > 0 ? s.energy_eV * lam.sigma / lam.value : std::nan(""));
  j.key("cell").begin_array(true).value(s.cell_a).value(s.cell_b).value(s.cell_c).end_array();
  j.key("psid").value(s.psid);
  j.key("dispersion").begin_array();
  for (const auto& [fp, fpp] : s.dispersion) j.begin_array(true).value(fp).value(fpp).end_array();
  j.end_array();
  j.end_object();
  j.key("positions").begin_object();
  j.key("made").value(s.positions.made);
  j.key("peaks").value(s.positions.peaks);
  j.key("psi_offset").value(s.positions.psi_offset);
  j.key("lambda_a").value(s.positions.lambda_a);
  j.key("energy_eV").value(s.positions.made ? energy_ev_of(double(par.alam1) * s.positions.lambda_a) : std::nan(""));
  j.key("rms_before").value(s.positions.rms_before);
  j.key("rms_after").value(s.positions.rms_after);
  j.end_object();
  j.key("peaks").begin_object();
  j.key("before");
  json_peaks(j, s.peaks_before, nullptr);
  j.key("after");
  json_peaks(j, s.peaks_after, &s.model_psi);
  j.end_object();
  j.key("asymmetry").begin_array();
  for (const PeakAsymmetry& a : s.asymmetry) {
    const IndexedEvent& e = s.peaks_after[a.feature].events.front();
    j.begin_object();
    j.key("psi").value(a.psi);
    j.key("secondary");
    json_hkl(j, e.secondary);
    j.key("coupling");
    json_hkl(j, e.coupling);
    j.key("crossing").value(e.crossing == 2 ? "out-in" : "in-out");
    j.key("triplet_phase").value(e.triplet_deg);
    j.key("measured");
    json_asymmetry(j, a.measured);
    j.key("with_interference");
    json_asymmetry(j, a.with_term);
    j.key("nnn_with").value(s.nnn_with);
    j.key("without_interference");
    json_asymmetry(j, a.without_term);
    j.key("signs_agree").value(a.measured.sign != 0 && a.measured.sign == a.with_term.sign);
    j.end_object();
  }
  j.end_array();
  j.end_object();
}

std::string fit_json_head() {
  std::ostringstream os;
  {
    JsonWriter j(os);
    j.begin_object();
    j.key("program").value("kaven");
    j.key("kind").value("fit");
  }
  return os.str();
}

}  // namespace

bool starts_as_kaven_fit_json(std::istream& is) {
  const std::string head = fit_json_head();
  std::string start(head.size(), '\0');
  is.read(start.data(), static_cast<std::streamsize>(start.size()));
  return is.gcount() == static_cast<std::streamsize>(head.size()) && start == head;
}

void write_fit_json(std::ostream& os, const RunParameters& par, const ScanFitResult& r,
                    const FitJsonContext& context) {
  JsonWriter j(os);
  j.begin_object();
  j.key("program").value("kaven");
  j.key("kind").value("fit");
  j.key("version").value(KAVEN_VERSION);
  j.key("input_file").value(context.input_file);
  j.key("status").value(r.ok ? "converged" : "failed");
  j.key("message").value(r.message);
  j.key("refined_input");
  if (context.refined_input.empty()) j.null();
  else j.value(context.refined_input);
  j.key("requested").begin_array(true);
  for (FitParameter p : r.requested) j.value(name_of(p));
  j.end_array();
  j.key("points").value(static_cast<long long>(r.points.size()));
  j.key("noise").value(r.noise);
  j.key("seconds").value(r.seconds);
  j.key("searches").value(static_cast<long long>(r.searches));
  if (!r.fit.parameters.empty()) {
    // The values the refined input takes at the top level, for scripts that look no
    // further: the fit at the fitted energy when it was made, else the fit.
    const ScanFitSolution& s = written_solution(r);
    json_parameters(j, s, false);
    json_correlations(j, s);
    j.key("R").value(s.quality.r);
    j.key("R_weighted").value(s.quality.r_weighted);
    j.key("chi2_per_dof").value(s.quality.chi2_dof);
    j.key("iterations").value(s.iterations);
    j.key("peaks").begin_object();
    j.key("before");
    json_peaks(j, r.fit.peaks_before, nullptr);
    j.key("after");
    json_peaks(j, s.peaks_after, &s.model_psi);
    j.end_object();
    // In full: the fit with the input's f' and f'' (and below, when asked, the fit at
    // the fitted energy).
    j.key("fit");
    json_solution(j, par, r.fit);
  }
  j.key("elements").begin_array();
  for (std::size_t t = 0; t < r.elements.size(); ++t) {
    j.begin_object();
    j.key("symbol").value(trimmed(r.elements[t]));
    j.key("fp").value(r.input_dispersion[t].first);
    j.key("fpp").value(r.input_dispersion[t].second);
    j.end_object();
  }
  j.end_array();
  j.key("at_fitted_energy");
  if (r.at_fitted_energy) json_solution(j, par, *r.at_fitted_energy);
  else j.null();
  j.key("readings").begin_array();
  for (std::size_t i = 0; i < r.readings.size(); ++i) {
    const ReadingResult& g = r.readings[i];
    j.begin_object();
    j.key("rotation_deg").value(g.angle_deg);
    j.key("converged").value(g.converged);
    j.key("quality");
    json_quality(j, g.quality);
    j.key("quality_input_dispersion");
    json_quality(j, g.quality_input);
    j.key("psi_offset").value(g.psi_offset);
    j.key("lambda_a").value(g.lambda_a);
    j.key("signs_agree").value(g.signs_agree);
    j.key("signs_measured").value(g.signs_total);
    j.key("preferred").value(i == r.preferred_reading);
    j.end_object();
  }
  j.end_array();
  j.key("profile").begin_object();
  auto column = [&](const char* name, auto&& get) {
    j.key(name).begin_array(true);
    for (std::size_t i = 0; i < r.points.size(); ++i) j.value(get(i));
    j.end_array();
  };
  column("psi", [&](std::size_t i) { return r.points[i].psi; });
  column("measured", [&](std::size_t i) { return r.points[i].y; });
  const ScanFitSolution& best = r.at_fitted_energy ? *r.at_fitted_energy : r.fit;
  column("sigma", [&](std::size_t i) { return i < best.sigma.size() ? best.sigma[i] : r.points[i].sigma; });
  auto curve = [&](const std::vector<double>& c) {
    return [&c](std::size_t i) { return i < c.size() ? c[i] : std::nan(""); };
  };
  column("start", curve(r.fit.start_curve));
  column("fitted", curve(best.fitted));
  column("background", curve(best.background));
  j.end_object();
  j.end_object();
}

// ---- the refined input ---------------------------------------------------------------------

const ScanFitSolution& written_solution(const ScanFitResult& r) {
  return r.at_fitted_energy && r.at_fitted_energy->converged ? *r.at_fitted_energy : r.fit;
}

InputEditResult refined_input_text(const std::string& input_text, const RunParameters& par,
                                   const ScanFitResult& result, const std::string& plot_file,
                                   const std::string& scan_file) {
  const ScanFitSolution& s = written_solution(result);
  InputEdits e;
  e.plot_file = plot_file;
  e.scan_file = scan_file;
  auto refined = [&](FitParameter p) { return s.parameters[static_cast<std::size_t>(p)].refined; };
  const double r = s.values[FitParameter::lambda_a];
  if (refined(FitParameter::lambda_a)) {
    if (par.isyn > 0)
      e.wavelength = static_cast<float>(double(par.alam1) * r);
    else
      e.edges = std::array<float, 3>{static_cast<float>(par.a / r), static_cast<float>(par.b / r),
                                     static_cast<float>(par.c / r)};
  }
  if (refined(FitParameter::psi_offset) && s.values[FitParameter::psi_offset] != 0)
    e.ub = ub_turned(par, s.values[FitParameter::psi_offset]);
  if (refined(FitParameter::diverp)) e.diverp = static_cast<float>(s.values[FitParameter::diverp]);
  if (refined(FitParameter::divers)) e.divers = static_cast<float>(s.values[FitParameter::divers]);
  if (refined(FitParameter::eta)) e.eta = static_cast<float>(s.values[FitParameter::eta]);
  if (refined(FitParameter::radius)) e.radius_um = static_cast<float>(s.values[FitParameter::radius]);
  e.nnn = s.nnn;
  // f' and f'' of a fit at the fitted energy.
  for (std::size_t t = 0; t < s.dispersion.size(); ++t) {
    const bool changed = t >= result.input_dispersion.size() || s.dispersion[t] != result.input_dispersion[t];
    e.dispersion.push_back(changed ? std::optional(s.dispersion[t]) : std::nullopt);
  }
  InputEditResult edited = edit_input(input_text, e);
  if (edited.error.empty()) edited.text = marked_as_written_by_kaven(edited.text);
  return edited;
}

}  // namespace kaven
