#include "finished_jobs.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cleanup.h"
#include "handler_record.h"

namespace driver {
namespace {

// Two descriptors per job: a full group stays far below the usual limit of
// 1024 open files.  Under a lower limit the group shrinks, down to one job,
// leaving room for the descriptors a running job opens.
constexpr std::size_t GROUP_SIZE = 64;
constexpr rlim_t DESCRIPTORS_FOR_A_JOB = 32;

std::size_t group_size() {
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return GROUP_SIZE;
    if (limit.rlim_cur <= DESCRIPTORS_FOR_A_JOB + 2) return 1;
    return std::min<std::size_t>(GROUP_SIZE, (limit.rlim_cur - DESCRIPTORS_FOR_A_JOB) / 2);
}

file_id dir_id(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 ? id_of(st) : file_id{};
}

bool same_time(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The status-change time also moves when another name of the file goes (the
// run itself may remove one: another input, or an output name under "-f");
// fewer links with the same size and modification time change no data.
bool unchanged(const struct stat& now, const input_snapshot& then) {
    return now.st_size == then.size && same_time(now.st_mtim, then.mtime) &&
           (same_time(now.st_ctim, then.ctime) || now.st_nlink < then.links);
}

}  // namespace

input_snapshot snapshot_of(const struct stat& st) {
    return {st.st_size, st.st_mtim, st.st_ctim, st.st_nlink};
}

finished_jobs::finished_jobs() : capacity_(group_size()) {
    handler_state.finished.store(this);
}

finished_jobs::~finished_jobs() {
    handler_state.finished.store(nullptr);
}

void finished_jobs::prepare() {
    if (jobs_) return;
    jobs_ = std::make_unique<finished_job[]>(capacity_);
    handler_.install();
}

bool finished_jobs::add_filled_slot() {
    ++count_;
    return count_ >= capacity_;
}

bool finished_jobs::names(const job_dir& dir, const char* entry) const {
    file_id here{};
    bool here_known = false;
    for (std::size_t i = 0; i < count_; ++i) {
        const finished_job& job = jobs_[i];
        if (std::strcmp(job.in_entry, entry) != 0 && std::strcmp(job.out_entry, entry) != 0)
            continue;
        if (!here_known) {
            here = dir_id(dir.fd());
            here_known = true;
        }
        if (dir_id(job.dir.get()) == here) return true;
    }
    return false;
}

// Starts the write-back of every output of the group before waiting for
// any: the kernel then writes them together, and the fsync of each output
// mostly finds its data written and its metadata committed along with the
// others'.
void finished_jobs::start_write_back() const noexcept {
    if (count_ < 2) return;
    for (std::size_t i = 0; i < count_; ++i)
        sync_file_range(jobs_[i].output.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
}

// The input goes only when the output is durable and its name still refers
// to it, and when the input's name still refers to the entry that was
// opened, unchanged: names in a shared directory can change under a running
// job, and removing anything else would lose data.
finished_jobs::job_end finished_jobs::complete_job(const finished_job& job) noexcept {
    const int dir = job.dir.get();
    // A file system that can't sync at all (EINVAL) gives no stronger
    // promise to wait for; any other failure may have lost data.
    if (fsync(job.output.get()) != 0 && errno != EINVAL) {
        report(about_file::cant_sync, job.out_name);
        remove_output(dir, job.out_entry, job.out_id, job.out_name);
        return job_end::output_unsafe;
    }
    struct stat st;
    if (fstatat(dir, job.out_entry, &st, AT_SYMLINK_NOFOLLOW) != 0 || id_of(st) != job.out_id) {
        report(about_file::output_lost, job.out_name);
        return job_end::output_unsafe;
    }
    // A name that is gone leaves nothing to remove; a name that now refers
    // to another entry is reported like a failed removal.
    if (fstatat(dir, job.in_entry, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) report(about_file::cant_unlink, job.in_name);
        return job_end::done;
    }
    if (id_of(st) != job.in_id) {
        report(about_file::cant_unlink, job.in_name);
        return job_end::done;
    }
    // Data added or rewritten after the job opened the input is in the
    // input alone.
    if (job.check_changes && !unchanged(st, job.opened)) {
        report(about_file::input_changed, job.in_name);
        return job_end::input_kept;
    }
    if (unlinkat(dir, job.in_entry, 0) != 0 && errno != ENOENT)
        report(about_file::cant_unlink, job.in_name);
    return job_end::done;
}

outcome finished_jobs::complete() {
    if (count_ == 0) return outcome::done;
    // A signal now waits until the group is complete; the handler then
    // finds nothing left to do but to end the process.
    const cleanup_window window;
    start_write_back();
    bool safe = true;
    for (std::size_t i = 0; i < count_; ++i) {
        finished_job& job = jobs_[i];
        switch (complete_job(job)) {
            case job_end::done:
                break;
            case job_end::input_kept:
                inputs_kept_ = true;
                break;
            case job_end::output_unsafe:
                safe = false;
                break;
        }
        job.output.reset();
        job.dir.reset();
    }
    count_ = 0;
    return safe ? outcome::done : outcome::failed;
}

void finished_jobs::complete_in_handler() noexcept {
    start_write_back();
    for (std::size_t i = 0; i < count_; ++i) complete_job(jobs_[i]);
}

}  // namespace driver
