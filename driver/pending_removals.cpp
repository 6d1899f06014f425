#include "pending_removals.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "report.h"

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

// Never destroyed: the exit hook below may still need it after static
// objects have gone.
std::vector<finished_job>& pending() {
    static auto* const jobs = new std::vector<finished_job>;
    return *jobs;
}

file_id dir_id(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 ? id_of(st) : file_id{};
}

bool entry_id(int dir_fd, const std::string& entry, file_id& id) {
    struct stat st;
    if (fstatat(dir_fd, entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    id = id_of(st);
    return true;
}

// Starts the write-back of every output of the group before waiting for
// any: the kernel then writes them together, and the fsync of each output
// mostly finds its data written and its metadata committed along with the
// others'.
void start_write_back(const std::vector<finished_job>& jobs) {
    if (jobs.size() < 2) return;
    for (const finished_job& job : jobs) sync_file_range(job.out_fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

// The checks of one job after the sync; false when its output is not safe,
// in which case the input stays.
bool complete(const finished_job& job) {
    // A file system that can't sync at all (EINVAL) gives no stronger
    // promise to wait for; any other failure may have lost data.
    if (fsync(job.out_fd) != 0 && errno != EINVAL) {
        report(about_file::cant_sync, job.out_shown.c_str());
        return false;
    }
    file_id id;
    if (!entry_id(job.dir_fd, job.out_entry, id) || id != job.out_id) {
        report(about_file::output_lost, job.out_shown.c_str());
        return false;
    }
    // A name that is gone leaves nothing to remove; a name that now refers
    // to another entry is reported like a failed removal.
    if (!entry_id(job.dir_fd, job.in_entry, id)) {
        if (errno != ENOENT) report(about_file::cant_unlink, job.in_shown.c_str());
        return true;
    }
    if (id != job.in_id ||
        (unlinkat(job.dir_fd, job.in_entry.c_str(), 0) != 0 && errno != ENOENT))
        report(about_file::cant_unlink, job.in_shown.c_str());
    return true;
}

bool complete_group() {
    std::vector<finished_job> jobs;
    jobs.swap(pending());
    start_write_back(jobs);
    bool all_safe = true;
    for (finished_job& job : jobs) {
        all_safe = complete(job) && all_safe;
        close(job.out_fd);
        close(job.dir_fd);
    }
    return all_safe;
}

// A run that ends with an error still finishes the jobs that were done.
void complete_at_exit() {
    complete_group();
}

}  // namespace

void defer_removal(finished_job job) {
    static const bool hooked = std::atexit(complete_at_exit) == 0;
    static const std::size_t capacity = group_size();
    pending().push_back(std::move(job));
    if (!hooked || pending().size() >= capacity) complete_removals();
}

void complete_removals() {
    if (!complete_group()) std::exit(1);
}

void complete_removals_if_pending(const job_dir& dir, const char* entry) {
    if (pending().empty()) return;
    const file_id here = dir_id(dir.fd());
    for (const finished_job& job : pending()) {
        if ((job.in_entry == entry || job.out_entry == entry) && dir_id(job.dir_fd) == here) {
            complete_removals();
            return;
        }
    }
}

}  // namespace driver
