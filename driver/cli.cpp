#include "cli.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "file_jobs.h"
#include "pending_removals.h"
#include "filters.h"
#include "job_stdout.h"
#include "state.h"
#include "zpress/gzio.h"

namespace driver {

const char* prog = "zpress";

namespace {

// With standard error closed, the first file opened would take descriptor 2
// and diagnostics would land inside it.
void keep_stderr_away_from_files() {
    if (fcntl(STDERR_FILENO, F_GETFD) != -1) return;
    const int fd = open("/dev/null", O_WRONLY);
    if (fd >= 0 && fd != STDERR_FILENO) {
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
}

bool is_level_option(const char* arg) {
    return arg[0] == '-' && arg[1] >= '1' && arg[1] <= '9' && arg[2] == '\0';
}

}  // namespace

int run(int argc, char** argv) {
    if (argc > 0 && argv[0] != nullptr) prog = argv[0];
    keep_stderr_away_from_files();

    options opts;
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
            std::printf("usage: %s [-cdfhV19] [file ...]\n", prog);
            return 0;
        } else if (std::strcmp(arg, "-V") == 0) {
            std::printf("%s, based on zlib %s\n", prog, gzstream::engine_version());
            return 0;
        } else if (is_level_option(arg)) {
            opts.mode[2] = arg[1];
        } else {
            break;  // the first file name ends the options
        }
    }

    if (i < argc) {
        if (opts.to_stdout) keep_stdout_for_jobs();
        for (; i < argc; ++i) {
            if (opts.decompress)
                file_uncompress(argv[i], opts);
            else
                file_compress(argv[i], opts);
            if (opts.to_stdout) restore_stdout_after_job();
        }
        complete_removals();
        return 0;
    }
    if (opts.decompress)
        decompress_filter();
    else
        compress_filter(opts.mode);
    return 0;
}

}  // namespace driver
