// File mode: one job per file name on the command line.
#pragma once

#include "file_job.h"

namespace driver {

// NAME -> NAME.gz, then NAME is removed (unless "-c").
outcome file_compress(const char* name, file_run& run);

// NAME.gz (or NAME given with the suffix) -> NAME, then NAME.gz is removed
// (unless "-c").
outcome file_uncompress(const char* name, file_run& run);

}  // namespace driver
