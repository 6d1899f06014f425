// Iteration over a GzFile's lines without a Python-level call per line:
// a small type whose tp_iternext goes straight to the reader.  It keeps the
// object that owns the GzFile alive and reads from the same buffer as
// readline(), so lines taken by it and reads after it stay in order.
#pragma once

#include <pybind11/pybind11.h>

namespace zpress_python {

class gz_file;

pybind11::object make_line_iterator_type(pybind11::module_& m);
pybind11::object new_line_iterator(const pybind11::object& type, const pybind11::object& owner,
                                   gz_file* file);

}  // namespace zpress_python
