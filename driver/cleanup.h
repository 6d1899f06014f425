// What a signal (SIGHUP, SIGINT, SIGQUIT, SIGTERM) does to a run of file
// jobs: the output of the job in progress is removed, every job that had
// finished is completed as if the run had ended there (see finished_jobs.h),
// and the process ends with status 1.
#pragma once

#include <signal.h>

#include "job_dir.h"

namespace driver {

// The output a file job is writing, as the signal handler sees it.
struct output_record {
    int dir_fd;         // the job's directory
    const char* entry;  // the output's name in it
    file_id id;         // the file the job created
    const char* shown;  // the output's name in reports
};

// Holds back the clean-up signals for its lifetime, so that the handler
// sees the records of the output and of the finished jobs either before or
// after a change, never in the middle of one.
class cleanup_window {
  public:
    cleanup_window();
    ~cleanup_window();
    cleanup_window(const cleanup_window&) = delete;
    cleanup_window& operator=(const cleanup_window&) = delete;

  private:
    sigset_t saved_;
};

// The clean-up handler for the run's lifetime.  A signal that was ignored
// when the run started stays ignored: the user asked for that (nohup, a
// script's background job), and the run goes on through it.  The handler
// is installed for the others, and what was there before is put back when
// the run ends, so that a host program calling the driver gets its own
// dispositions again.
class cleanup_handler_guard {
  public:
    cleanup_handler_guard() = default;
    ~cleanup_handler_guard();
    cleanup_handler_guard(const cleanup_handler_guard&) = delete;
    cleanup_handler_guard& operator=(const cleanup_handler_guard&) = delete;

    // Installs the handler (once), before the first output file is created.
    void install();

  private:
    static constexpr int COUNT = 4;
    struct sigaction found_[COUNT];
    bool replaced_[COUNT] = {};
    bool installed_ = false;
};

// Publishes the record of the output in progress (it must stay valid until
// withdrawn with null).  Call inside a cleanup_window.
void record_output(const output_record* record);

// Removes a job's output, provided its name still refers to the file the job
// created: a name that leads elsewhere is someone else's file.  Reports a
// failed removal.  Async-signal-safe.
void remove_output(int dir_fd, const char* entry, file_id id, const char* shown) noexcept;

}  // namespace driver
