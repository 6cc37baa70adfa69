// What the analysis of a measured scan writes: the listing sections (the peaks of the
// measured scan with the events that made them; the fit with its parameters,
// uncertainties, correlations, agreement factors, the refined run and the asymmetry of
// each peak), the fit's JSON file for scripts and the refined input, the run's own
// input with the refined values written back.
//
// JSON (OUTPUT-fit.json): "program", "kind": "fit", the input file, "status" ("converged"
// or "failed"), "message" and the refined input written; "requested" (parameter names),
// "points", "noise"; then, of the fit the refined input takes (at the fitted energy when
// asked): "parameters" (name -> value, sigma, start, bounds, refined), "correlations"
// (names and matrix), "R", "R_weighted", "chi2_per_dof", "iterations", "peaks" ("before"
// and "after" the fit, each feature with its events). In full, "fit" (with the input's
// f', f'') and "at_fitted_energy" (null unless asked): parameters with their input
// values and whether at a bound, correlations, start and fitted agreement, the other
// interference term, "refined_run" (wavelength, energy and its uncertainty, cell, PsiD,
// f' and f''), "positions" (the estimate from the peak positions alone), "peaks",
// "asymmetry"; "elements" (f', f'' of the input), "readings", and "profile": psi,
// measured, sigma, start, fitted, background at the measured steps. Numbers in their
// shortest exact form, null where not finite.
#pragma once
#include <istream>
#include <ostream>
#include <string>

#include "analysis/scan_fit.hpp"
#include "input/input_edit.hpp"
#include "report/listing.hpp"

namespace kaven {

// The peak table of a run asked for it without a fit.
void list_peak_table(Listing& out, const RunParameters& par, const PeakTable& table);

// The fit section: the fit, the fit at the fitted energy, the readings; or why the fit
// failed.
void list_fit(Listing& out, const RunParameters& par, const ScanFitResult& fit);

struct FitJsonContext {
  std::string input_file;
  std::string refined_input;  // the file written, or empty
};
void write_fit_json(std::ostream& os, const RunParameters& par, const ScanFitResult& fit,
                    const FitJsonContext& context);
// The opening of the fit's JSON file (a file kaven may replace).
bool starts_as_kaven_fit_json(std::istream& is);

// The fit whose values a refined input takes: that with f', f'' at the fitted energy
// when it was made and converged, otherwise the fit with the input's.
const ScanFitSolution& written_solution(const ScanFitResult& fit);

// The refined input: `input_text` with the values of written_solution(fit) written back
// (the wavelength for a synchrotron input, the cell edges for a tube; the orientation
// matrix turned by the psi offset; line 5 and nnn as refined; f' and f'' of a fit at the
// fitted energy), the plot file and the measured scan named as given, and its title line
// marked as an input kaven wrote (input/input_writer.hpp), which it may replace as long
// as nobody changed it.
InputEditResult refined_input_text(const std::string& input_text, const RunParameters& par,
                                   const ScanFitResult& fit, const std::string& plot_file,
                                   const std::string& scan_file);

}  // namespace kaven
