#include "job_dir.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "report.h"
#include "state.h"

namespace driver {
namespace {

constexpr std::size_t DIR_BUFFER_SIZE = 1024;

// The working directory of the process, to come back to after a name was
// opened inside a job's directory.  Opened once, before any job changes it.
int home_fd() {
    static const int fd = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    return fd;
}

}  // namespace

const char* entry_of(const char* path) {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) return path;
    return slash[1] != '\0' ? slash + 1 : ".";
}

job_dir::~job_dir() {
    if (fd_ >= 0) close(fd_);
}

bool job_dir::open_for(const char* path) {
    // The directory part keeps its last slash ("/" for "/name"); a path
    // without one is in the working directory.
    char dir[DIR_BUFFER_SIZE] = ".";
    if (const char* slash = std::strrchr(path, '/')) {
        const auto len = static_cast<std::size_t>(slash - path) + 1;
        if (len >= sizeof dir) {
            errno = ENAMETOOLONG;
            return false;
        }
        std::memcpy(dir, path, len);
        dir[len] = '\0';
    }
    // O_PATH: a directory that may be searched but not listed still serves.
    fd_ = open(dir, O_PATH | O_DIRECTORY | O_CLOEXEC);
    return fd_ >= 0;
}

bool job_dir::stat_entry(const char* entry, struct stat& st, bool follow) const {
    return fstatat(fd_, entry, &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
}

int job_dir::enter() const {
    if (home_fd() < 0) return -1;
    // The process has one thread: the next descriptor opened is the lowest
    // free one, which F_DUPFD finds.
    const int expected = fcntl(fd_, F_DUPFD, 0);
    if (expected < 0) return -1;
    close(expected);
    return fchdir(fd_) == 0 ? expected : -1;
}

void job_dir::leave() const {
    // Later names on the command line are relative to the old working
    // directory: going on from anywhere else would be worse than stopping.
    if (fchdir(home_fd()) != 0) die_perror(".");
}

int job_dir::descriptor_taken(int expected) {
    return fcntl(expected, F_GETFD) != -1 ? expected : -1;
}

file_id input_entry_id(const job_dir& dir, const char* entry, int fd) {
    struct stat opened, named;
    if (fstat(fd, &opened) != 0) return {};
    if (dir.stat_entry(entry, named, false)) {
        if (id_of(named) == id_of(opened)) return id_of(named);
        if (S_ISLNK(named.st_mode)) {
            struct stat target, again;
            if (dir.stat_entry(entry, target, true) && id_of(target) == id_of(opened) &&
                dir.stat_entry(entry, again, false) && id_of(again) == id_of(named))
                return id_of(named);
        }
    }
    return id_of(opened);
}

bool refused_kind(mode_t mode) {
    return S_ISCHR(mode) || S_ISBLK(mode) || S_ISSOCK(mode);
}

}  // namespace driver
