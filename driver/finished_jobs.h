// File jobs whose outputs are complete and whose inputs wait for removal.
//
// An input may go only once its output is durable: its data, and its name
// in the directory (a file system without ordered metadata may otherwise
// keep the input's removal and lose the output's name in a crash).
//
// An fsync per output costs a journal commit, or at least a flush of the
// disk's cache, per file: on a run over many small files that was most of
// the wall time, and far more while other processes wrote.  So finished
// jobs wait in a group, which is made durable with one such wait: each
// output's write-back starts when its job finishes (sync_file_range), and
// at the group's end is waited for, which reports an error of that file; a replacement ("-f") is
// synced whole and renamed over the entry it replaces; then one syncfs per
// file system, on the descriptor of a job's directory, commits the outputs'
// metadata and names and flushes the disk's cache.  Only then are inputs
// removed.
//
// A group is completed when it is full, before a job whose input may block
// (anything but a regular file: finished jobs must not wait on a slow
// writer), before a job that names a finished job's input or output, and at
// the end of the run, however it ends.  A signal completes it from the
// handler, so an interrupted run leaves no input beside its complete output.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <memory>

#include "cleanup.h"
#include "job_dir.h"
#include "report.h"
#include "state.h"
#include "unique_fd.h"

namespace driver {

// What a regular input looked like when its job opened it.
struct input_snapshot {
    off_t size = 0;
    struct timespec mtime {};
    struct timespec ctime {};
    nlink_t links = 0;
};

input_snapshot snapshot_of(const struct stat& st);

// A replacement output ("-f" over an existing entry) is written under a
// short temporary name of its own directory: ".zp" and six letters or
// digits.
inline constexpr std::size_t TEMP_ENTRY_SIZE = 10;

// How the completion of a finished job ends.
enum class job_end : unsigned char {
    done,          // the output is durable under its name (and the input gone)
    input_kept,    // the input changed after its job opened it
    output_unsafe  // the output or its name could not be made durable, or
                   // was lost: the input stays and the run must end
};

// A job whose output is complete; its input is still in place.  Plain
// storage that the signal handler can read as it is.
struct finished_job {
    unique_fd dir;     // the job's directory
    unique_fd output;  // the output, for its sync
    file_id dir_id;
    file_id out_id;
    file_id in_id;
    job_end end = job_end::done;  // set while the group is completed
    // The output's name while it replaces an existing entry, which it takes
    // over once synced; empty when the output was created under its name.
    char temp_entry[TEMP_ENTRY_SIZE] = {};
    // The input entry is the regular file itself: compare `opened` with it
    // before removing it.  (A FIFO's times change with every write, and a
    // symbolic link's removal loses no data.)
    bool check_changes = false;
    input_snapshot opened;
    const char* in_entry = nullptr;   // the names in the directory (in the
    const char* out_entry = nullptr;  // names below, or ".")
    char in_name[NAME_BUFFER_SIZE];   // as the reports show them
    char out_name[NAME_BUFFER_SIZE];
};

class finished_jobs {
  public:
    // Publishes the group to the signal handler for its lifetime.
    finished_jobs();
    ~finished_jobs();
    finished_jobs(const finished_jobs&) = delete;
    finished_jobs& operator=(const finished_jobs&) = delete;

    // Before the first output is created: makes room for a group and
    // installs the signal handler that completes it.
    void prepare();
    // The slot the next finished job is written into; it counts once added.
    finished_job& next_slot() { return jobs_[count_]; }
    // Adds the slot written last.  Call inside a cleanup_window.  True when
    // the group is now full and must be completed.
    bool add_filled_slot();

    // True when `entry` of the directory `dir` is a waiting input or output.
    bool names(const job_dir& dir, const char* entry) const;

    // Syncs the outputs and removes their inputs, as each job's checks
    // allow; reports every problem.  Fails when an output could not be
    // synced (it is removed) or was lost: the run must end.
    outcome complete();
    // Some input was kept because it had changed: the run ends with status 1.
    bool inputs_kept() const { return inputs_kept_; }

    // The same completion from the signal handler: async-signal-safe, and
    // changes nothing the main flow relies on (the process ends after it).
    void complete_in_handler() noexcept;

  private:
    // The steps of a completion, in order; true when every output is safe.
    bool complete_group() noexcept;
    static job_end settle_output(const finished_job& job) noexcept;
    void sync_file_systems() noexcept;
    static job_end remove_input(const finished_job& job) noexcept;

    std::unique_ptr<finished_job[]> jobs_;  // allocated by prepare()
    std::size_t capacity_;
    std::size_t count_ = 0;
    bool inputs_kept_ = false;
    // Last, so that the dispositions are back before the group's storage
    // goes.
    cleanup_handler_guard handler_;
};

}  // namespace driver
