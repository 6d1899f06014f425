// The one piece of process-wide mutable state in the driver: what the signal
// handler reads.  A signal may arrive between any two steps of the main flow,
// so everything here is either set once before the first job, or an atomic
// pointer to something the main flow changes only while the clean-up signals
// are held back (see cleanup.h).
#pragma once

#include <atomic>

namespace driver {

struct output_record;
class finished_jobs;

struct handler_record {
    // The first argument, unchanged: it begins every diagnostic.  Set first
    // thing in a run.
    const char* prog = "zpress";
    // The output of the file job in progress, from its creation until the
    // job has either failed and removed it or joined the finished jobs.
    std::atomic<const output_record*> output{nullptr};
    // Jobs whose outputs are complete and whose inputs wait for removal.
    std::atomic<finished_jobs*> finished{nullptr};
};

extern handler_record handler_state;

static_assert(std::atomic<const output_record*>::is_always_lock_free);
static_assert(std::atomic<finished_jobs*>::is_always_lock_free);

}  // namespace driver
