// The copy loops between stdio streams and gzip streams.  Both close their
// two streams and return only on success; every failure ends the process.
#pragma once

#include <cstdio>

#include "zpress/gzio.h"

namespace driver {

void gz_compress(std::FILE* in, gzstream::gz_handle* out);
void gz_uncompress(gzstream::gz_handle* in, std::FILE* out);

}  // namespace driver
