// The directory of one file job, opened once.  Every later operation on a
// name of the job (the input's open, the guard, the creation of the output,
// the removal of the input, the signal handler's clean-up) is relative to
// this handle, so that renaming or replacing a directory of the path during
// the job changes nothing about where the job writes or what it removes.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

#include "unique_fd.h"

namespace driver {

// Which file a name refers to.
struct file_id {
    dev_t dev = 0;
    ino_t ino = 0;
    friend bool operator==(const file_id&, const file_id&) = default;
};

inline file_id id_of(const struct stat& st) { return {st.st_dev, st.st_ino}; }

// The entry of a path inside its directory: what follows the last slash, or
// "." when nothing does (a name such as "d/" is the directory itself).  A
// path without a slash is its own entry, the empty one included.
const char* entry_of(const char* path);

// The directory part of `path` as reports show it: "." for a name without
// a slash, "/" for a name in the root.  Cut to fit `size` bytes.
void dir_part_of(const char* path, char* out, std::size_t size) noexcept;

// `path` with its entry replaced by `entry`: another name in the same
// directory, as reports show it.  Cut to fit `size` bytes.
void sibling_of(const char* path, const char* entry, char* out, std::size_t size) noexcept;

class job_dir {
  public:
    // Opens the directory that holds `path`; false with errno set on failure.
    // Opened for reading where it may be, so that it can be synced; a
    // directory that may be searched but not listed still serves.
    bool open_for(const char* path);

    int fd() const { return fd_.get(); }
    // Which directory it is; all zero if that can't be told.
    file_id id() const;
    // The descriptor, for a finished job that outlives this handle.
    unique_fd take() { return std::move(fd_); }

    // fstatat on the entry; `follow` decides about a final symbolic link.
    bool stat_entry(const char* entry, struct stat& st, bool follow) const;

  private:
    unique_fd fd_;
};

// What a job's input name referred to when the input was opened through it.
struct input_entry {
    // The entry itself (for a symbolic link, the link, which is what a
    // removal removes), provided the name still led to the opened file;
    // otherwise that file's own identity, which a name can only carry again
    // if it is that very file.
    file_id id;
    // The entry is the opened regular file itself, not a link to it: its
    // size and times tell whether it changed before it is removed.
    bool is_the_file = false;
};

// `opened` is the fstat of the descriptor opened through `entry`.
input_entry identify_input(const job_dir& dir, const char* entry, const struct stat& opened);

// True for input kinds that file jobs refuse: devices and sockets.
bool refused_kind(mode_t mode);

}  // namespace driver
