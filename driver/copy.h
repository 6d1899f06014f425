// The copy loops of both modes.  Each moves the data in blocks through a
// buffer of the run, closes its two streams when the copy is complete and
// reports the first failure.
#pragma once

#include "report.h"
#include "state.h"
#include "streams.h"

namespace driver {

// stdio stream -> gzip stream.
outcome gz_compress(stdio_stream& in, gz_writer& out, copy_buffers& buffers);

// gzip stream -> stdio stream.  An output kept open (standard output under
// "-c") is flushed instead of closed.
outcome gz_uncompress(gz_reader& in, stdio_stream& out, copy_buffers& buffers);

// .Z stream -> descriptor, one write per block below stdio.
outcome lzw_uncompress(lzw_reader& in, int out_fd, copy_buffers& buffers);

}  // namespace driver
