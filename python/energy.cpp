// kaven.energy_map and kaven.energy_scan: the run with its plan over energy after it, as
// `kaven INPUT [OUTPUT] --energy-map E1 E2 N` and `--energy-scan PSI E1 E2 N` make it
// (shell/energy_plan_command.hpp), the GIL released while it runs. The rows come back
// as NumPy arrays keyed by the CSV files' columns (report/energy_map_export.hpp).
#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <sstream>

#include "python/module.hpp"
#include "report/energy_map_export.hpp"
#include "shell/energy_plan_command.hpp"

namespace py = pybind11;
namespace fs = std::filesystem;

namespace kaven::python {

namespace {

struct EnergyMapResult {
  py::dict rows, energies;
  py::object summary = py::none();
  std::vector<std::pair<std::string, std::string>> files;
  Result result;
};

struct EnergyScanResult {
  py::dict rows, shares;
  py::object summary = py::none();
  std::vector<std::pair<std::string, std::string>> files;
  Result result;
};

EnergyGrid grid(double e1, double e2, int n) {
  const EnergyGrid g{e1, e2, n};
  if (std::string why = energy_grid_problem(g); !why.empty()) throw py::value_error(why);
  return g;
}

// The run with its plans; raises as run() does, and InputError for an input the plans
// cannot take (tube radiation, ...), with nothing written.
void plan_run(EnergyRunRequest& request, const py::object& progress, EnergyRunResult& out) {
  run_without_gil(request.run, progress, [&](const RunRequest& run) {
    request.run = run;
    energy_run_command(request, out);
  });
  if (!out.refused.empty()) raise(kaven_error("InputError", out.refused));
}

py::object summary_part(const Result& r, const char* name) {
  return r.summary.contains(name) ? py::object(r.summary[name]) : py::object(py::none());
}

std::string map_repr(const EnergyMapResult& m) {
  std::ostringstream os;
  os << "<kaven.EnergyMap: " << py::len(m.energies["energy_kev"]) << " energies, "
     << py::len(m.rows["energy_kev"]) << " event rows>";
  return os.str();
}

std::string scan_repr(const EnergyScanResult& s) {
  std::ostringstream os;
  os << "<kaven.EnergyScan: " << py::len(s.rows["energy_kev"]) << " energies>";
  return os.str();
}

constexpr const char* kMapDoc = R"(Runs the input file `input` and then the energy map from e1 to e2 keV at n energies
(both ends included), as the command line `kaven INPUT [OUTPUT] --energy-map E1 E2 N`
does, and writes the same files: the run's, OUTPUT-map.csv and the map page OUTPUT-map.ps
with its SVG copy OUTPUT-map.svg. At each energy the map holds the events that the
listing of a run at that energy would list (f', f'' from Cromer-Liberman).

Returns an EnergyMap: rows, the events of every energy keyed by the map CSV's columns;
energies, one element per energy of the grid.

Raises ValueError for a grid the command line refuses (e1 >= e2, n < 2, ...) and
InputError, with nothing written, for an input whose energy cannot change (an X-ray
tube). progress ('energy map' after the run's stages), threads, csv, json (the run summary then
has the map's part), Ctrl-C and the other exceptions as in run().)";

constexpr const char* kScanDoc = R"(Runs the input file `input` and then the energy scan at `psi` (degrees) from e1 to e2
keV at n energies, as the command line `kaven INPUT [OUTPUT] --energy-scan PSI E1 E2 N`
does, and writes the same files: the run's, OUTPUT-escan.csv and the plot
OUTPUT-escan.svg. The intensity of the primary reflection at that psi against the
energy: I-prim plus every crossing of the turn there.

Returns an EnergyScan: rows, one element per energy keyed by the energy-scan CSV's
columns; shares, the crossings that make each feature.

Raises ValueError for a grid the command line refuses, InputError, with nothing written,
for an input whose energy cannot change (an X-ray tube) or a psi outside 0 .. 360.
progress ('energy scan' after the run's stages), threads, csv, json, Ctrl-C and the other
exceptions as in run().)";

}  // namespace

void add_energy(py::module_& m) {
  py::class_<EnergyMapResult>(m, "EnergyMap",
                              "An energy map: where the events of the psi range lie at each energy.\n"
                              "\n"
                              "rows: dict of NumPy arrays keyed by the map CSV's columns (energy_kev, then\n"
                              "  the events CSV's, then note), one element per listed event per energy\n"
                              "energies: dict of NumPy arrays, one element per energy of the grid:\n"
                              "  energy_kev, wavelength (Å), events (listed), note (the CSV's note of an\n"
                              "  energy without events: 'no event listed' or why the energy is out of reach;\n"
                              "  '' otherwise)\n"
                              "summary: the run summary's energy_map member as a dict\n"
                              "files: (what, path) of the map's files\n"
                              "result: the run's Result")
      .def_readonly("rows", &EnergyMapResult::rows)
      .def_readonly("energies", &EnergyMapResult::energies)
      .def_readonly("summary", &EnergyMapResult::summary)
      .def_readonly("files", &EnergyMapResult::files)
      .def_readonly("result", &EnergyMapResult::result)
      .def("__repr__", &map_repr);

  py::class_<EnergyScanResult>(m, "EnergyScan",
                               "An energy scan: the primary reflection's intensity at one psi against the energy.\n"
                               "\n"
                               "rows: dict of NumPy arrays keyed by the energy-scan CSV's columns\n"
                               "  (energy_kev, wavelength, intensity, iprim, relative, crossings, note, events),\n"
                               "  one element per energy; intensities NaN and crossings 0 where the energy is\n"
                               "  out of reach\n"
                               "shares: dict of NumPy arrays, one element per crossing that adds or takes a\n"
                               "  visible share at an energy, the strongest first: energy_index (into rows),\n"
                               "  energy_kev, h1 k1 l1 (secondary), h2 k2 l2 (coupling), crossing, psi, cps\n"
                               "summary: the run summary's energy_scan member as a dict\n"
                               "files: (what, path) of the scan's files\n"
                               "result: the run's Result")
      .def_readonly("rows", &EnergyScanResult::rows)
      .def_readonly("shares", &EnergyScanResult::shares)
      .def_readonly("summary", &EnergyScanResult::summary)
      .def_readonly("files", &EnergyScanResult::files)
      .def_readonly("result", &EnergyScanResult::result)
      .def("__repr__", &scan_repr);

  m.def(
      "energy_map",
      [](const fs::path& input, double e1, double e2, int n, const std::optional<fs::path>& output, bool csv,
         bool json, const py::object& progress, int threads) {
        EnergyRunRequest request;
        request.run = file_run_request(input, output, csv, json, threads);
        request.map = grid(e1, e2, n);
        // The energies arrive one at a time, in the grid's order, on a working thread.
        std::vector<EnergyPoint> points;
        request.map_point = [&points](const EnergyPoint& p) { points.push_back(p); };
        EnergyRunResult out;
        plan_run(request, progress, out);
        EnergyMapResult r;
        r.result = run_result(out.run);
        r.rows = table(map_columns(), [&](const RowSink& sink) {
          for (const EnergyPoint& p : points)
            if (p.status == EnergyStatus::ok) map_rows(p, sink);
        });
        std::vector<double> energy;
        std::vector<float> wavelength;
        std::vector<int> events;
        py::list notes;
        for (const EnergyPoint& p : points) {
          energy.push_back(p.energy_kev);
          wavelength.push_back(p.wavelength);
          const bool ok = p.status == EnergyStatus::ok;
          events.push_back(ok ? static_cast<int>(p.pass.events.size()) : 0);
          notes.append(!ok ? energy_status_text(p.status) : p.pass.events.empty() ? "no event listed" : "");
        }
        r.energies["energy_kev"] = py::array_t<double>(py::ssize_t(energy.size()), energy.data());
        r.energies["wavelength"] = py::array_t<float>(py::ssize_t(wavelength.size()), wavelength.data());
        r.energies["events"] = py::array_t<int>(py::ssize_t(events.size()), events.data());
        r.energies["note"] = py::module_::import("numpy").attr("array")(notes, py::arg("dtype") = "str");
        r.summary = summary_part(r.result, "energy_map");
        r.files = out.plans.outcome.written;
        return r;
      },
      kMapDoc, py::arg("input"), py::arg("e1"), py::arg("e2"), py::arg("n"),
      py::arg("output") = py::none(), py::arg("csv") = false, py::arg("json") = false,
      py::arg("progress") = py::none(), py::arg("threads") = 0);

  m.def(
      "energy_scan",
      [](const fs::path& input, float psi, double e1, double e2, int n, const std::optional<fs::path>& output,
         bool csv, bool json, const py::object& progress, int threads) {
        EnergyRunRequest request;
        request.run = file_run_request(input, output, csv, json, threads);
        request.scan = EnergyScanRequest{psi, grid(e1, e2, n)};
        std::vector<EnergyScanPoint> points;
        request.scan_point = [&points](const EnergyScanPoint& p) { points.push_back(p); };
        EnergyRunResult out;
        plan_run(request, progress, out);
        EnergyScanResult r;
        r.result = run_result(out.run);
        r.rows = table(escan_columns(), [&](const RowSink& sink) {
          for (const EnergyScanPoint& p : points) {
            std::vector<ResultCell> cells = escan_cells(p);
            // no crossing entered at an energy out of reach (an empty field in the CSV)
            for (std::size_t c = 0; c < cells.size(); ++c)
              if (escan_columns()[c].kind == ColumnKind::integer && std::holds_alternative<std::string>(cells[c]))
                cells[c] = 0;
            sink(cells);
          }
        });
        py::list index, energy, hkl[6], crossing, share_psi, cps;
        const char* names[6] = {"h1", "k1", "l1", "h2", "k2", "l2"};
        for (const EnergyScanPoint& p : points)
          for (const ScanShare& s : p.shares) {
            index.append(p.index);
            energy.append(p.energy_kev);
            for (int i = 0; i < 3; ++i) {
              hkl[i].append(s.secondary[i]);
              hkl[3 + i].append(s.coupling[i]);
            }
            crossing.append(s.crossing == Crossing::first ? "in-out" : "out-in");
            share_psi.append(s.psi);
            cps.append(s.cps);
          }
        const py::object array = py::module_::import("numpy").attr("array");
        r.shares["energy_index"] = array(index, py::arg("dtype") = "int32");
        r.shares["energy_kev"] = array(energy, py::arg("dtype") = "float64");
        for (int i = 0; i < 6; ++i) r.shares[names[i]] = array(hkl[i], py::arg("dtype") = "int32");
        r.shares["crossing"] = array(crossing, py::arg("dtype") = "str");
        r.shares["psi"] = array(share_psi, py::arg("dtype") = "float32");
        r.shares["cps"] = array(cps, py::arg("dtype") = "float64");
        r.summary = summary_part(r.result, "energy_scan");
        r.files = out.plans.outcome.written;
        return r;
      },
      kScanDoc, py::arg("input"), py::arg("psi"), py::arg("e1"), py::arg("e2"), py::arg("n"),
      py::arg("output") = py::none(), py::arg("csv") = false, py::arg("json") = false,
      py::arg("progress") = py::none(), py::arg("threads") = 0);
}

}  // namespace kaven::python
