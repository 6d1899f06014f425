// Writing the range to standard output as raw bytes.
#pragma once

#include "options.h"
#include "zpress/gzio.h"

namespace zpress_read {

enum class copy_end { done, reader_gone, write_failed, data_failed };

// Copies from the handle's position on, at most max_bytes bytes and
// max_lines lines (-1: no limit), to descriptor 1.  A reader that closed the
// pipe (EPIPE) ends the copy quietly; any other failed write is reported
// here.  data_failed: the data could not be read further (the good bytes
// before the damage were written); the caller reports it.
copy_end copy_range(gzstream::gz_handle* h, gz_off_t max_bytes, gz_off_t max_lines);

}  // namespace zpress_read
