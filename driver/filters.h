// Filter mode: standard input to standard output.
#pragma once

#include "report.h"
#include "state.h"

namespace driver {

// With `opts.confine` set, both confine the process (sandbox.h) before they
// read a byte of input.

// Compresses standard input into one gzip stream on standard output, with
// the mode `opts.mode`.
outcome compress_filter(const options& opts, copy_buffers& buffers);

// Decompresses standard input, a gzip or a .Z stream told apart by its first
// two bytes, to standard output.
outcome decompress_filter(const options& opts, copy_buffers& buffers);

}  // namespace driver
