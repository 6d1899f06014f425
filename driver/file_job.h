// One file job, the same steps in both directions: derive the names, open
// the job's directory and the input, then either copy to standard output
// ("-c") or create the output and copy into it; a finished job joins
// the finished jobs, whose inputs are removed once their outputs are
// durable (finished_jobs.h).
//
// A job that fails after its output was created removes the output again
// (when its name still refers to the file the job created) and keeps its
// input, whatever failed: reading, the data, writing, the close or the sync.
#pragma once

#include <sys/stat.h>

#include "finished_jobs.h"
#include "report.h"
#include "state.h"
#include "unique_fd.h"

namespace driver {

struct job_names {
    const char* arg = nullptr;      // the name as it stood on the command line
    const char* input = nullptr;    // the file read
    const char* output = nullptr;   // the file written
    char buffer[NAME_BUFFER_SIZE];  // the derived one of the two
};

// What a direction supplies to the job: its names, its openers and its copy
// loop.  Each step reports its own failure.
class file_direction {
  public:
    // Fills in `names` from names.arg.
    virtual outcome derive_names(job_names& names) = 0;
    // The input could not be opened; errno says why.
    virtual outcome input_unopenable(const job_names& names) = 0;
    // Takes over the input, opened as `st` describes it, before any output
    // exists: input that this direction cannot read is refused here.
    virtual outcome open_input(unique_fd fd, const struct stat& st, const job_names& names) = 0;
    // The output could not be created; errno says why.
    virtual outcome output_uncreatable(const job_names& names) = 0;
    // Opens the output stream on `fd`, a descriptor of its own.
    virtual outcome open_output(unique_fd fd, const job_names& names) = 0;
    // "-c": opens the output stream on standard output, which stays open.
    virtual outcome open_stdout(const job_names& names) = 0;
    // Copies the input into the output and closes both streams.
    virtual outcome copy(copy_buffers& buffers) = 0;

    virtual ~file_direction() = default;
};

// What the file jobs of one run share.
struct file_run {
    const options& opts;
    copy_buffers& buffers;
    finished_jobs& finished;
};

outcome run_file_job(const char* arg, file_direction& direction, file_run& run);

}  // namespace driver
