#include "report.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "handler_record.h"

namespace driver {
namespace {

const char* format_of(about_file what) {
    switch (what) {
        case about_file::already_exists:
            return "%s: %s already exists\n";
        case about_file::cant_gzopen:
            return "%s: can't gzopen %s\n";
        case about_file::cant_unlink:
            return "%s: can't unlink %s\n";
        case about_file::name_too_long:
            return "%s: %s: file name too long\n";
        case about_file::not_a_file:
            return "%s: %s is a device or a socket, not a file\n";
        case about_file::cant_sync:
            return "%s: can't fsync %s\n";
        case about_file::output_lost:
            return "%s: %s was removed or replaced while it was written; input kept\n";
        case about_file::input_changed:
            return "%s: %s changed after it was opened; input kept\n";
    }
    return "%s: %s\n";
}

// Collects a line and writes it with as few write() calls as its length
// allows; async-signal-safe.
class line_writer {
public:
    void put(const char* text, std::size_t len) noexcept {
        while (len > 0) {
            if (used_ == sizeof line_) flush();
            const std::size_t n = len < sizeof line_ - used_ ? len : sizeof line_ - used_;
            std::memcpy(line_ + used_, text, n);
            used_ += n;
            text += n;
            len -= n;
        }
    }
    void flush() noexcept {
        const char* p = line_;
        while (used_ > 0) {
            const ssize_t n = ::write(STDERR_FILENO, p, used_);
            if (n <= 0) break;  // nowhere to report to
            p += n;
            used_ -= static_cast<std::size_t>(n);
        }
        used_ = 0;
    }

private:
    char line_[512];
    std::size_t used_ = 0;
};

}  // namespace

outcome error(const char* message) {
    (void)std::fprintf(stderr, "%s: %s\n", handler_state.prog, message);
    return outcome::failed;
}

outcome system_error(const char* what) {
    std::perror(what);
    return outcome::failed;
}

void report(about_file what, const char* name) noexcept {
    // The format's first %s is the program name, the second the file's.
    const char* const args[] = {handler_state.prog, name};
    std::size_t next = 0;
    line_writer out;
    for (const char* f = format_of(what); *f != '\0';) {
        if (f[0] == '%' && f[1] == 's' && next < 2) {
            out.put(args[next], std::strlen(args[next]));
            ++next;
            f += 2;
            continue;
        }
        const char* end = f + 1;
        while (*end != '\0' && *end != '%') ++end;
        out.put(f, static_cast<std::size_t>(end - f));
        f = end;
    }
    out.flush();
}

outcome fail(about_file what, const char* name) {
    report(what, name);
    return outcome::failed;
}

outcome fail_stream(gzstream::gz_handle* stream) {
    int ignored;
    (void)std::fprintf(stderr, "%s: %s\n", handler_state.prog, gzstream::gzerror(stream, &ignored));
    return outcome::failed;
}

}  // namespace driver
