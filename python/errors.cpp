// kaven's errors as Python exceptions. InputError and CifError are ValueErrors: a value
// in a file is wrong, not the program. File failures are Python's own OSError family.
#include "python/module.hpp"

#include <Python.h>

namespace py = pybind11;

namespace kaven::python {

namespace {

void add_error(py::module_& m, const char* name, const char* doc) {
  const std::string qualified = std::string("kaven.") + name;
  PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, PyExc_ValueError, nullptr);
  if (!type) throw py::error_already_set();
  m.attr(name) = py::reinterpret_steal<py::object>(type);
}

}  // namespace

void add_errors(py::module_& m) {
  add_error(m, "InputError",
            "A value of the input could not be read (a malformed number, a line missing\n"
            "its values). The message is the listing's; the attribute `listing` names the\n"
            "listing, which holds the input read up to the error.");
  add_error(m, "CifError",
            "The CIF cannot be turned into an input file: no cell, no atom sites, an element\n"
            "the element table lacks, a primary reflection the wavelength cannot reach, an\n"
            "option value a run would refuse.");
}

py::object kaven_error(const char* name, const std::string& message) {
  return py::module_::import("kaven").attr(name)(message);
}

py::object os_error(const std::string& message, const std::string& file, int error_number) {
  // Python prints an OSError with a file name as "[Errno N] strerror: 'file'": without an
  // error number the message alone (it names the file).
  const py::object os_error_type = py::reinterpret_borrow<py::object>(PyExc_OSError);
  if (error_number != 0) {
    const py::object strerror = py::module_::import("os").attr("strerror")(error_number);
    return os_error_type(error_number, strerror, file);
  }
  return os_error_type(message);
}

void raise(const py::object& exception) {
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr());
  throw py::error_already_set();
}

}  // namespace kaven::python
