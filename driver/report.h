// Failure reports: one line on standard error that begins with the program
// name.  Every message of the driver is printed here.
#pragma once

#include <string_view>

#include "zpress/gzio.h"

namespace driver {

// Prints "PROG: message" and ends the process with status 1.  Some messages
// carry a newline of their own, which leaves an empty line after them.
[[noreturn]] void error(const char* message);

// perror(what), then status 1.
[[noreturn]] void die_perror(const char* what);

// Reports about one named file.
enum class about_file {
    already_exists,    // the output exists and "-f" is not in force
    cant_gzopen,       // a gzip stream could not be opened
    cant_unlink,       // the input could not be (or must not be) removed
    name_too_long,     // a derived name does not fit the name buffer
    not_a_file,        // a device or a socket given as input
    cant_sync,         // the output could not be made durable
    output_lost,       // the output was removed or replaced during its job
};

// Prints the report; the run goes on.
void report(about_file what, const char* name);
// Prints the report and ends the process with status 1.
[[noreturn]] void fail(about_file what, const char* name);

// For the signal handler: the "can't unlink" report with async-signal-safe
// calls only.
void report_cant_unlink_from_handler(const char* name) noexcept;

// How a gzip stream's error texts name it.  The stream layer names a stream
// after the path it was opened with; file jobs open by the entry name inside
// the job's directory, and reports must name the file as the user gave it.
struct stream_name {
    std::string_view opened_as;   // empty: the layer's text is printed as it is
    const char* shown_as = nullptr;
};

// error() with the text of the stream's last error.
[[noreturn]] void fail_stream(gzstream::gz_handle* stream, stream_name name);

}  // namespace driver
