// The Python module kaven: the run of the command line, the conversion of a CIF, and the
// results as NumPy arrays and dicts. Each area of the library has a file of its own here
// (run.cpp, cif.cpp); every one only converts types and calls the library.
#include "python/module.hpp"

namespace py = pybind11;

PYBIND11_MODULE(kaven, m) {
  m.doc() =
      "kaven: Renninger-scan (psi-scan) simulation of multiple diffraction in single crystals.\n"
      "\n"
      "The same runs as the command-line program kaven, from scripts and notebooks:\n"
      "\n"
      "  run(input, ...)         runs an input file, writes the files the command line writes\n"
      "                          and returns a Result (events, scan, summary)\n"
      "  run_text(text, folder)  the same run of an input given as text\n"
      "  from_cif(path, hkl, ...) the text of an input file for the structure of a CIF\n"
      "\n"
      "Errors are exceptions: InputError for a malformed input (its message is the\n"
      "listing's), OSError for a file that may not or cannot be read or written, CifError\n"
      "for a CIF that cannot be converted. A run that stops early with a message in its\n"
      "listing (no event above the threshold, a psi range the radiation cannot have, ...)\n"
      "is no exception: its Result has the status 'stopped' and the message.\n";
  m.attr("__version__") = KAVEN_VERSION;
  kaven::python::add_errors(m);
  kaven::python::add_run(m);
  kaven::python::add_cif(m);
}
