// The command line: options, then file mode or filter mode.
#pragma once

namespace driver {

// Whether a filter (no file names) gives up, once set up, every right it no
// longer needs (sandbox.h).  The executable drops them; a host program that
// runs the utility inside its own process keeps its rights unless it asks.
enum class filter_rights { kept, dropped };

// Runs the utility and returns the exit status.
int run(int argc, char** argv, filter_rights rights = filter_rights::kept);

}  // namespace driver
