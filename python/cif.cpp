// kaven.from_cif: the input file that `kaven --from-cif` writes, as text. The keyword
// options are the command line's without their dashes; the values are checked and the
// defaults taken where the command line has them, in the library (cif/input_from_cif).
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <array>
#include <cerrno>

#include "cif/input_from_cif.hpp"
#include "python/module.hpp"

namespace py = pybind11;
namespace fs = std::filesystem;

namespace kaven::python {

namespace {

template <class T, std::size_t N>
std::array<T, N> values(const py::handle& value, const char* option) {
  const auto v = value.cast<std::vector<T>>();
  if (v.size() != N)
    throw py::value_error(std::string(option) + " takes " + std::to_string(N) + " values");
  std::array<T, N> a{};
  std::copy(v.begin(), v.end(), a.begin());
  return a;
}

// One keyword option into the conversion options, as the command line's option of the
// same name (with dashes) sets it.
void set_option(CifRunOptions& o, std::string& block, const std::string& name, const py::handle& v) {
  if (name == "polarisation") {
    const auto s = v.cast<std::string>();
    if (s != "sigma" && s != "pi") throw py::value_error("polarisation is 'sigma' or 'pi'");
    o.isyn = s == "sigma" ? 1 : 2;
  } else if (name == "monochromator") {
    const auto m = values<float, 5>(v, "monochromator");  // a, h, k, l, F
    o.mono.a = m[0];
    for (int i = 0; i < 3; ++i) {
      o.mono.hkl[i] = static_cast<int>(m[i + 1]);
      if (float(o.mono.hkl[i]) != m[i + 1]) throw py::value_error("monochromator: h k l are integers");
    }
    o.mono.f = m[4];
  } else if (name == "divergence") o.divergence = values<float, 2>(v, "divergence");
  else if (name == "crystal_radius") o.rkugel_um = v.cast<float>();
  else if (name == "block_radius") o.radius_um = v.cast<float>();
  else if (name == "mosaic") o.eta = v.cast<float>();
  else if (name == "psi") o.psi_range = values<float, 2>(v, "psi");
  else if (name == "steps_per_degree") o.zsw1 = v.cast<float>();
  else if (name == "interference") o.nnn = v.cast<int>();
  else if (name == "drumin") o.drumin = v.cast<float>();
  else if (name == "zeimax") o.zeimax = v.cast<float>();
  else if (name == "primary_interval") o.primary_interval = values<float, 2>(v, "primary_interval");
  else if (name == "ub") {
    // nine values row by row, or three rows of three
    std::vector<float> flat;
    for (const py::handle row : v) {
      if (py::isinstance<py::str>(row)) throw py::type_error("ub takes nine numbers");
      if (py::isinstance<py::iterable>(row))
        for (const py::handle x : row) flat.push_back(x.cast<float>());
      else flat.push_back(row.cast<float>());
    }
    o.ub = values<float, 9>(py::cast(flat), "ub");
  } else if (name == "scan") o.scan_file = v.cast<std::string>();
  else if (name == "title") o.title = v.cast<std::string>();
  else if (name == "plot") o.plot_file = v.cast<std::string>();
  else if (name == "block") block = v.cast<std::string>();
  else throw py::type_error("from_cif() got an unexpected keyword argument '" + name + "'");
}

std::string from_cif(const fs::path& path, const std::array<int, 3>& hkl,
                     const std::optional<std::string>& radiation, const std::optional<float>& wavelength,
                     bool synchrotron, const fs::path& output, const py::kwargs& options) {
  CifRunOptions o;
  std::string block;
  o.hkl = hkl;
  if (radiation) o.tube = *radiation;
  if (wavelength) o.wavelength = *wavelength;
  // The radiation as the command line asks for it: a tube, or a wavelength that is the
  // synchrotron line.
  if (wavelength && !synchrotron) throw py::value_error("wavelength is the synchrotron line: add synchrotron=True");
  if (synchrotron && radiation) throw py::value_error("synchrotron goes with wavelength, not with radiation");
  for (const auto& [key, value] : options) set_option(o, block, key.cast<std::string>(), value);
  if (o.plot_file.empty()) o.plot_file = default_plot_file(output);
  o.cif_name = path.filename().string();

  // A file that is not there or cannot be a CIF is Python's OSError; what the CIF holds
  // is the converter's to judge.
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  if (!fs::exists(st)) raise(os_error("", path.string(), ENOENT));
  if (fs::is_directory(st)) raise(os_error("", path.string(), EISDIR));
  if (!fs::is_regular_file(st)) raise(os_error(path.string() + " is not a regular file", path.string(), 0));

  CifStructure structure;
  CifConversion conv;
  try {
    py::gil_scoped_release release;
    structure = read_cif_structure(path, block);
    conv = input_from_cif(structure, o);
  } catch (const CifError& e) {
    raise(kaven_error("CifError", path.string() + ": " + e.what()));
  }
  const py::object warn = py::module_::import("warnings").attr("warn");
  // What was mended in the file ("line 14: ..."), then what the conversion assumed; both
  // attributed to the caller's line.
  for (const std::string& w : structure.warnings) warn(path.string() + (w.starts_with("line ") ? " " : ": ") + w);
  for (const std::string& note : conv.notes) warn(note);
  return input_file_text(conv.deck);
}

constexpr const char* kFromCifDoc = R"(The text of the input file that `kaven --from-cif PATH --hkl H K L ... -o OUTPUT`
writes, without writing it: the cell, the space group (its table number, or explicit
operators in the CIF's own setting), the atoms with their displacement parameters, and
the experiment from the options with the defaults `kaven --help` lists.

hkl: the primary reflection (three integers).
radiation: 'Cu', 'Mo' or 'Ag': an X-ray tube with K-alpha1 and K-alpha2.
wavelength, synchrotron=True: a synchrotron line of that wavelength (Å) behind a crystal
  monochromator.
output: the input file's name; it only fixes names inside (the plot file, by default
  OUTPUT with the extension .ps).
options: the command line's options without dashes, '-' written '_':
  polarisation='sigma'|'pi', monochromator=(a, h, k, l, F), divergence=(p, s),
  crystal_radius, block_radius, mosaic, psi=(start, end), steps_per_degree,
  interference, drumin, zeimax, primary_interval=(p1, p2), ub (nine numbers or 3 x 3),
  scan, title, plot, block.

What was mended in the file (a tag given twice, a value of several words without
quotes, ...; with its line) and what the conversion assumed (an ion replaced by the
neutral atom, an origin moved) are issued as warnings (UserWarning). Raises CifError when the CIF cannot be converted or an
option value cannot be used, OSError when the file cannot be read, ValueError or
TypeError for arguments the command line would refuse as usage errors.)";

}  // namespace

void add_cif(py::module_& m) {
  m.def("from_cif", &from_cif, kFromCifDoc, py::arg("path"), py::arg("hkl"),
        py::arg("radiation") = py::none(), py::arg("wavelength") = py::none(),
        py::arg("synchrotron") = false, py::arg("output") = fs::path("NEW.inp"));
}

}  // namespace kaven::python
