#include "job_stdout.h"

#include <fcntl.h>
#include <unistd.h>

namespace driver {
namespace {

int spare = -1;
bool stdout_stream_used = false;

}  // namespace

void keep_stdout_for_jobs() {
    spare = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
}

gzstream::gz_handle* gz_stdout_for_job(const char* mode) {
    return gzstream::gzdopen(STDOUT_FILENO, mode);
}

std::FILE* stdout_for_job() {
    // The first job takes the process's own stdout stream; once a copy loop
    // has closed it, later jobs get a new stream on the restored descriptor.
    if (!stdout_stream_used) {
        stdout_stream_used = true;
        return stdout;
    }
    return fdopen(STDOUT_FILENO, "wb");
}

void restore_stdout_after_job() {
    if (spare >= 0) dup2(spare, STDOUT_FILENO);
}

}  // namespace driver
