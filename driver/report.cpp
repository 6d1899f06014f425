#include "report.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "state.h"

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
    }
    return "%s: %s\n";
}

}  // namespace

void error(const char* message) {
    std::fprintf(stderr, "%s: %s\n", prog, message);
    std::exit(1);
}

void die_perror(const char* what) {
    std::perror(what);
    std::exit(1);
}

void report(about_file what, const char* name) {
    std::fprintf(stderr, format_of(what), prog, name);
}

void fail(about_file what, const char* name) {
    report(what, name);
    std::exit(1);
}

void report_cant_unlink_from_handler(const char* name) noexcept {
    const char* parts[] = {prog, ": can't unlink ", name, "\n"};
    for (const char* part : parts) {
        if (write(STDERR_FILENO, part, std::strlen(part)) < 0) break;
    }
}

void fail_stream(gzstream::gz_handle* stream, stream_name name) {
    int ignored;
    const std::string_view text = gzstream::gzerror(stream, &ignored);
    if (!name.opened_as.empty() && text.starts_with(name.opened_as) &&
        text.substr(name.opened_as.size()).starts_with(": ")) {
        const std::string_view rest = text.substr(name.opened_as.size());
        std::fprintf(stderr, "%s: %s%.*s\n", prog, name.shown_as, static_cast<int>(rest.size()),
                     rest.data());
        std::exit(1);
    }
    std::fprintf(stderr, "%s: %.*s\n", prog, static_cast<int>(text.size()), text.data());
    std::exit(1);
}

}  // namespace driver
