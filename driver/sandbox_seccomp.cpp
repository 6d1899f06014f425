// The sandbox on Linux: a seccomp program, made at build time from an
// allow-list (tools/sandbox_filter_gen.cpp), loaded with the process id
// filled in.
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "sandbox.h"
#include "sandbox_filter.h"

namespace driver {

bool confine_to_open_descriptors() noexcept {
    sock_filter program[std::size(sandbox_program)];
    std::copy(std::begin(sandbox_program), std::end(sandbox_program), program);
    // Through syscall(), which lies among the memory calls the process has
    // made already: getpid() would be one more page of the C library in
    // memory, and then the pages around it.
    const auto pid = static_cast<std::uint32_t>(syscall(SYS_getpid));
    for (const std::size_t slot : sandbox_pid_slots) program[slot].k = pid;
    const sock_fprog loaded{static_cast<unsigned short>(std::size(program)), program};
    // The kernel takes a program from an unprivileged process only when it
    // can gain no rights by starting another.  A kernel without seccomp
    // refuses the program (EINVAL), and the filter runs as before.
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &loaded) == 0;
}

}  // namespace driver
