#include "streams.h"

#include <fcntl.h>
#include <unistd.h>

namespace driver {

void gz_writer_discarder::operator()(gzstream::gz_handle* stream) const noexcept {
    if (null_device >= 0) {
        dup2(null_device, fd);
    } else if (const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC); null_fd >= 0) {
        dup2(null_fd, fd);
        close(null_fd);
    }
    gzstream::gzclose(stream);
}

}  // namespace driver
