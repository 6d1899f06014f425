// Failure reports: one line on standard error that begins with the program
// name, then exit status 1.
#pragma once

namespace driver {

// Prints "PROG: message" and ends the process with status 1.  Some messages
// carry a newline of their own, which leaves an empty line after them.
[[noreturn]] void error(const char* message);

// perror(what), then status 1.
[[noreturn]] void die_perror(const char* what);

}  // namespace driver
