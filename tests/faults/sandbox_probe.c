/* Loaded with LD_PRELOAD by the sandbox tests.  At the first write to
 * standard output, through write() or fwrite(), it tries what a confined
 * filter must not do, each attempt straight through syscall() so that no
 * library wrapper stands in the way, and reports each on standard error as
 * "probe: ATTEMPT: RESULT", RESULT being "succeeded" or the errno's name.
 * Then the write goes on.  A start of /bin/true that succeeds replaces the
 * process: the reports after it are missing. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

typedef size_t fwrite_call(const void*, size_t, size_t, FILE*);
static fwrite_call* real_fwrite;
static int probed;

__attribute__((constructor)) static void find_fwrite(void) {
    real_fwrite = (fwrite_call*)dlsym(RTLD_NEXT, "fwrite");
}

static void report(const char* attempt, long result) {
    const char* outcome = result >= 0 ? "succeeded" : strerrorname_np(errno);
    char line[128];
    const int n = snprintf(line, sizeof line, "probe: %s: %s\n", attempt, outcome);
    syscall(SYS_write, STDERR_FILENO, line, (size_t)n);
}

static void probe(void) {
    if (probed) return;
    probed = 1;
    report("open /etc/hostname", syscall(SYS_openat, AT_FDCWD, "/etc/hostname", O_RDONLY));
    report("create probe-file",
           syscall(SYS_openat, AT_FDCWD, "probe-file", O_WRONLY | O_CREAT | O_EXCL, 0600));
    char* const argv[] = {"/bin/true", NULL};
    char* const envp[] = {NULL};
    report("start /bin/true", syscall(SYS_execve, "/bin/true", argv, envp));
    report("open a TCP socket", syscall(SYS_socket, AF_INET, SOCK_STREAM, IPPROTO_TCP));
}

ssize_t write(int fd, const void* buf, size_t len) {
    if (fd == STDOUT_FILENO) probe();
    return syscall(SYS_write, fd, buf, len);
}

size_t fwrite(const void* buf, size_t size, size_t count, FILE* stream) {
    if (fileno(stream) == STDOUT_FILENO) probe();
    return real_fwrite(buf, size, count, stream);
}
