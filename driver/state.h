// Process-wide state of the command-line driver.
#pragma once

namespace driver {

// The first argument, unchanged: it begins every diagnostic.
extern const char* prog;
// "-c": results go to standard output and inputs are kept.
extern int outfile_stdout;
// "-f": existing outputs are replaced.
extern int force_overwrite;
// The output file the current file job is writing, or null.  Read by the
// signal handler, so it is one pointer read whole.
extern const char* volatile outfile_pname;

// Size of the copy loops' buffers.
inline constexpr unsigned BLOCK_SIZE = 16384;

}  // namespace driver
