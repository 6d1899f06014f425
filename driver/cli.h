// The command line: options, then file mode or filter mode.
#pragma once

namespace driver {

// Runs the utility; returns the exit status (failures exit directly with 1).
int run(int argc, char** argv);

}  // namespace driver
