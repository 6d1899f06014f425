// The command line: options, then file mode or filter mode.
#pragma once

namespace driver {

// The name that begins every diagnostic and the usage and version lines
// (the first argument, unchanged); "zpress" until set.
void set_program_name(const char* name);

// Whether a filter (no file names) gives up, once set up, every right it no
// longer needs (sandbox.h).  The executable drops them; a host program that
// runs the utility inside its own process keeps its rights unless it asks.
enum class filter_rights { kept, dropped };

// Runs the utility and returns the exit status.  It changes nothing of the
// process beyond what its jobs need: signal dispositions it changed are
// restored before it returns.
int run(int argc, char** argv, filter_rights rights = filter_rights::kept);

}  // namespace driver
