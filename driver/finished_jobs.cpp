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
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return GROUP_SIZE;
    if (limit.rlim_cur <= DESCRIPTORS_FOR_A_JOB + 2) return 1;
    return std::min<std::size_t>(GROUP_SIZE, (limit.rlim_cur - DESCRIPTORS_FOR_A_JOB) / 2);
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

finished_jobs::finished_jobs() : capacity_(group_size()) { handler_state.finished.store(this); }

finished_jobs::~finished_jobs() { handler_state.finished.store(nullptr); }

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
        if (std::strcmp(job.in_entry, entry) != 0 && std::strcmp(job.out_entry, entry) != 0 &&
            std::strcmp(job.temp_entry, entry) != 0)
            continue;
        if (!here_known) {
            here = dir.id();
            here_known = true;
        }
        if (job.dir_id == here) return true;
    }
    return false;
}

// The output's data reaches the disk, and a replacement takes the name it
// replaces.  The output's name must still refer to it: names in a shared
// directory can change under a running job.
job_end finished_jobs::settle_output(const finished_job& job) noexcept {
    const int dir = job.dir.get();
    const bool replacing = job.temp_entry[0] != '\0';
    const char* const entry = replacing ? job.temp_entry : job.out_entry;
    char temp_shown[NAME_BUFFER_SIZE + TEMP_ENTRY_SIZE];
    const char* shown = job.out_name;
    if (replacing) {
        sibling_of(job.out_name, job.temp_entry, temp_shown, sizeof temp_shown);
        shown = temp_shown;
    }
    // Waiting for the output's own write-back reports an error of that file
    // alone, and costs no journal commit and no flush of the disk's cache:
    // the file system's sync does those once for the group.  A replacement
    // is synced whole before its rename, or a crash could leave the name
    // on a file whose size and blocks were never written.  A file system
    // that can't sync at all (EINVAL) gives no stronger promise to wait for;
    // any other failure may have lost data.
    const int out = job.output.get();
    const int synced = replacing
                           ? fsync(out)
                           : sync_file_range(out, 0, 0,
                                             SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                                 SYNC_FILE_RANGE_WAIT_AFTER);
    if (synced != 0 && errno != EINVAL) {
        report(about_file::cant_sync, job.out_name);
        remove_output(dir, entry, job.out_id, shown);
        return job_end::output_unsafe;
    }
    struct stat st;
    if (fstatat(dir, entry, &st, AT_SYMLINK_NOFOLLOW) != 0 || id_of(st) != job.out_id) {
        report(about_file::output_lost, job.out_name);
        return job_end::output_unsafe;
    }
    if (replacing && renameat(dir, entry, dir, job.out_entry) != 0) {
        report(about_file::cant_replace, job.out_name);
        remove_output(dir, entry, job.out_id, shown);
        return job_end::output_unsafe;
    }
    return job_end::done;
}

// Syncs the file system of every settled output once, through the
// descriptor of its job's directory: the outputs' sizes and blocks, their
// names and the renames of replacements are then on disk, after one
// journal commit and one flush of the disk's cache for the whole group.
// (A directory opened without read access is reached through the output.)
void finished_jobs::sync_file_systems() noexcept {
    for (std::size_t i = 0; i < count_; ++i) {
        finished_job& job = jobs_[i];
        if (job.end != job_end::done) continue;
        bool synced_before = false;
        for (std::size_t j = 0; j < i && !synced_before; ++j)
            synced_before = jobs_[j].dir_id.dev == job.dir_id.dev && jobs_[j].end == job_end::done;
        if (synced_before) continue;
        int result = syncfs(job.dir.get());
        if (result != 0 && errno == EBADF) result = syncfs(job.output.get());
        if (result == 0) continue;
        char shown[NAME_BUFFER_SIZE];
        dir_part_of(job.out_name, shown, sizeof shown);
        report(about_file::cant_sync, shown);
        for (std::size_t j = i; j < count_; ++j)
            if (jobs_[j].dir_id.dev == job.dir_id.dev) jobs_[j].end = job_end::output_unsafe;
    }
}

// The input goes only when its name still refers to the entry that was
// opened, unchanged: removing anything else would lose data.
job_end finished_jobs::remove_input(const finished_job& job) noexcept {
    const int dir = job.dir.get();
    struct stat st;
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

bool finished_jobs::complete_group() noexcept {
    for (std::size_t i = 0; i < count_; ++i) jobs_[i].end = settle_output(jobs_[i]);
    sync_file_systems();
    bool safe = true;
    for (std::size_t i = 0; i < count_; ++i) {
        finished_job& job = jobs_[i];
        if (job.end == job_end::done) job.end = remove_input(job);
        safe = safe && job.end != job_end::output_unsafe;
    }
    return safe;
}

outcome finished_jobs::complete() {
    if (count_ == 0) return outcome::done;
    // A signal now waits until the group is complete; the handler then
    // finds nothing left to do but to end the process.
    const cleanup_window window;
    const bool safe = complete_group();
    for (std::size_t i = 0; i < count_; ++i) {
        finished_job& job = jobs_[i];
        if (job.end == job_end::input_kept) inputs_kept_ = true;
        job.output.reset();
        job.dir.reset();
    }
    count_ = 0;
    return safe ? outcome::done : outcome::failed;
}

// The handler's writes to the slots are never read again: the process ends.
void finished_jobs::complete_in_handler() noexcept { (void)complete_group(); }

}  // namespace driver
