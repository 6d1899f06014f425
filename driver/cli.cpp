#include "cli.h"

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "file_jobs.h"
#include "filters.h"
#include "finished_jobs.h"
#include "handler_record.h"
#include "state.h"
#include "zpress/gzio.h"

namespace driver {
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

bool is_level_option(const char* arg) {
    return arg[0] == '-' && arg[1] >= '1' && arg[1] <= '9' && arg[2] == '\0';
}

// One job per name, in order, up to the first that fails.  However the run
// ends, the jobs that finished are completed.
int run_file_jobs(char** names, int count, const options& opts, copy_buffers& buffers) {
    // Every job allocates and frees the same engine state, a few hundred
    // KiB.  Handing it back to the system after each job and faulting it in
    // again for the next costs system calls and page faults per file.
    mallopt(M_TRIM_THRESHOLD, 4 << 20);
    finished_jobs finished;
    file_run jobs{opts, buffers, finished};
    outcome result = outcome::done;
    for (int i = 0; i < count && result == outcome::done; ++i)
        result = opts.decompress ? file_uncompress(names[i], jobs) : file_compress(names[i], jobs);
    if (finished.complete() == outcome::failed) result = outcome::failed;
    return result == outcome::failed || finished.inputs_kept() ? 1 : 0;
}

}  // namespace

int run(int argc, char** argv, filter_rights rights) {
    if (argc > 0 && argv[0] != nullptr) handler_state.prog = argv[0];
    keep_stderr_away_from_files();

    options opts;
    opts.confine = rights == filter_rights::dropped;
    int i = 1;
    for (; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "-d") == 0) {
            opts.decompress = true;
        } else if (std::strcmp(arg, "-c") == 0) {
            opts.to_stdout = true;
        } else if (std::strcmp(arg, "-f") == 0) {
            opts.force = true;
        } else if (std::strcmp(arg, "-h") == 0) {
            std::printf("usage: %s [-cdfhV19] [file ...]\n", handler_state.prog);
            return 0;
        } else if (std::strcmp(arg, "-V") == 0) {
            std::printf("%s, based on zlib %s\n", handler_state.prog, gzstream::engine_version());
            return 0;
        } else if (is_level_option(arg)) {
            opts.mode[2] = arg[1];
        } else {
            break;  // the first file name ends the options
        }
    }

    const auto buffers = std::make_unique_for_overwrite<copy_buffers>();
    if (i < argc) return run_file_jobs(argv + i, argc - i, opts, *buffers);
    const outcome result =
        opts.decompress ? decompress_filter(opts, *buffers) : compress_filter(opts, *buffers);
    return result == outcome::failed ? 1 : 0;
}

}  // namespace driver
