#include "cli.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
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

// The usage and version lines are the run's whole result: a full disk or a
// closed standard output fails the run.  Some file systems (NFS) report a
// failed write only when a descriptor of the file is closed; a duplicate is
// closed, so that standard output stays open for a host program.
int finish_stdout() {
    bool written = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    if (written) {
        const int fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
        written = fd < 0 || close(fd) == 0;
    }
    if (written) return 0;
    char message[128];
    (void)std::snprintf(message, sizeof message, "can't write standard output: %s",
                        std::strerror(errno));
    (void)error(message);
    return 1;
}

bool is_level_option(const char* arg) {
    return arg[0] == '-' && arg[1] >= '1' && arg[1] <= '9' && arg[2] == '\0';
}

// One job per name, in order, up to the first that fails.  However the run
// ends, the jobs that finished are completed.
int run_file_jobs(char** names, int count, const options& opts, copy_buffers& buffers) {
    finished_jobs finished;
    file_run jobs{opts, buffers, finished};
    outcome result = outcome::done;
    for (int i = 0; i < count && result == outcome::done; ++i)
        result = opts.decompress ? file_uncompress(names[i], jobs) : file_compress(names[i], jobs);
    if (finished.complete() == outcome::failed) result = outcome::failed;
    return result == outcome::failed || finished.inputs_kept() ? 1 : 0;
}

}  // namespace

void set_program_name(const char* name) { handler_state.prog = name; }

int run(int argc, char** argv, filter_rights rights) {
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
            (void)std::printf("usage: %s [-cdfhV19] [file ...]\n", handler_state.prog);
            return finish_stdout();
        } else if (std::strcmp(arg, "-V") == 0) {
            (void)std::printf("%s, based on zlib %s\n", handler_state.prog,
                              gzstream::engine_version());
            return finish_stdout();
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
