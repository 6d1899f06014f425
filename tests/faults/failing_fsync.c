/* Loaded with LD_PRELOAD by the fault tests: a disk that reports that data it
 * accepted could not be written back.  Every fsync fails with EIO. */
#include <errno.h>

int fsync(int fd) {
    (void)fd;
    errno = EIO;
    return -1;
}
