// Filter mode: standard input to standard output.
#pragma once

#include "report.h"
#include "state.h"

namespace driver {

// Compresses standard input into one gzip stream on standard output.
outcome compress_filter(const char* mode, copy_buffers& buffers);

// Decompresses standard input, a gzip or a .Z stream told apart by its first
// two bytes, to standard output.
outcome decompress_filter(copy_buffers& buffers);

}  // namespace driver
