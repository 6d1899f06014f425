#include "file_jobs.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "copy.h"
#include "state.h"
#include "zpress/gzio.h"

namespace driver {
namespace {

constexpr std::size_t NAME_BUFFER_SIZE = 1024;
constexpr std::string_view SUFFIX = ".gz";
constexpr int kCleanupSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

int stdout_spare = -1;
bool stdout_stream_used = false;

[[noreturn]] void fail(const char* format, const char* name) {
    std::fprintf(stderr, format, prog, name);
    std::exit(1);
}

void check_name_fits(std::size_t derived_length, const char* name) {
    if (derived_length >= NAME_BUFFER_SIZE) fail("%s: %s: file name too long\n", name);
}

// The guard: any existing entry, a dangling symbolic link included, stops the
// job unless "-f" is in force.
void guard_output(const char* outname) {
    struct stat st;
    if (lstat(outname, &st) != 0) return;
    if (!force_overwrite) fail("%s: %s already exists\n", outname);
    // "-f" replaces the entry with a new file rather than writing through it
    // (it may be a symbolic link or a hard link to something else).
    unlink(outname);
}

void install_cleanup_handler() {
    struct sigaction sa {};
    sa.sa_handler = cleanup_handler;
    sigemptyset(&sa.sa_mask);
    for (int sig : kCleanupSignals) sigaction(sig, &sa, nullptr);
}

// Creates the output exclusively, never more accessible than the input, and
// records it for the signal handler.  Signals are held back meanwhile so that
// the handler can only ever remove a file this job created.
template <typename Open>
auto create_output(const char* outname, mode_t input_mode, Open open) {
    sigset_t block, saved;
    sigemptyset(&block);
    for (int sig : kCleanupSignals) sigaddset(&block, sig);
    sigprocmask(SIG_BLOCK, &block, &saved);

    install_cleanup_handler();
    outfile_pname = outname;
    const mode_t saved_mask = umask(0);
    umask(saved_mask | (~input_mode & 0777));
    auto out = open();
    const int open_errno = errno;
    umask(saved_mask);
    if (!out) outfile_pname = nullptr;

    sigprocmask(SIG_SETMASK, &saved, nullptr);
    errno = open_errno;
    return out;
}

[[noreturn]] void report_create_failure(const char* outname, const char* failure_format) {
    if (errno == EEXIST && !force_overwrite) fail("%s: %s already exists\n", outname);
    fail(failure_format, outname);
}

// The input is gone only after its output is complete; a failed removal is
// reported and the run goes on.
void remove_input(const char* inname) {
    if (unlink(inname) != 0 && errno != ENOENT)
        std::fprintf(stderr, "%s: can't unlink %s\n", prog, inname);
}

std::FILE* stdout_stream() {
    if (!stdout_stream_used) {
        stdout_stream_used = true;
        return stdout;
    }
    return fdopen(STDOUT_FILENO, "wb");
}

mode_t permissions_of(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 ? st.st_mode & 0777 : 0600;
}

mode_t permissions_of(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 ? st.st_mode & 0777 : 0600;
}

}  // namespace

void file_compress(const char* name, const char* mode) {
    char outname[NAME_BUFFER_SIZE];
    const std::size_t len = std::strlen(name);
    check_name_fits(len + SUFFIX.size(), name);
    std::memcpy(outname, name, len);
    std::memcpy(outname + len, SUFFIX.data(), SUFFIX.size());
    outname[len + SUFFIX.size()] = '\0';

    std::FILE* in = std::fopen(name, "rb");
    if (in == nullptr) {
        std::perror(name);
        std::exit(1);
    }

    gzstream::gz_handle* out;
    if (outfile_stdout) {
        out = gzstream::gzdopen(STDOUT_FILENO, mode);
        if (out == nullptr) fail("%s: can't gzopen %s\n", outname);
    } else {
        guard_output(outname);
        char exclusive_mode[8];
        std::snprintf(exclusive_mode, sizeof exclusive_mode, "%sx", mode);
        out = create_output(outname, permissions_of(fileno(in)),
                            [&] { return gzstream::gzopen(outname, exclusive_mode); });
        if (out == nullptr) report_create_failure(outname, "%s: can't gzopen %s\n");
    }

    gz_compress(in, out);
    if (!outfile_stdout) {
        outfile_pname = nullptr;
        remove_input(name);
    }
}

void file_uncompress(const char* name) {
    char buf[NAME_BUFFER_SIZE];
    const std::size_t len = std::strlen(name);
    const std::string_view whole(name, len);
    const bool has_suffix = len > SUFFIX.size() && whole.ends_with(SUFFIX);
    check_name_fits(has_suffix ? len : len + SUFFIX.size(), name);
    std::memcpy(buf, name, len + 1);

    const char* inname;
    const char* outname;
    if (has_suffix) {
        buf[len - SUFFIX.size()] = '\0';
        inname = name;
        outname = buf;
    } else {
        std::memcpy(buf + len, SUFFIX.data(), SUFFIX.size() + 1);
        inname = buf;
        outname = name;
    }

    gzstream::gz_handle* in = gzstream::gzopen(inname, "rb");
    if (in == nullptr) fail("%s: can't gzopen %s\n", inname);

    std::FILE* out;
    if (outfile_stdout) {
        out = stdout_stream();
        if (out == nullptr) {
            std::perror(name);
            std::exit(1);
        }
    } else {
        guard_output(outname);
        out = create_output(outname, permissions_of(inname),
                            [&] { return std::fopen(outname, "wbx"); });
        if (out == nullptr) {
            if (errno == EEXIST && !force_overwrite) fail("%s: %s already exists\n", outname);
            std::perror(name);
            std::exit(1);
        }
    }

    gz_uncompress(in, out);
    if (!outfile_stdout) {
        outfile_pname = nullptr;
        remove_input(inname);
    }
}

void cleanup_handler(int) {
    // Only async-signal-safe calls here: the signal may arrive anywhere.
    const char* name = outfile_pname;
    if (name != nullptr && unlink(name) != 0 && errno != ENOENT) {
        const char* parts[] = {prog, ": can't unlink ", name, "\n"};
        for (const char* part : parts) {
            if (write(STDERR_FILENO, part, std::strlen(part)) < 0) break;
        }
    }
    _exit(1);
}

void keep_stdout_for_jobs() {
    stdout_spare = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
}

void restore_stdout_after_job() {
    if (stdout_spare >= 0) dup2(stdout_spare, STDOUT_FILENO);
}

}  // namespace driver
