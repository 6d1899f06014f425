// File mode: one job per file name on the command line.
#pragma once

namespace driver {

// NAME -> NAME.gz, then NAME is removed (unless "-c").
void file_compress(const char* name, const char* mode);

// NAME.gz (or NAME given with the suffix) -> NAME, then NAME.gz is removed
// (unless "-c").
void file_uncompress(const char* name);

// Removes the output of an interrupted job and ends the process with status 1.
void cleanup_handler(int sig);

// With "-c" every job writes to standard output, and the copy loops close it:
// keep a spare descriptor so that each later job finds it open again.
void keep_stdout_for_jobs();
void restore_stdout_after_job();

}  // namespace driver
