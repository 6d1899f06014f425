#include "file_jobs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "copy.h"
#include "streams.h"

namespace driver {
namespace {

constexpr std::string_view SUFFIX = ".gz";

// The name of standard output in the member headers written there.
constexpr const char* STDOUT_STREAM_NAME = "<fd:1>";

class compressing final : public file_direction {
  public:
    explicit compressing(const options& opts) : mode_(opts.mode) {}

    outcome derive_names(job_names& names) override {
        const std::size_t len = std::strlen(names.arg);
        if (len + SUFFIX.size() >= NAME_BUFFER_SIZE)
            return fail(about_file::name_too_long, names.arg);
        std::memcpy(names.buffer, names.arg, len);
        std::memcpy(names.buffer + len, SUFFIX.data(), SUFFIX.size());
        names.buffer[len + SUFFIX.size()] = '\0';
        names.input = names.arg;
        names.output = names.buffer;
        return outcome::done;
    }

    outcome input_unopenable(const job_names& names) override { return system_error(names.arg); }

    outcome open_input(unique_fd fd, const struct stat& st, const job_names& names) override {
        // A directory opens; only its first read fails, and that must come
        // before anything is written.
        if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;
            return system_error("fread");
        }
        in_.reset(fdopen(fd.get(), "rb"));
        if (!in_) return system_error(names.arg);
        fd.release();
        return outcome::done;
    }

    outcome output_uncreatable(const job_names& names) override {
        return fail(about_file::cant_gzopen, names.output);
    }

    // The stream is named after the output: its header stores the input's
    // base name, and its error texts name the output as the user gave it.
    outcome open_output(unique_fd fd, const job_names& names) override {
        return open_stream(std::move(fd), names.output, names);
    }

    // Each job's member goes out through a descriptor of its own, so that
    // closing the stream leaves standard output open for the next job.
    outcome open_stdout(const job_names& names) override {
        return open_stream(unique_fd(fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3)), STDOUT_STREAM_NAME,
                           names);
    }

    outcome copy(copy_buffers& buffers) override { return gz_compress(in_, out_, buffers); }

  private:
    outcome open_stream(unique_fd fd, const char* stream_name, const job_names& names) {
        if (fd) out_ = gz_writer(gzstream::gzdopen_named(fd.get(), stream_name, mode_), {fd.get()});
        if (!out_) return fail(about_file::cant_gzopen, names.output);
        fd.release();
        return outcome::done;
    }

    const char* mode_;
    stdio_stream in_;
    gz_writer out_;
};

class decompressing final : public file_direction {
  public:
    outcome derive_names(job_names& names) override {
        const std::size_t len = std::strlen(names.arg);
        const std::string_view whole(names.arg, len);
        const bool has_suffix = len > SUFFIX.size() && whole.ends_with(SUFFIX);
        if ((has_suffix ? len : len + SUFFIX.size()) >= NAME_BUFFER_SIZE)
            return fail(about_file::name_too_long, names.arg);
        std::memcpy(names.buffer, names.arg, len + 1);
        if (has_suffix) {
            names.buffer[len - SUFFIX.size()] = '\0';
            names.input = names.arg;
            names.output = names.buffer;
        } else {
            std::memcpy(names.buffer + len, SUFFIX.data(), SUFFIX.size() + 1);
            names.input = names.buffer;
            names.output = names.arg;
        }
        return outcome::done;
    }

    outcome input_unopenable(const job_names& names) override {
        return fail(about_file::cant_gzopen, names.input);
    }

    // The stream is named after the input as the user gave it, for its
    // error texts.  Input that cannot be read at all (a directory), or whose
    // first member header is bad, fails before any output exists.
    outcome open_input(unique_fd fd, const struct stat& /*st*/, const job_names& names) override {
        in_.reset(gzstream::gzdopen_named(fd.get(), names.input, "rb"));
        if (!in_) return fail(about_file::cant_gzopen, names.input);
        fd.release();
        int status;
        gzstream::gzerror(in_.get(), &status);
        if (status < 0) return fail_stream(in_.get());
        return outcome::done;
    }

    outcome output_uncreatable(const job_names& names) override { return system_error(names.arg); }

    outcome open_output(unique_fd fd, const job_names& names) override {
        out_.reset(fdopen(fd.get(), "wb"));
        if (!out_) return system_error(names.arg);
        fd.release();
        return outcome::done;
    }

    outcome open_stdout(const job_names& /*names*/) override {
        out_ = stdio_stream(stdout, {.keep_open = true});
        return outcome::done;
    }

    outcome copy(copy_buffers& buffers) override { return gz_uncompress(in_, out_, buffers); }

  private:
    gz_reader in_;
    stdio_stream out_;
};

}  // namespace

outcome file_compress(const char* name, file_run& run) {
    compressing direction(run.opts);
    return run_file_job(name, direction, run);
}

outcome file_uncompress(const char* name, file_run& run) {
    decompressing direction;
    return run_file_job(name, direction, run);
}

}  // namespace driver
