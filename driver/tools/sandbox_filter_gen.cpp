// Build tool: writes the filters' seccomp program (driver/sandbox_seccomp.cpp)
// as a C++ header.  The program is made here, with libseccomp, rather than by
// the executable itself: libseccomp's code, tables and working memory would
// add some 150 to 350 KiB to the peak resident size of every filter run, for
// a program of a few hundred bytes that is the same on every run but for the
// process id, which the executable fills in.
//
// The allow-list holds the system calls a filter makes once its descriptors
// are open, and those the C library makes on its error and exit paths; every
// other call fails with EPERM, so that a forbidden attempt ends as an
// ordinary failed call and the driver's messages stay what they were.  An
// allow-list rather than a list of what is forbidden: new system calls that
// reach files (openat2, io_uring, open_by_handle_at) keep appearing.
//
// Usage: sandbox_filter_gen OUTPUT_HEADER
#include <asm/termbits.h>  // struct termios2, for TCGETS2
#include <fcntl.h>
#include <linux/filter.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace {

// Stands for the process id in the program; the executable replaces it.  No
// other constant of the allow-list has this value, and the tool checks that
// every instruction that holds it compares with it.
constexpr std::uint32_t PID_PLACEHOLDER = 0x7EDCBA98;

struct filter_releaser {
    void operator()(void* filter) const noexcept { seccomp_release(filter); }
};
using seccomp_filter = std::unique_ptr<void, filter_releaser>;

// Allows a call by name, under the conditions given, which all must hold.  A
// name this libseccomp does not know is no call the C library makes; one that
// does not exist on this architecture (mmap2 on x86-64) is passed over by
// libseccomp.
bool allow(scmp_filter_ctx filter, const char* name,
           std::initializer_list<scmp_arg_cmp> conditions = {}) {
    const int call = seccomp_syscall_resolve_name(name);
    if (call == __NR_SCMP_ERROR) return true;
    return seccomp_rule_add_array(filter, SCMP_ACT_ALLOW, call,
                                  static_cast<unsigned>(conditions.size()),
                                  conditions.begin()) == 0;
}

bool allow_all(scmp_filter_ctx filter, std::initializer_list<const char*> names) {
    return std::ranges::all_of(names, [filter](const char* name) { return allow(filter, name); });
}

bool allow_what_a_filter_needs(scmp_filter_ctx filter) {
    // Only the descriptor's own status, which stdio asks for to size its
    // buffer; with a path, the "at" calls would look up any file.
    const scmp_arg_cmp no_path_in_4th{3, SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH};
    const scmp_arg_cmp no_path_in_3rd{2, SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH};
    const scmp_arg_cmp not_executable{2, SCMP_CMP_MASKED_EQ, PROT_EXEC, 0};
    const scmp_arg_cmp this_process{0, SCMP_CMP_EQ, PID_PLACEHOLDER, 0};
    // isatty(), which stdio asks before it buffers a stream (newer C
    // libraries ask with TCGETS2); other requests may change a terminal, or
    // type into it (TIOCSTI).
    const scmp_arg_cmp terminal_query{1, SCMP_CMP_EQ, TCGETS, 0};
    const scmp_arg_cmp terminal_query2{1, SCMP_CMP_EQ, TCGETS2, 0};
    return
        // Data through the descriptors already open.  perror() writes
        // through a stream of its own on a copy of standard error, and a
        // failed output is discarded by pointing its descriptor at the null
        // device opened before (streams.h): a copy of an open descriptor
        // reaches nothing new.
        allow_all(filter, {"read", "readv", "write", "writev", "lseek", "_llseek", "close", "dup",
                           "dup2", "dup3", "fcntl", "fcntl64", "fstat", "fstat64"}) &&
        allow(filter, "newfstatat", {no_path_in_4th}) &&
        allow(filter, "fstatat64", {no_path_in_4th}) && allow(filter, "statx", {no_path_in_3rd}) &&
        allow(filter, "ioctl", {terminal_query}) && allow(filter, "ioctl", {terminal_query2}) &&
        // Memory comes and goes (malloc, free, the engine's state), but none
        // of it becomes code.
        allow_all(filter, {"brk", "munmap", "mremap", "madvise"}) &&
        allow(filter, "mmap", {not_executable}) && allow(filter, "mmap2", {not_executable}) &&
        allow(filter, "mprotect", {not_executable}) &&
        // Signals and the end: abort() signals the process itself; SIGPIPE
        // and the others keep their actions.
        allow_all(filter, {"rt_sigreturn", "sigreturn", "rt_sigprocmask", "rt_sigaction",
                           "restart_syscall", "getpid", "gettid", "exit", "exit_group"}) &&
        allow(filter, "tgkill", {this_process});
}

// What libseccomp writes to a descriptor, read back.
template <typename Export>
bool exported(scmp_filter_ctx filter, Export how, std::string& out) {
    std::FILE* scratch = std::tmpfile();
    if (scratch == nullptr) return false;
    bool ok = how(filter, fileno(scratch)) == 0 && std::fseek(scratch, 0, SEEK_SET) == 0;
    char block[4096];
    std::size_t n;
    while (ok && (n = std::fread(block, 1, sizeof block, scratch)) > 0) out.append(block, n);
    ok = ok && std::ferror(scratch) == 0;
    (void)std::fclose(scratch);
    return ok;
}

// Written beside its place and renamed into it, so that a failed run leaves
// no header that the build would take as made.
bool write_header(const std::string& path, const std::vector<sock_filter>& program,
                  const std::vector<std::size_t>& pid_slots, const std::string& listing) {
    const std::string scratch = path + ".tmp";
    std::FILE* out = std::fopen(scratch.c_str(), "we");
    if (out == nullptr) return false;
    (void)std::fprintf(out,
                       "// Made by sandbox_filter_gen at build time; do not edit.\n"
                       "// The program in libseccomp's own notation:\n//\n");
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos) end = listing.size();
        (void)std::fprintf(out, "// %.*s\n", static_cast<int>(end - start), &listing[start]);
        start = end + 1;
    }
    (void)std::fprintf(
        out,
        "#pragma once\n\n#include <linux/filter.h>\n\n#include <cstddef>\n\n"
        "namespace driver {\n\ninline constexpr sock_filter sandbox_program[] = {\n");
    for (const sock_filter& op : program)
        (void)std::fprintf(out, "    {0x%04x, %u, %u, 0x%08x},\n", op.code, op.jt, op.jf, op.k);
    (void)std::fprintf(out,
                       "};\n\n// The instructions whose operand is the process id.\n"
                       "inline constexpr std::size_t sandbox_pid_slots[] = {");
    for (std::size_t i = 0; i < pid_slots.size(); ++i)
        (void)std::fprintf(out, "%s%zu", i == 0 ? "" : ", ", pid_slots[i]);
    (void)std::fprintf(out, "};\n\n}  // namespace driver\n");
    const bool written = std::ferror(out) == 0;
    return std::fclose(out) == 0 && written && std::rename(scratch.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        (void)std::fprintf(stderr, "usage: %s OUTPUT_HEADER\n", argv[0]);
        return 2;
    }
    const seccomp_filter filter(seccomp_init(SCMP_ACT_ERRNO(EPERM)));
    std::string bpf;
    std::string listing;
    if (!filter || !allow_what_a_filter_needs(filter.get()) ||
        !exported(filter.get(), seccomp_export_bpf, bpf) ||
        !exported(filter.get(), seccomp_export_pfc, listing) || bpf.empty() ||
        bpf.size() % sizeof(sock_filter) != 0) {
        (void)std::fprintf(stderr, "%s: libseccomp could not make the program\n", argv[0]);
        return 1;
    }
    std::vector<sock_filter> program(bpf.size() / sizeof(sock_filter));
    std::memcpy(program.data(), bpf.data(), bpf.size());
    std::vector<std::size_t> pid_slots;
    for (std::size_t i = 0; i < program.size(); ++i)
        if (program[i].k == PID_PLACEHOLDER) pid_slots.push_back(i);
    // The placeholder as a comparison's operand, and nowhere else.
    const auto compares = [&program](std::size_t slot) {
        return BPF_CLASS(program[slot].code) == BPF_JMP && BPF_SRC(program[slot].code) == BPF_K;
    };
    if (pid_slots.empty() || !std::ranges::all_of(pid_slots, compares)) {
        (void)std::fprintf(stderr, "%s: the process id is not where it was expected\n", argv[0]);
        return 1;
    }
    if (!write_header(argv[1], program, pid_slots, listing)) {
        (void)std::fprintf(stderr, "%s: can't write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
