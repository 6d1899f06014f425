// Control over read() as seen by the LZW codec.  The targets that use this are
// linked with -Wl,--wrap=read, so the codec's read() calls pass through a
// wrapper that, for one chosen descriptor, can deliver data in small pieces
// (as a pipe does), fail with EINTR now and then, or fail with EIO at a chosen
// call.  Every other descriptor is read normally.
#pragma once

#include <cstdint>

namespace fuzz::short_reads {

struct plan {
    int fd = -1;
    std::uint64_t seed = 0;
    unsigned max_piece = 0;  // 0: whole requests; else each read gives 1..max_piece bytes
    bool interrupt = false;  // fail now and then with EINTR before reading anything
    long fail_at = 0;        // > 0: the call with this number (from 1) fails with EIO
};

void arm(const plan& p);
void disarm();

// read() calls made on the armed descriptor since arm(), and whether the
// injected failure has happened.
long calls();
bool failed();

}  // namespace fuzz::short_reads
