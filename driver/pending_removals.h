// Inputs of finished file jobs, waiting for their outputs to reach the disk.
//
// An input may go only once its output is durable.  Syncing each output as
// its job ends costs a journal commit and a write-back of its own per file:
// on a run over many small files that was most of the work.  So the inputs
// of finished jobs wait in a group; at the group's end the write-back of all
// its outputs starts at once, and the fsync of each output then mostly waits
// for work already done.  Each output is still synced on its own descriptor,
// which also reports a write-back error of that file.
//
// A group is completed when it is full, before a job whose input may block
// (anything but a regular file: finished jobs must not wait on a slow
// writer), before a job that names a pending input or output, at the end of
// the run, and when the run ends early with an error.  A signal ends the run
// with the group's inputs kept beside their complete outputs.
#pragma once

#include <string>

#include "job_dir.h"

namespace driver {

// A file job whose output is complete; its input is still in place.
struct finished_job {
    int dir_fd = -1;  // the job's directory: its own descriptor, handed over
    int out_fd = -1;  // the output: its own descriptor, handed over
    std::string out_entry, out_shown;
    file_id out_id;
    std::string in_entry, in_shown;
    file_id in_id;
};

// Queues the job; its descriptors now belong to the queue.  Completes the
// group when it is full.
void defer_removal(finished_job job);

// Syncs the pending outputs and removes their inputs, as each job's checks
// allow.  Failures are reported; when any output could not be synced or was
// lost, the run ends here with status 1.
void complete_removals();

// Completes the pending group first when `entry` of the directory `dir` is a
// pending input or output.
void complete_removals_if_pending(const job_dir& dir, const char* entry);

}  // namespace driver
