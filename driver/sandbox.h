// The filters' sandbox.  A filter reads data that may come from anywhere
// (`curl ... | zpress -d | tar x`), and a fault in a decoder would otherwise
// run with every right of the user.  Once a filter holds the descriptors it
// needs, it gives up the rest for the rest of the process's life.
#pragma once

namespace driver {

// Confines the process to the descriptors it has open: from here on, every
// attempt to open, create, rename or remove a file, to start a program, to
// open a socket or to make memory executable fails with EPERM, while reads,
// writes, closes, memory and the process's end work as before.  Returns
// whether the process is confined: false where the build or the kernel
// offers no way to do it, and the run then goes on with its rights as they
// were.
bool confine_to_open_descriptors() noexcept;

}  // namespace driver
