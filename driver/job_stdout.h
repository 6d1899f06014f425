// Standard output under "-c": every file job writes its result there, one
// after the other, and the copy loops close the stream they are given.  This
// unit alone owns descriptor 1 and the stdout stream while file jobs run.
#pragma once

#include <cstdio>

#include "zpress/gzio.h"

namespace driver {

// Before the first job: keep a spare descriptor of standard output.
void keep_stdout_for_jobs();

// A gzip stream on descriptor 1 for one compressing job, or null.
gzstream::gz_handle* gz_stdout_for_job(const char* mode);

// A stdio stream on descriptor 1 for one decompressing job, or null.
std::FILE* stdout_for_job();

// After each job: descriptor 1 open again for the next one.
void restore_stdout_after_job();

}  // namespace driver
