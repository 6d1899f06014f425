#include "file_job.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "access_acl.h"
#include "cleanup.h"
#include "job_dir.h"

namespace driver {
namespace {

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

// The output file from its creation until its job has finished: the signal
// handler knows it, and a job that fails removes it.
class created_output {
  public:
    created_output() = default;
    created_output(const created_output&) = delete;
    created_output& operator=(const created_output&) = delete;

    ~created_output() {
        if (!fd_) return;
        const cleanup_window window;
        remove_output(record_.dir_fd, record_.entry, record_.id, record_.shown);
        record_output(nullptr);
    }

    // Creates the file, never through an existing entry, with `mode` masked
    // by the umask.  False with errno set.
    bool create(const job_dir& dir, const char* entry, const char* shown, mode_t mode) {
        // The record goes out together with the file: a signal in between
        // would leave the file behind.
        const cleanup_window window;
        unique_fd fd(
            openat(dir.fd(), entry, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        struct stat st;
        if (!fd || fstat(fd.get(), &st) != 0) return false;
        fd_ = std::move(fd);
        record_ = {dir.fd(), entry, id_of(st), shown};
        record_output(&record_);
        return true;
    }

    // Creates a file to replace `shown`'s existing entry, under a temporary
    // name of the same directory; the finished job renames it over that
    // entry once it is durable.  False with errno set.
    bool create_replacement(const job_dir& dir, const char* shown, mode_t mode) {
        for (int attempt = 0; attempt < 64; ++attempt) {
            make_temp_entry(temp_entry_);
            sibling_of(shown, temp_entry_, temp_shown_, sizeof temp_shown_);
            if (create(dir, temp_entry_, temp_shown_, mode)) return true;
            if (errno != EEXIST) break;
        }
        temp_entry_[0] = '\0';
        return false;
    }

    int fd() const { return fd_.get(); }
    file_id id() const { return record_.id; }
    // The temporary name of a replacement, else empty.
    const char (&temp_entry() const)[TEMP_ENTRY_SIZE] { return temp_entry_; }

    // The job is finished: its descriptor moves on, and a signal no longer
    // removes the file.  Call inside a cleanup_window.
    unique_fd hand_over() {
        record_output(nullptr);
        return std::move(fd_);
    }

  private:
    // ".zp" and six letters or digits, from the kernel's random source or,
    // failing that, the clock.
    static void make_temp_entry(char (&entry)[TEMP_ENTRY_SIZE]) {
        static constexpr char DIGITS[] =
            "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
        unsigned char random[6];
        if (getrandom(random, sizeof random, GRND_NONBLOCK) != sizeof random) {
            struct timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            auto bits = static_cast<unsigned long>(now.tv_nsec) ^
                        (static_cast<unsigned long>(getpid()) << 20);
            for (unsigned char& r : random) {
                r = static_cast<unsigned char>(bits);
                bits = bits * 6364136223846793005UL + 1442695040888963407UL;
            }
        }
        std::memcpy(entry, ".zp", 3);
        for (std::size_t i = 0; i < sizeof random; ++i)
            entry[3 + i] = DIGITS[random[i] % (sizeof DIGITS - 1)];
        entry[3 + sizeof random] = '\0';
    }

    unique_fd fd_;
    output_record record_{};
    char temp_entry_[TEMP_ENTRY_SIZE] = {};
    char temp_shown_[NAME_BUFFER_SIZE + TEMP_ENTRY_SIZE];
};

// Both names were checked against the buffer's size when they were derived;
// the copy is bounded all the same.
void copy_name(char (&to)[NAME_BUFFER_SIZE], const char* from) {
    const std::size_t len = std::min(std::strlen(from), sizeof to - 1);
    std::memcpy(to, from, len);
    to[len] = '\0';
}

// The output is complete: the job joins the finished jobs, which own its
// directory and output from now on.
outcome finish_job(const job_names& names, job_dir& dir, created_output& output,
                   const input_entry& input, const struct stat& opened, finished_jobs& finished) {
    finished_job& job = finished.next_slot();
    copy_name(job.in_name, names.input);
    copy_name(job.out_name, names.output);
    job.in_entry = entry_of(job.in_name);
    job.out_entry = entry_of(job.out_name);
    std::memcpy(job.temp_entry, output.temp_entry(), TEMP_ENTRY_SIZE);
    job.dir_id = dir.id();
    job.in_id = input.id;
    job.out_id = output.id();
    job.check_changes = input.is_the_file;
    job.opened = snapshot_of(opened);
    // The output's write-back starts now, while later jobs run: the group's
    // sync then mostly finds it done.
    sync_file_range(output.fd(), 0, 0, SYNC_FILE_RANGE_WRITE);
    bool full;
    {
        const cleanup_window window;
        job.dir = dir.take();
        job.output = output.hand_over();
        full = finished.add_filled_slot();
    }
    return full ? finished.complete() : outcome::done;
}

}  // namespace

outcome run_file_job(const char* arg, file_direction& direction, file_run& run) {
    const options& opts = run.opts;
    job_names names;
    names.arg = arg;
    if (direction.derive_names(names) == outcome::failed) return outcome::failed;

    job_dir dir;
    if (!dir.open_for(names.input)) return direction.input_unopenable(names);
    const char* const in_entry = entry_of(names.input);
    const char* const out_entry = entry_of(names.output);

    // Devices and sockets are never read, let alone removed.  Checked before
    // the open (opening some devices has effects of its own) and again on
    // what was opened.
    struct stat named;
    const bool known = dir.stat_entry(in_entry, named, true);
    if (known && refused_kind(named.st_mode)) return fail(about_file::not_a_file, names.input);
    // Finished jobs must not wait on an input that may block, and must be
    // done before this job touches one of their names.  Before the open:
    // opening a FIFO already waits for a writer.
    if (!opts.to_stdout &&
        (!known || !S_ISREG(named.st_mode) || run.finished.names(dir, in_entry) ||
         run.finished.names(dir, out_entry)) &&
        run.finished.complete() == outcome::failed)
        return outcome::failed;

    unique_fd in_fd(openat(dir.fd(), in_entry, O_RDONLY | O_NOCTTY | O_CLOEXEC));
    struct stat opened;
    if (!in_fd || fstat(in_fd.get(), &opened) != 0) return direction.input_unopenable(names);
    if (refused_kind(opened.st_mode)) return fail(about_file::not_a_file, names.input);
    const input_entry input =
        opts.to_stdout ? input_entry{} : identify_input(dir, in_entry, opened);
    // Read while the job still holds the input's descriptor.
    access_acl acl;
    if (!opts.to_stdout) acl.read_from(in_fd.get());
    if (direction.open_input(std::move(in_fd), opened, names) == outcome::failed)
        return outcome::failed;

    if (opts.to_stdout)
        return direction.open_stdout(names) == outcome::failed ? outcome::failed
                                                               : direction.copy(run.buffers);

    // Any existing entry, a dangling symbolic link included, stops the job
    // (the exclusive creation finds it) unless "-f" is in force.  Then the
    // output is written under a temporary name and takes the entry's place
    // only once the job has succeeded and the output is durable, so that a
    // job that fails leaves the entry as it was.  The entry is replaced,
    // never written through: it may be a link to something else.
    run.finished.prepare();
    // Never more accessible than the input, set-id bits dropped.
    const mode_t mode = opened.st_mode & 0666;
    created_output output;
    if (!output.create(dir, out_entry, names.output, mode)) {
        if (errno != EEXIST) return direction.output_uncreatable(names);
        if (!opts.force) return fail(about_file::already_exists, names.output);
        // A file can't take the place of a directory.
        struct stat existing;
        if (dir.stat_entry(out_entry, existing, false) && S_ISDIR(existing.st_mode)) {
            errno = EEXIST;
            return direction.output_uncreatable(names);
        }
        if (!output.create_replacement(dir, names.output, mode))
            return direction.output_uncreatable(names);
    }
    acl.give_to(output.fd());
    share_ownership_with_input(output.fd(), opened);
    // The stream gets a descriptor of its own: the job keeps the output's
    // for its sync, after the stream has closed.
    unique_fd stream_fd(fcntl(output.fd(), F_DUPFD_CLOEXEC, 3));
    if (!stream_fd) return direction.output_uncreatable(names);
    if (direction.open_output(std::move(stream_fd), names) == outcome::failed ||
        direction.copy(run.buffers) == outcome::failed)
        return outcome::failed;
    return finish_job(names, dir, output, input, opened, run.finished);
}

}  // namespace driver
