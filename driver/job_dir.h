// The directory of one file job, opened once.  Every later operation on a
// name of the job (the guard, the creation of the output, the removal of the
// input, the signal handler's clean-up) is relative to this handle, so that
// renaming or replacing a directory of the path during the job changes
// nothing about where the job writes or what it removes.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstddef>

namespace driver {

// Which file a name refers to.
struct file_id {
    dev_t dev = 0;
    ino_t ino = 0;
    friend bool operator==(const file_id&, const file_id&) = default;
};

inline file_id id_of(const struct stat& st) {
    return {st.st_dev, st.st_ino};
}

// The entry of a path inside its directory: what follows the last slash, or
// "." when nothing does (a name such as "d/" is the directory itself).  A
// path without a slash is its own entry, the empty one included.
const char* entry_of(const char* path);

class job_dir {
public:
    job_dir() = default;
    job_dir(const job_dir&) = delete;
    job_dir& operator=(const job_dir&) = delete;
    ~job_dir();

    // Opens the directory that holds `path`; false with errno set on failure.
    bool open_for(const char* path);

    int fd() const { return fd_; }

    // fstatat on the entry; `follow` decides about a final symbolic link.
    bool stat_entry(const char* entry, struct stat& st, bool follow) const;

    // Runs `open`, which opens `entry` through a layer that takes names (the
    // gzip stream layer keeps the name for its headers and its error texts),
    // so that the name is resolved inside this directory.  Gives the layer's
    // result; `taken` receives the descriptor the layer opened, or -1.
    template <typename Open>
    auto open_by_name(Open open, int& taken) const {
        const int expected = enter();
        auto handle = expected >= 0 ? open() : nullptr;
        const int saved_errno = errno;
        leave();
        taken = handle ? descriptor_taken(expected) : -1;
        errno = saved_errno;
        return handle;
    }

private:
    // Makes the job's directory the working directory; returns the
    // descriptor that the next open will take, or -1.
    int enter() const;
    // Back to the working directory of the process.
    void leave() const;
    static int descriptor_taken(int expected);

    int fd_ = -1;
};

// What a job's input name referred to when the input was opened through it:
// the entry itself (for a symbolic link, the link, which is what a removal
// removes), provided the name still led to the file that `fd` holds open;
// otherwise that file's own identity, which a name can only carry again if it
// is that very file.
file_id input_entry_id(const job_dir& dir, const char* entry, int fd);

// True for input kinds that file jobs refuse: devices and sockets.
bool refused_kind(mode_t mode);

}  // namespace driver
