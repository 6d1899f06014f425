#include "cleanup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>

#include "finished_jobs.h"
#include "handler_record.h"
#include "report.h"

namespace driver {

handler_record handler_state;

namespace {

constexpr int kCleanupSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

sigset_t cleanup_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kCleanupSignals) sigaddset(&set, sig);
    return set;
}

// Removes the recorded output, completes the finished jobs and ends the
// process with status 1.
void cleanup_handler(int /*signal*/) {
    // Only async-signal-safe calls from here on: the signal may have come
    // anywhere in the main flow.
    if (const output_record* out = handler_state.output.load())
        remove_output(out->dir_fd, out->entry, out->id, out->shown);
    if (finished_jobs* finished = handler_state.finished.load()) finished->complete_in_handler();
    _exit(1);
}

}  // namespace

cleanup_window::cleanup_window() {
    const sigset_t block = cleanup_signals();
    sigprocmask(SIG_BLOCK, &block, &saved_);
}

cleanup_window::~cleanup_window() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }

void cleanup_handler_guard::install() {
    if (installed_) return;
    installed_ = true;
    struct sigaction sa {};
    sa.sa_handler = cleanup_handler;
    // One clean-up at a time: a second signal waits, and the first one's
    // handler ends the process.
    sa.sa_mask = cleanup_signals();
    static_assert(std::size(kCleanupSignals) == COUNT);
    for (int i = 0; i < COUNT; ++i) {
        const int sig = kCleanupSignals[i];
        if (sigaction(sig, nullptr, &found_[i]) != 0) continue;
        if ((found_[i].sa_flags & SA_SIGINFO) == 0 && found_[i].sa_handler == SIG_IGN) continue;
        replaced_[i] = sigaction(sig, &sa, nullptr) == 0;
    }
}

cleanup_handler_guard::~cleanup_handler_guard() {
    for (int i = 0; i < COUNT; ++i)
        if (replaced_[i]) sigaction(kCleanupSignals[i], &found_[i], nullptr);
}

void record_output(const output_record* record) { handler_state.output.store(record); }

void remove_output(int dir_fd, const char* entry, file_id id, const char* shown) noexcept {
    struct stat st;
    if (fstatat(dir_fd, entry, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (id_of(st) == id && unlinkat(dir_fd, entry, 0) != 0 && errno != ENOENT)
            report(about_file::cant_unlink, shown);
    } else if (errno != ENOENT) {
        report(about_file::cant_unlink, shown);
    }
}

}  // namespace driver
