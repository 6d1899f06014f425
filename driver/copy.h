// The copy loops of both modes.  Each moves the data in blocks through a
// fixed buffer, closes its two streams and returns only on success; every
// failure ends the process after its report.
#pragma once

#include <cstdio>

#include "report.h"
#include "zpress/gzio.h"
#include "zpress/zopen.h"

namespace driver {

// stdio stream -> gzip stream.
void gz_compress(std::FILE* in, gzstream::gz_handle* out, stream_name out_name = {});

// gzip stream -> stdio stream.
void gz_uncompress(gzstream::gz_handle* in, std::FILE* out, stream_name in_name = {});

// .Z stream -> descriptor, one write per block below stdio.
void lzw_uncompress(lzw::lzw_handle* in, int out_fd);

}  // namespace driver
