// The exceptions of the Python module and the one place that turns a
// failure of the stream layer into them, as the standard library's gzip
// module would: damage is zpress.BadGzipFile (an OSError), a stream cut off
// is EOFError, a failed system call an OSError carrying errno and the file's
// name.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace zpress_python {

namespace py = pybind11;

// Made once by the module's initialisation.
void register_errors(py::module_& m);

// Raise: set the Python error and throw py::error_already_set.
[[noreturn]] void raise(PyObject* type, const std::string& message);
[[noreturn]] void raise_bad_gzip(const std::string& message);
[[noreturn]] void raise_unsupported(const std::string& message);
// An OSError subclass chosen by errno (ENOSPC stays OSError), with errno,
// strerror and filename set; `filename` may be None.
[[noreturn]] void raise_os_error(int error, const py::object& filename);

PyObject* bad_gzip_type();

}  // namespace zpress_python
