#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include "cli.h"

namespace {

// With standard error closed, the first file opened would take descriptor 2
// and diagnostics would land inside it.
void keep_stderr_away_from_files() {
    if (fcntl(STDERR_FILENO, F_GETFD) != -1) return;
    const int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (fd >= 0 && fd != STDERR_FILENO) {
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
}

}  // namespace

// What belongs to the process as a whole is set here, not in driver::run(),
// which a host program may call too.
int main(int argc, char** argv) {
    if (argc > 0 && argv[0] != nullptr) driver::set_program_name(argv[0]);
    keep_stderr_away_from_files();
    // Every file job allocates and frees the same engine state, a few hundred
    // KiB.  Handing it back to the system after each job and faulting it in
    // again for the next costs system calls and page faults per file.
    mallopt(M_TRIM_THRESHOLD, 4 << 20);
    return driver::run(argc, argv, driver::filter_rights::dropped);
}
