/* Loaded with LD_PRELOAD by the fault tests: a disk that reports that data it
 * accepted could not be written back.  Every way of waiting for the disk
 * (fsync, syncfs, sync_file_range) fails with EIO. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>

int fsync(int fd) {
    (void)fd;
    errno = EIO;
    return -1;
}

int syncfs(int fd) {
    (void)fd;
    errno = EIO;
    return -1;
}

int sync_file_range(int fd, __off64_t offset, __off64_t nbytes, unsigned int flags) {
    (void)fd;
    (void)offset;
    (void)nbytes;
    (void)flags;
    errno = EIO;
    return -1;
}
