// Builds without the sandbox: platforms without seccomp, the sanitizer,
// fuzzing and coverage builds, or ZPRESS_SANDBOX=OFF (cmake/sandbox.cmake).
#include "sandbox.h"

namespace driver {

bool confine_to_open_descriptors() noexcept { return false; }

}  // namespace driver
