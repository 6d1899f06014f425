// Control over fwrite and fflush as seen by the gzip stream layer.  The gzip
// targets are linked with -Wl,--wrap=fwrite and -Wl,--wrap=fflush, so the
// layer's calls pass through wrappers that, for the stream on one chosen
// descriptor, count the calls and make one chosen call fail: an fwrite then
// hands the file only the first half of its bytes, an fflush writes nothing.
// Every later call works again, as after a descriptor that was briefly full
// or not ready.  Every other stream is written normally.
#pragma once

namespace fuzz::failing_writes {

// Counts the calls on fd; the call numbered fail_at (from 1) fails, none when
// fail_at is 0.
void arm(int fd, long fail_at);
void disarm();

long calls();
bool fired();

}  // namespace fuzz::failing_writes
