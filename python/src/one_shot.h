// Whole buffers: zpress.compress, decompress, lzw_compress, lzw_decompress.
#pragma once

#include <pybind11/pybind11.h>

namespace zpress_python {

void register_one_shot(pybind11::module_& m);

}  // namespace zpress_python
