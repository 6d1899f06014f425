// File mode: one job per file name on the command line.
#pragma once

#include "state.h"

namespace driver {

// NAME -> NAME.gz, then NAME is removed (unless "-c").
void file_compress(const char* name, const options& opts);

// NAME.gz (or NAME given with the suffix) -> NAME, then NAME.gz is removed
// (unless "-c").
void file_uncompress(const char* name, const options& opts);

}  // namespace driver
