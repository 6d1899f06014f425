#include "file_jobs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "cleanup.h"
#include "copy.h"
#include "job_dir.h"
#include "job_stdout.h"
#include "pending_removals.h"
#include "report.h"
#include "zpress/gzio.h"

namespace driver {
namespace {

constexpr std::size_t NAME_BUFFER_SIZE = 1024;
constexpr std::string_view SUFFIX = ".gz";

void check_name_fits(std::size_t derived_length, const char* name) {
    if (derived_length >= NAME_BUFFER_SIZE) fail(about_file::name_too_long, name);
}

// Devices and sockets are never read, let alone removed.  Checked before the
// open (opening some devices has effects of its own) and again on what was
// opened.
void refuse_unless_file(const struct stat& st, const char* name) {
    if (refused_kind(st.st_mode)) fail(about_file::not_a_file, name);
}

void refuse_by_name(const job_dir& dir, const char* entry, const char* name) {
    struct stat st;
    if (dir.stat_entry(entry, st, true)) refuse_unless_file(st, name);
}

// The input, and what its name referred to when it was opened.
struct opened_input {
    struct stat st;
    file_id entry_id;
};

// The output of a job that writes a file, from its creation until the input
// is removed.
struct output_file {
    int fd = -1;  // a descriptor of our own, kept past the copy loop's close
    output_record record{};
};

// Any existing entry, a dangling symbolic link included, stops the job
// unless "-f" is in force.  "-f" replaces the entry with a new file rather
// than writing through it (it may be a link to something else).
void guard_output(const job_dir& dir, const char* entry, const char* outname,
                  const options& opts) {
    struct stat st;
    if (!dir.stat_entry(entry, st, false)) return;
    if (!opts.force) fail(about_file::already_exists, outname);
    unlinkat(dir.fd(), entry, 0);
}

// An output is created never more accessible than its input, set-id bits
// dropped.
class creation_mask {
public:
    explicit creation_mask(mode_t input_mode) : saved_(umask(0)) {
        umask(saved_ | (~input_mode & 0777));
    }
    ~creation_mask() { umask(saved_); }
    creation_mask(const creation_mask&) = delete;
    creation_mask& operator=(const creation_mask&) = delete;

private:
    mode_t saved_;
};

// The input's owner keeps access and nobody else gains it: the output takes
// the input's owner and group where the process may give them (root), else
// its group alone; with neither, the output is for its owner only.  Done
// before any data reaches the file.
void share_ownership_with_input(int fd, const struct stat& in) {
    if (fchown(fd, in.st_uid, in.st_gid) == 0) return;
    if (fchown(fd, static_cast<uid_t>(-1), in.st_gid) == 0) return;
    struct stat st;
    if (fstat(fd, &st) == 0) fchmod(fd, st.st_mode & S_IRWXU);
}

// `created` is a descriptor of the file just created at `entry`.  Keeps a
// descriptor of it for the end of the job and lets the signal handler remove
// it.  Runs inside the cleanup window.
void adopt_output(output_file& out, int created, const job_dir& dir, const char* entry,
                  const char* outname, const struct stat& input) {
    out.fd = fcntl(created, F_DUPFD_CLOEXEC, 3);
    struct stat st;
    if (out.fd < 0 || fstat(out.fd, &st) != 0) die_perror(outname);
    share_ownership_with_input(out.fd, input);
    out.record = {dir.fd(), entry, id_of(st), outname};
    record_output(&out.record);
}

// The output is complete.  The input goes only when the output is durable
// and its name still refers to it, and when the input's name still refers to
// the entry that was opened: names in a shared directory can change under a
// running job, and removing anything else would lose data.  That happens
// later, for a group of jobs at once (see pending_removals.h).
void finish_job(output_file& out, const job_dir& dir, const char* in_entry, const char* inname,
                const opened_input& in) {
    record_output(nullptr);
    finished_job job;
    job.out_fd = out.fd;
    job.out_entry = out.record.entry;
    job.out_shown = out.record.shown;
    job.out_id = out.record.id;
    job.in_entry = in_entry;
    job.in_shown = inname;
    job.in_id = in.entry_id;
    job.dir_fd = fcntl(dir.fd(), F_DUPFD_CLOEXEC, 3);
    if (job.dir_fd < 0) die_perror(inname);
    defer_removal(std::move(job));
}

// Before a job starts: finished jobs must not wait on an input that may
// block, and must be done before this job touches one of their names.
// Runs before the input is opened: opening a FIFO already waits for a writer.
void settle_finished_jobs(const job_dir& dir, const char* in_entry, const char* out_entry) {
    struct stat st;
    if (!dir.stat_entry(in_entry, st, true) || !S_ISREG(st.st_mode)) complete_removals();
    complete_removals_if_pending(dir, in_entry);
    complete_removals_if_pending(dir, out_entry);
}

}  // namespace

void file_compress(const char* name, const options& opts) {
    char outname[NAME_BUFFER_SIZE];
    const std::size_t len = std::strlen(name);
    check_name_fits(len + SUFFIX.size(), name);
    std::memcpy(outname, name, len);
    std::memcpy(outname + len, SUFFIX.data(), SUFFIX.size());
    outname[len + SUFFIX.size()] = '\0';

    job_dir dir;
    if (!dir.open_for(name)) die_perror(name);
    const char* in_entry = entry_of(name);
    refuse_by_name(dir, in_entry, name);
    if (!opts.to_stdout) settle_finished_jobs(dir, in_entry, entry_of(outname));
    const int in_fd = openat(dir.fd(), in_entry, O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (in_fd < 0) die_perror(name);
    opened_input input{};
    if (fstat(in_fd, &input.st) != 0) die_perror(name);
    refuse_unless_file(input.st, name);
    std::FILE* in = fdopen(in_fd, "rb");
    if (in == nullptr) die_perror(name);

    if (opts.to_stdout) {
        gzstream::gz_handle* out = gz_stdout_for_job(opts.mode);
        if (out == nullptr) fail(about_file::cant_gzopen, outname);
        gz_compress(in, out);
        return;
    }

    input.entry_id = input_entry_id(dir, in_entry, in_fd);
    const char* out_entry = entry_of(outname);
    guard_output(dir, out_entry, outname, opts);
    output_file output;
    gzstream::gz_handle* out;
    {
        cleanup_window window;
        const creation_mask mask(input.st.st_mode);
        char exclusive_mode[8];
        std::snprintf(exclusive_mode, sizeof exclusive_mode, "%sx", opts.mode);
        int created;
        out = dir.open_by_name([&] { return gzstream::gzopen(out_entry, exclusive_mode); },
                               created);
        if (out == nullptr) {
            if (errno == EEXIST && !opts.force) fail(about_file::already_exists, outname);
            fail(about_file::cant_gzopen, outname);
        }
        // Without the descriptor the layer opened, the file could be neither
        // handed to the input's owner nor synced.
        if (created < 0) fail(about_file::cant_gzopen, outname);
        adopt_output(output, created, dir, out_entry, outname, input.st);
    }

    gz_compress(in, out, {out_entry, outname});
    finish_job(output, dir, in_entry, name, input);
}

void file_uncompress(const char* name, const options& opts) {
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

    job_dir dir;
    if (!dir.open_for(inname)) fail(about_file::cant_gzopen, inname);
    const char* in_entry = entry_of(inname);
    refuse_by_name(dir, in_entry, inname);
    if (!opts.to_stdout) settle_finished_jobs(dir, in_entry, entry_of(outname));
    int in_fd;
    gzstream::gz_handle* in =
        dir.open_by_name([&] { return gzstream::gzopen(in_entry, "rb"); }, in_fd);
    opened_input input{};
    if (in == nullptr || fstat(in_fd, &input.st) != 0) fail(about_file::cant_gzopen, inname);
    refuse_unless_file(input.st, inname);
    const stream_name in_name{in_entry, inname};

    if (opts.to_stdout) {
        std::FILE* out = stdout_for_job();
        if (out == nullptr) die_perror(name);
        gz_uncompress(in, out, in_name);
        return;
    }

    input.entry_id = input_entry_id(dir, in_entry, in_fd);
    const char* out_entry = entry_of(outname);
    guard_output(dir, out_entry, outname, opts);
    output_file output;
    std::FILE* out;
    {
        cleanup_window window;
        const creation_mask mask(input.st.st_mode);
        const int fd = openat(dir.fd(), out_entry,
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        out = fd >= 0 ? fdopen(fd, "wb") : nullptr;
        if (out == nullptr) {
            if (errno == EEXIST && !opts.force) fail(about_file::already_exists, outname);
            die_perror(name);
        }
        adopt_output(output, fd, dir, out_entry, outname, input.st);
    }

    gz_uncompress(in, out, in_name);
    finish_job(output, dir, in_entry, inname, input);
}

}  // namespace driver
