// Failure reports: one line on standard error that begins with the program
// name.  Every message of the driver is printed here.
//
// A failure is reported where it is found, and its outcome travels back as a
// value to `run`, which ends the run with status 1: nothing below it ends the
// process (only the signal handler does).
#pragma once

#include "zpress/gzio.h"

namespace driver {

enum class [[nodiscard]] outcome{done, failed};

// Prints "PROG: message".  Some messages carry a newline of their own, which
// leaves an empty line after them.
outcome error(const char* message);

// perror(what): what failed and the system's reason, from errno.
outcome system_error(const char* what);

// Reports about one named file.
enum class about_file {
    already_exists,  // the output exists and "-f" is not in force
    cant_gzopen,     // a gzip stream could not be opened
    cant_unlink,     // a file could not be (or must not be) removed
    name_too_long,   // a derived name does not fit the name buffer
    not_a_file,      // a device or a socket given as input
    cant_sync,       // the output, or its directory, could not be made durable
    cant_replace,    // a complete output could not take the name it replaces
    output_lost,     // the output was removed or replaced during its job
    input_changed,   // the input changed after its job opened it
};

// Prints the report; the run goes on.  Uses write() alone, so that the
// signal handler reports through it too.
void report(about_file what, const char* name) noexcept;
// The same, as a failure.
outcome fail(about_file what, const char* name);

// "PROG: " and the text of the stream's last error, which names the stream.
outcome fail_stream(gzstream::gz_handle* stream);

}  // namespace driver
