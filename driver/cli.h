// The command line: options, then file mode or filter mode.
#pragma once

namespace driver {

// Runs the utility and returns the exit status.
int run(int argc, char** argv);

}  // namespace driver
