// kaven.fit and kaven.index_peaks: the run with the analysis of its measured scan, as
// `kaven INPUT [OUTPUT] --fit [LIST]` and `--index` make it (shell/fit_command.hpp), the
// GIL released while it runs. The fit's values come back as dicts and NumPy arrays, its
// whole JSON file as a dict.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <cmath>
#include <sstream>

#include "analysis/asymmetry.hpp"
#include "python/module.hpp"
#include "report/fit_report.hpp"
#include "shell/fit_command.hpp"

namespace py = pybind11;
namespace fs = std::filesystem;

namespace kaven::python {

namespace {

struct FitResult {
  std::string status = "failed";  // "converged" or "failed"
  std::string message;
  py::dict parameters, correlations;
  double r = std::nan(""), r_weighted = std::nan(""), chi2_per_dof = std::nan("");
  int iterations = 0;
  double wavelength = std::nan(""), energy_ev = std::nan(""), psid = std::nan("");
  py::tuple cell = py::make_tuple();
  py::dict peaks_before, peaks_after, asymmetry, profile;
  py::object refined_input = py::none(), fit_json = py::none(), json = py::none();
  Result result;
};

struct PeakTableResult {
  double noise = std::nan("");
  py::dict peaks;
  Result result;
};

// Columns filled row by row, turned into NumPy arrays of one dtype each at the end.
class Columns {
 public:
  void add(const char* name, py::object value, const char* dtype) {
    if (!lists_.contains(name)) {
      lists_[name] = py::list();
      dtypes_[name] = dtype;
    }
    lists_[name].cast<py::list>().append(std::move(value));
  }
  // Every column named, also for no row.
  void declare(const char* name, const char* dtype) {
    if (!lists_.contains(name)) {
      lists_[name] = py::list();
      dtypes_[name] = dtype;
    }
  }
  py::dict arrays() const {
    const py::object array = py::module_::import("numpy").attr("array");
    py::dict d;
    for (const auto& [name, list] : lists_) d[name] = array(list, py::arg("dtype") = dtypes_[name]);
    return d;
  }

 private:
  py::dict lists_, dtypes_;
};

const char* const kPeakColumns[][2] = {
    {"kind", "str"},         {"psi", "float64"},           {"value", "float64"},
    {"prominence", "float64"}, {"fwhm", "float64"},        {"psi_fitted_curve", "float64"},
    {"events", "int32"},     {"pass", "int32"},            {"h1", "int32"},
    {"k1", "int32"},         {"l1", "int32"},              {"h2", "int32"},
    {"k2", "int32"},         {"l2", "int32"},              {"crossing", "str"},
    {"triplet_phase", "float64"}, {"psi_calc", "float64"}, {"psi_obs_minus_calc", "float64"},
    {"peak_cps", "float64"}, {"event_fwhm", "float64"}};

// One row per feature of the measured scan with the strongest event near it (pass 0,
// indices 0, NaN and '' where none is).
py::dict peak_table(const std::vector<IndexedFeature>& peaks, const std::vector<double>* model_psi) {
  Columns c;
  for (const auto& [name, dtype] : kPeakColumns)
    if (model_psi || std::string_view(name) != "psi_fitted_curve") c.declare(name, dtype);
  const double none = std::nan("");
  for (std::size_t k = 0; k < peaks.size(); ++k) {
    const IndexedFeature& f = peaks[k];
    c.add("kind", py::str(f.feature.peak ? "peak" : "dip"), "str");
    c.add("psi", py::float_(f.feature.psi), "float64");
    c.add("value", py::float_(f.feature.value), "float64");
    c.add("prominence", py::float_(f.feature.prominence), "float64");
    c.add("fwhm", py::float_(f.feature.fwhm_deg), "float64");
    if (model_psi) c.add("psi_fitted_curve", py::float_(k < model_psi->size() ? (*model_psi)[k] : none), "float64");
    c.add("events", py::int_(f.events.size()), "int32");
    const IndexedEvent* e = f.events.empty() ? nullptr : &f.events.front();
    c.add("pass", py::int_(e ? e->pass + 1 : 0), "int32");
    const char* hkl[2][3] = {{"h1", "k1", "l1"}, {"h2", "k2", "l2"}};
    for (int i = 0; i < 3; ++i) {
      c.add(hkl[0][i], py::int_(e ? e->secondary[i] : 0), "int32");
      c.add(hkl[1][i], py::int_(e ? e->coupling[i] : 0), "int32");
    }
    c.add("crossing", py::str(!e ? "" : e->crossing == 2 ? "out-in" : "in-out"), "str");
    c.add("triplet_phase", py::float_(e ? e->triplet_deg : none), "float64");
    c.add("psi_calc", py::float_(e ? e->psi_calc : none), "float64");
    c.add("psi_obs_minus_calc", py::float_(e ? e->delta : none), "float64");
    c.add("peak_cps", py::float_(e ? e->peak_cps : none), "float64");
    c.add("event_fwhm", py::float_(e ? e->fwhm : none), "float64");
  }
  return c.arrays();
}

// One row per measured peak with its asymmetry measured and of the fitted model with and
// without the interference term (NaN and '' where the windows held no points).
py::dict asymmetry_table(const ScanFitSolution& s) {
  Columns c;
  for (const char* name : {"psi", "triplet_phase"}) c.declare(name, "float64");
  for (const char* name : {"h1", "k1", "l1", "h2", "k2", "l2"}) c.declare(name, "int32");
  c.declare("crossing", "str");
  const char* kinds[3] = {"measured", "with_interference", "without_interference"};
  for (const char* kind : kinds) {
    c.declare(kind, "float64");
    c.declare((std::string(kind) + "_sigma").c_str(), "float64");
    c.declare((std::string(kind) + "_enhanced").c_str(), "str");
  }
  c.declare("signs_agree", "bool");
  for (const PeakAsymmetry& a : s.asymmetry) {
    const IndexedEvent& e = s.peaks_after[a.feature].events.front();
    c.add("psi", py::float_(a.psi), "float64");
    c.add("triplet_phase", py::float_(e.triplet_deg), "float64");
    const char* hkl[2][3] = {{"h1", "k1", "l1"}, {"h2", "k2", "l2"}};
    for (int i = 0; i < 3; ++i) {
      c.add(hkl[0][i], py::int_(e.secondary[i]), "int32");
      c.add(hkl[1][i], py::int_(e.coupling[i]), "int32");
    }
    c.add("crossing", py::str(e.crossing == 2 ? "out-in" : "in-out"), "str");
    const Asymmetry* values[3] = {&a.measured, &a.with_term, &a.without_term};
    for (int k = 0; k < 3; ++k) {
      const Asymmetry& v = *values[k];
      const std::string kind = kinds[k];
      c.add(kinds[k], py::float_(v.formed ? v.value : std::nan("")), "float64");
      c.add((kind + "_sigma").c_str(), py::float_(v.formed ? v.sigma : std::nan("")), "float64");
      c.add((kind + "_enhanced").c_str(), py::str(v.formed ? enhanced_side(v.sign) : ""), "str");
    }
    c.add("signs_agree", py::bool_(a.measured.sign != 0 && a.measured.sign == a.with_term.sign), "bool");
  }
  return c.arrays();
}

py::array_t<double> array(const std::vector<double>& v) {
  return py::array_t<double>(py::ssize_t(v.size()), v.data());
}

void fill_fit(FitResult& out, const AnalysisResult& a, const fs::path& input) {
  const ScanFitResult& r = *a.fit;
  out.status = r.ok ? "converged" : "failed";
  out.message = r.message;
  const ScanFitSolution& s = written_solution(r);
  for (const FittedParameter& p : s.parameters) {
    py::dict d;
    d["value"] = p.value;
    d["sigma"] = p.sigma;
    d["start"] = p.start;
    d["input"] = p.input;
    d["lower"] = p.lower;
    d["upper"] = p.upper;
    d["refined"] = p.refined;
    d["at_bound"] = p.at_bound;
    out.parameters[py::str(std::string(fit_parameter_info(p.id).name))] = d;
  }
  py::list names;
  for (FitParameter p : s.refined) names.append(std::string(fit_parameter_info(p).name));
  const std::size_t n = s.correlation.size();
  py::array_t<double> matrix({n, n});
  auto m = matrix.mutable_unchecked<2>();
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) m(py::ssize_t(i), py::ssize_t(j)) = j < s.correlation[i].size() ? s.correlation[i][j] : std::nan("");
  out.correlations["names"] = names;
  out.correlations["matrix"] = matrix;
  if (!s.parameters.empty()) {
    out.r = s.quality.r;
    out.r_weighted = s.quality.r_weighted;
    out.chi2_per_dof = s.quality.chi2_dof;
    out.iterations = s.iterations;
    out.wavelength = s.wavelength_A;
    out.energy_ev = s.energy_eV;
    out.cell = py::make_tuple(s.cell_a, s.cell_b, s.cell_c);
    out.psid = s.psid;
  }
  out.peaks_before = peak_table(r.fit.peaks_before, nullptr);
  out.peaks_after = peak_table(s.peaks_after, &s.model_psi);
  out.asymmetry = asymmetry_table(s);
  // The curves at the measured steps, as the JSON file's profile.
  const ScanFitSolution& best = r.at_fitted_energy ? *r.at_fitted_energy : r.fit;
  std::vector<double> psi, measured, sigma;
  for (std::size_t i = 0; i < r.points.size(); ++i) {
    psi.push_back(r.points[i].psi);
    measured.push_back(r.points[i].y);
    sigma.push_back(i < best.sigma.size() ? best.sigma[i] : r.points[i].sigma);
  }
  auto curve = [&](const std::vector<double>& c) {
    std::vector<double> v(r.points.size(), std::nan(""));
    std::copy_n(c.begin(), std::min(c.size(), v.size()), v.begin());
    return array(v);
  };
  out.profile["psi"] = array(psi);
  out.profile["measured"] = array(measured);
  out.profile["sigma"] = array(sigma);
  out.profile["start"] = curve(r.fit.start_curve);
  out.profile["fitted"] = curve(best.fitted);
  out.profile["background"] = curve(best.background);
  if (!a.refined_input.empty()) out.refined_input = py::str(a.refined_input.string());
  if (!a.fit_json.empty()) out.fit_json = py::str(a.fit_json.string());
  std::ostringstream json;
  write_fit_json(json, a.run.par, r, {input.string(), a.refined_input.string()});
  out.json = py::module_::import("json").attr("loads")(json.str());
}

// A list "psi,scale" or a sequence of names as the fit's parameters; ValueError with the
// library's message for an unknown or repeated name.
std::vector<FitParameter> fit_parameters(const py::object& names) {
  std::string list;
  if (py::isinstance<py::str>(names)) list = names.cast<std::string>();
  else if (!names.is_none()) {
    std::vector<std::string> v;
    try {
      v = names.cast<std::vector<std::string>>();
    } catch (const py::cast_error&) {
      throw py::type_error("parameters is a list of names or a string 'psi,scale,...'");
    }
    for (const std::string& name : v) list += (list.empty() ? "" : ",") + name;
  }
  const FitListResult r = parse_fit_parameters(list);
  if (!r.error.empty()) throw py::value_error(r.error);
  return r.parameters;
}

AnalysisResult analyse(AnalysisRequest request, const py::object& progress) {
  AnalysisResult out;
  run_without_gil(request.run, progress, [&](const RunRequest& run) {
    request.run = run;
    out = analysis_command(request);
  });
  return out;
}

std::string fit_repr(const FitResult& f) {
  std::ostringstream os;
  os << "<kaven.FitResult " << f.status;
  if (f.status == "converged") os << ": R " << f.r << ", R_w " << f.r_weighted << ", chi2/dof " << f.chi2_per_dof;
  else os << ": " << f.message;
  os << '>';
  return os.str();
}

constexpr const char* kFitDoc = R"(Runs the input file `input` with the fit of its measured scan, as the command line
`kaven INPUT [OUTPUT] --fit [LIST] [--dispersion] [--readings] [--interference N]` does,
and writes the same files: the run's (listing, .cal, plot; the exports when `csv` or
`json`), OUTPUT-fit.json (also when the fit failed) and, after a fit that converged, the
refined input OUTPUT-fit.inp.

parameters: the parameters to refine, a list of names (['psi', 'lambda_a', 'scale']) or
  a comma-separated string; None for the default set (psi, lambda_a, scale, background).
  Names: psi, lambda_a, scale, background, slope, primary, events, diverp, divers, eta,
  radius. An unknown or repeated name, or a set whose members are one parameter in
  disguise, raises ValueError with nothing written.
dispersion: synchrotron input: f' and f'' at the fitted energy and the fit again.
readings: fit every reading of the measured psi axis the lattice allows, keep the best.
interference: the interference term of the fitted model (nnn); None keeps the input's.
progress, threads, Ctrl-C and the exceptions of a run as in run(); the fit's stages
  ('fit', ...) reach progress with the fraction of the iterations allowed.

A fit that cannot be made (no measured scan, too few points) or did not converge is no
exception: the FitResult has status 'failed' and the message, and no refined input is
written. A run that stops before the fit gives status 'failed' with the stop's message.)";

constexpr const char* kIndexDoc = R"(Runs the input file `input` with the peak table of its measured scan, as the command
line `kaven INPUT [OUTPUT] --index` does (the same files), and returns a PeakTable: the
peaks and dips of the measured scan with the events of the run near each. A run without
a measured scan gives an empty table and the message among result.messages.

progress, threads, csv, json, Ctrl-C and the exceptions as in run().)";

}  // namespace

void add_fit(py::module_& m) {
  py::class_<FitResult>(m, "FitResult",
                        "The fit of a run's simulated scan to its measured scan, as OUTPUT-fit.json holds it.\n"
                        "\n"
                        "status: 'converged' or 'failed'; message: why it failed, or notes\n"
                        "parameters: name -> dict(value, sigma, start, input, lower, upper, refined,\n"
                        "  at_bound) of every parameter (sigma NaN when fixed)\n"
                        "correlations: dict(names: the refined parameters, matrix: NumPy array)\n"
                        "R, R_weighted, chi2_per_dof, iterations: the agreement and the solver's steps\n"
                        "wavelength (Å), energy_eV, cell (a, b, c in Å), psid (degrees): the refined run\n"
                        "peaks_before, peaks_after: dicts of NumPy arrays, one element per peak or dip\n"
                        "  of the measured scan with the strongest event near it ('events' counts them)\n"
                        "asymmetry: dict of NumPy arrays, one element per measured peak: measured and\n"
                        "  modelled asymmetries with and without the interference term\n"
                        "profile: dict of NumPy arrays at the measured steps: psi, measured, sigma,\n"
                        "  start, fitted, background\n"
                        "refined_input, fit_json: the files written (None when not)\n"
                        "json: OUTPUT-fit.json as a dict (readings, the fit at the fitted energy, ...)\n"
                        "result: the run's Result\n"
                        "The values are those of the fit the refined input takes (at the fitted\n"
                        "energy when it was asked for and converged).")
      .def_readonly("status", &FitResult::status)
      .def_readonly("message", &FitResult::message)
      .def_readonly("parameters", &FitResult::parameters)
      .def_readonly("correlations", &FitResult::correlations)
      .def_readonly("R", &FitResult::r)
      .def_readonly("R_weighted", &FitResult::r_weighted)
      .def_readonly("chi2_per_dof", &FitResult::chi2_per_dof)
      .def_readonly("iterations", &FitResult::iterations)
      .def_readonly("wavelength", &FitResult::wavelength)
      .def_readonly("energy_eV", &FitResult::energy_ev)
      .def_readonly("cell", &FitResult::cell)
      .def_readonly("psid", &FitResult::psid)
      .def_readonly("peaks_before", &FitResult::peaks_before)
      .def_readonly("peaks_after", &FitResult::peaks_after)
      .def_readonly("asymmetry", &FitResult::asymmetry)
      .def_readonly("profile", &FitResult::profile)
      .def_readonly("refined_input", &FitResult::refined_input)
      .def_readonly("fit_json", &FitResult::fit_json)
      .def_readonly("json", &FitResult::json)
      .def_readonly("result", &FitResult::result)
      .def("__repr__", &fit_repr);

  py::class_<PeakTableResult>(m, "PeakTable",
                              "The peaks and dips of a measured scan indexed with the run's events.\n"
                              "\n"
                              "noise: the estimated deviation of one measured value\n"
                              "peaks: dict of NumPy arrays, one element per feature (as FitResult.peaks_before)\n"
                              "result: the run's Result")
      .def_readonly("noise", &PeakTableResult::noise)
      .def_readonly("peaks", &PeakTableResult::peaks)
      .def_readonly("result", &PeakTableResult::result)
      .def("__repr__", [](const PeakTableResult& t) {
        return "<kaven.PeakTable: " + std::to_string(py::len(t.peaks["psi"])) + " peaks and dips>";
      });

  m.def(
      "fit",
      [](const fs::path& input, const std::optional<fs::path>& output, const py::object& parameters,
         bool dispersion, bool readings, const std::optional<int>& interference, bool csv, bool json,
         const py::object& progress, int threads) {
        AnalysisRequest request;
        request.fit = true;
        request.options.refine = fit_parameters(parameters);
        request.options.dispersion_at_fitted_energy = dispersion;
        request.options.readings = readings;
        if (interference) {
          if (*interference < 0) throw py::value_error("interference is a count (0 or more)");
          request.options.nnn = *interference;
        }
        request.run = file_run_request(input, output, csv, json, threads);
        const AnalysisResult a = analyse(std::move(request), progress);
        FitResult out;
        out.result = run_result(a.run);
        if (a.fit) fill_fit(out, a, input);
        else out.message = "no fit: the run stopped: " + stop_text(a.run);
        return out;
      },
      kFitDoc, py::arg("input"), py::arg("output") = py::none(), py::arg("parameters") = py::none(),
      py::arg("dispersion") = false, py::arg("readings") = false, py::arg("interference") = py::none(),
      py::arg("csv") = false, py::arg("json") = false, py::arg("progress") = py::none(),
      py::arg("threads") = 0);

  m.def(
      "index_peaks",
      [](const fs::path& input, const std::optional<fs::path>& output, bool csv, bool json,
         const py::object& progress, int threads) {
        AnalysisRequest request;
        request.index = true;
        request.run = file_run_request(input, output, csv, json, threads);
        const AnalysisResult a = analyse(std::move(request), progress);
        PeakTableResult out;
        out.result = run_result(a.run);
        out.peaks = peak_table(a.peaks ? a.peaks->peaks : std::vector<IndexedFeature>(), nullptr);
        if (a.peaks) out.noise = a.peaks->noise;
        return out;
      },
      kIndexDoc, py::arg("input"), py::arg("output") = py::none(), py::arg("csv") = false,
      py::arg("json") = false, py::arg("progress") = py::none(), py::arg("threads") = 0);
}

}  // namespace kaven::python
