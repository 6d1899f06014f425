#include "errors.h"

#include <cerrno>

namespace zpress_python {
namespace {

PyObject* g_bad_gzip = nullptr;
PyObject* g_unsupported = nullptr;

}  // namespace

void register_errors(py::module_& m) {
    // A subclass of gzip.BadGzipFile, so that code written for the standard
    // library's module catches ours too.
    const py::object base = py::module_::import("gzip").attr("BadGzipFile");
    g_bad_gzip = PyErr_NewExceptionWithDoc(
        "zpress.BadGzipFile",
        "Damaged gzip data: a bad header, CRC or length, invalid deflate data, or "
        "bytes after the last member that are not zero padding.",
        base.ptr(), nullptr);
    if (g_bad_gzip == nullptr) throw py::error_already_set();
    m.attr("BadGzipFile") = py::handle(g_bad_gzip);
    g_unsupported =
        py::object(py::module_::import("io").attr("UnsupportedOperation")).release().ptr();
}

PyObject* bad_gzip_type() { return g_bad_gzip; }

void raise(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw py::error_already_set();
}

void raise_bad_gzip(const std::string& message) { raise(g_bad_gzip, message); }

void raise_unsupported(const std::string& message) { raise(g_unsupported, message); }

void raise_os_error(int error, const py::object& filename) {
    errno = error != 0 ? error : EIO;
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError,
                                         filename.is_none() ? nullptr : filename.ptr());
    throw py::error_already_set();
}

}  // namespace zpress_python
