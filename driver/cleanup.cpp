#include "cleanup.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "report.h"

namespace driver {
namespace {

constexpr int kCleanupSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

// The handler reads the record through one pointer, read whole.
std::atomic<const output_record*> current_output{nullptr};
static_assert(std::atomic<const output_record*>::is_always_lock_free);

sigset_t cleanup_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kCleanupSignals) sigaddset(&set, sig);
    return set;
}

sigset_t saved_mask;

}  // namespace

cleanup_window::cleanup_window() {
    const sigset_t block = cleanup_signals();
    sigprocmask(SIG_BLOCK, &block, &saved_mask);
    struct sigaction sa {};
    sa.sa_handler = cleanup_handler;
    sigemptyset(&sa.sa_mask);
    for (int sig : kCleanupSignals) sigaction(sig, &sa, nullptr);
}

cleanup_window::~cleanup_window() {
    sigprocmask(SIG_SETMASK, &saved_mask, nullptr);
}

void record_output(const output_record* record) {
    current_output.store(record);
}

void cleanup_handler(int) {
    // Only async-signal-safe calls here: the signal may arrive anywhere.  A
    // name that no longer refers to the file the job created is someone
    // else's: it stays.
    const output_record* out = current_output.load();
    if (out != nullptr) {
        struct stat st;
        if (fstatat(out->dir_fd, out->entry, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            if (id_of(st) == out->id && unlinkat(out->dir_fd, out->entry, 0) != 0 &&
                errno != ENOENT)
                report_cant_unlink_from_handler(out->shown);
        } else if (errno != ENOENT) {
            report_cant_unlink_from_handler(out->shown);
        }
    }
    _exit(1);
}

}  // namespace driver
