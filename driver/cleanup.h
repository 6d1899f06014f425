// Removal of a half-written output when a signal interrupts a file job.
#pragma once

#include "job_dir.h"

namespace driver {

// The output a file job is writing, as the signal handler sees it.
struct output_record {
    int dir_fd;           // the job's directory
    const char* entry;    // the output's name in it
    file_id id;           // the file the job created
    const char* shown;    // the output's name in reports
};

// Holds back the clean-up signals while a job creates its output and
// publishes its record, so that the handler can only ever see a complete
// record of a file this job created.  Installs the handler.
class cleanup_window {
public:
    cleanup_window();
    ~cleanup_window();
    cleanup_window(const cleanup_window&) = delete;
    cleanup_window& operator=(const cleanup_window&) = delete;
};

// Publishes the record (it must stay valid until withdrawn) or withdraws it.
void record_output(const output_record* record);

// Removes the recorded output, if the name still refers to the file the job
// created, and ends the process with status 1.
void cleanup_handler(int sig);

}  // namespace driver
