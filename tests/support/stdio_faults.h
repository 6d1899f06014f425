// Control over the stdio calls of the gzip stream layer.  Executables that use
// this are linked with -Wl,--wrap for fwrite, fflush and fread, so the layer's
// calls pass through wrappers that, for the stream on one chosen descriptor,
// count the calls of one kind and make one chosen call fail once: an fwrite
// hands the file only the first half of its bytes, an fflush writes nothing,
// an fread meets a real read error (the descriptor briefly points at a
// directory, so read() fails with EISDIR and stdio sets its error flag).
// Every later call works again, as after a descriptor that was briefly full,
// not ready or unreadable.  Every other stream is served normally.
#pragma once

namespace zpress_test::stdio_faults {

enum class kind {
    writes,  // fwrite and fflush, counted together
    reads,   // fread
};

// Counts the calls of that kind on fd; the call numbered fail_at (from 1)
// fails, none when fail_at is 0.
void arm(kind k, int fd, long fail_at);
void disarm();

long calls();
// Whether the chosen call was made and failed.  A read that stdio serves
// from its own buffer does not reach the descriptor and cannot fail.
bool fired();

// Arms for its lifetime.
class scoped_fault {
  public:
    scoped_fault(kind k, int fd, long fail_at) { arm(k, fd, fail_at); }
    ~scoped_fault() { disarm(); }
    scoped_fault(const scoped_fault&) = delete;
    scoped_fault& operator=(const scoped_fault&) = delete;
};

}  // namespace zpress_test::stdio_faults
