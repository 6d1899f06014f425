// zpress._zpress: the compiled part of the Python package zpress.
#include <pybind11/pybind11.h>

#include "errors.h"
#include "gz_file.h"
#include "one_shot.h"
#include "zpress/gzio.h"

PYBIND11_MODULE(_zpress, m) {
    m.doc() = "gzip and .Z streams for Python; use the package zpress.";
    zpress_python::register_errors(m);
    zpress_python::register_one_shot(m);
    zpress_python::register_gz_file(m);
    m.attr("__version__") = ZPRESS_VERSION;
    m.attr("ZLIB_VERSION") = gzstream::engine_version();
}
