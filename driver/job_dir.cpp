#include "job_dir.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "state.h"

namespace driver {

const char* entry_of(const char* path) {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) return path;
    return slash[1] != '\0' ? slash + 1 : ".";
}

namespace {

void copy_cut(char* out, std::size_t size, const char* from, std::size_t len) noexcept {
    if (size == 0) return;
    if (len >= size) len = size - 1;
    std::memcpy(out, from, len);
    out[len] = '\0';
}

}  // namespace

void dir_part_of(const char* path, char* out, std::size_t size) noexcept {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) return copy_cut(out, size, ".", 1);
    copy_cut(out, size, path, slash == path ? 1 : static_cast<std::size_t>(slash - path));
}

void sibling_of(const char* path, const char* entry, char* out, std::size_t size) noexcept {
    const char* slash = std::strrchr(path, '/');
    const std::size_t keep = slash == nullptr ? 0 : static_cast<std::size_t>(slash - path) + 1;
    copy_cut(out, size, path, keep);
    const std::size_t used = std::strlen(out);
    copy_cut(out + used, size - used, entry, std::strlen(entry));
}

bool job_dir::open_for(const char* path) {
    // The directory part keeps its last slash ("/" for "/name"); a path
    // without one is in the working directory.
    char dir[NAME_BUFFER_SIZE] = ".";
    if (const char* slash = std::strrchr(path, '/')) {
        const auto len = static_cast<std::size_t>(slash - path) + 1;
        if (len >= sizeof dir) {
            errno = ENAMETOOLONG;
            return false;
        }
        std::memcpy(dir, path, len);
        dir[len] = '\0';
    }
    fd_.reset(open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd_ && errno == EACCES) fd_.reset(open(dir, O_PATH | O_DIRECTORY | O_CLOEXEC));
    return static_cast<bool>(fd_);
}

file_id job_dir::id() const {
    struct stat st;
    return fstat(fd_.get(), &st) == 0 ? id_of(st) : file_id{};
}

bool job_dir::stat_entry(const char* entry, struct stat& st, bool follow) const {
    return fstatat(fd_.get(), entry, &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
}

input_entry identify_input(const job_dir& dir, const char* entry, const struct stat& opened) {
    struct stat named;
    if (dir.stat_entry(entry, named, false)) {
        if (id_of(named) == id_of(opened)) return {id_of(named), S_ISREG(named.st_mode)};
        if (S_ISLNK(named.st_mode)) {
            struct stat target, again;
            if (dir.stat_entry(entry, target, true) && id_of(target) == id_of(opened) &&
                dir.stat_entry(entry, again, false) && id_of(again) == id_of(named))
                return {id_of(named), false};
        }
    }
    return {id_of(opened), S_ISREG(opened.st_mode)};
}

bool refused_kind(mode_t mode) { return S_ISCHR(mode) || S_ISBLK(mode) || S_ISSOCK(mode); }

}  // namespace driver
