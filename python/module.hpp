// What the files of the Python module share: the parts that add their calls to the
// module, and the raising of kaven's errors as Python exceptions.
#pragma once
#include <pybind11/pybind11.h>

#include <string>

namespace kaven::python {

void add_errors(pybind11::module_& m);  // InputError, CifError
void add_run(pybind11::module_& m);     // run, run_text, Result
void add_cif(pybind11::module_& m);     // from_cif

// An instance of kaven.<name> (InputError, CifError) with the message.
pybind11::object kaven_error(const char* name, const std::string& message);
// OSError(errno, strerror, file) when the system gave an error number (Python makes it
// FileNotFoundError, PermissionError, ...), otherwise OSError(message), the message
// naming the file (a file refused by the rules of a run, a blank name).
pybind11::object os_error(const std::string& message, const std::string& file, int error_number);
// Raises the exception instance in Python.
[[noreturn]] void raise(const pybind11::object& exception);

}  // namespace kaven::python
