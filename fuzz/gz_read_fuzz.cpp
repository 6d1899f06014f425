// Fuzz target: the gzip reader over arbitrary bytes.
//
// Input: a flags byte (bit 0: open with gotmagic, the first two bytes having
// been taken by the caller; bit 1: read from a pipe instead of a seekable
// memory file), an 8-byte seed for the sequence of calls, then the stream.
//
// Two passes over the same stream, each on its own handle:
//  - a plain pass reads with gzread in random chunk sizes and judges the result
//    against zlib's own gzip decoder: same bytes, an error exactly when the
//    stream is damaged (a member cut anywhere is damage), success otherwise;
//    before damage, every byte zlib decodes from the same input.
//    The error must come from gzread itself: 0 only at the real end of the
//    data, -1 for damage, and both answers stay;
//  - a mixed pass interleaves gzgetc, gzungetc, gzgets, gzseek, gztell,
//    gzrewind, gzeof and gzclearerr, and checks every byte delivered at its
//    position against the same reference, and every call that delivers
//    nothing: an end only where the reference ends, an error only on damage
//    and only once every byte before it was delivered.
//    Seeks that cannot be made (targets outside 0..INT64_MAX, backward on a
//    pipe) must change nothing;
//  - a faulty pass reads like the plain one while one read of the file, chosen
//    among those the plain pass made, fails once: the bytes delivered must
//    still be right, and the failure must come out of gzread as -1 and out
//    of gzclose, never as an end.
// Output is capped at 1 MiB per pass, so inflate bombs stay cheap.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "common/check.h"
#include "common/choices.h"
#include "mem_file.h"
#include "stdio_faults.h"
#include "zlib_oracle.h"
#include "zpress/gzio.h"

namespace {

namespace gz = gzstream;
using zpress_test::agree_on_common_part;
using zpress_test::Bytes;
using zpress_test::is_prefix;
using zpress_test::Verdict;

constexpr std::size_t kOutputCap = std::size_t{1} << 20;
constexpr std::uint32_t kMaxChunk = 70000;
constexpr int kMaxMixedOps = 3000;
constexpr int kMaxRewinds = 6;

struct source {
    bool gotmagic = false;
    bool use_pipe = false;
    const unsigned char* data = nullptr;  // what the handle reads
    std::size_t size = 0;
};

// What a correct reader delivers, and whether it must succeed or fail.
struct expectation {
    Bytes data;
    Verdict outcome = Verdict::ok;
    bool plain = false;  // not gzip: handed through unchanged
};

expectation expect(const std::uint8_t* stream, std::size_t size, bool gotmagic) {
    expectation e;
    if (gotmagic) {
        // The bytes after the magic are read as a member from its method
        // byte on, whatever the two bytes taken by the caller were; fewer
        // than two of them are a header cut off.
        Bytes whole(stream, stream + size);
        whole.resize(std::max<std::size_t>(size, 2));
        whole[0] = 0x1F;
        whole[1] = 0x8B;
        zpress_test::TolerantResult r = zpress_test::inflate_gzip_tolerant(whole, kOutputCap);
        e.data = std::move(r.data);
        e.outcome = r.outcome;
        return e;
    }
    if (size < 2 || stream[0] != 0x1F || stream[1] != 0x8B) {
        // Not gzip: delivered unchanged.
        e.data.assign(stream, stream + std::min(size, kOutputCap));
        e.plain = true;
        if (size > kOutputCap) e.outcome = Verdict::unknown;
        return e;
    }
    zpress_test::TolerantResult r = zpress_test::inflate_gzip_tolerant({stream, size}, kOutputCap);
    e.data = std::move(r.data);
    e.outcome = r.outcome;
    return e;
}

int source_fd(const source& src, bool& seekable) {
    int fd = src.use_pipe ? zpress_test::pipe_holding({src.data, src.size}) : -1;
    seekable = fd < 0;
    if (fd < 0) fd = zpress_test::memfd_with({src.data, src.size});
    FUZZ_CHECK(fd >= 0);
    return fd;
}

gz::gz_handle* open_fd(const source& src, int fd) {
    gz::gz_handle* h = src.gotmagic ? gz::gzdopen_gotmagic(fd, "rb") : gz::gzdopen(fd, "rb");
    FUZZ_CHECK(h != nullptr);  // a readable descriptor always opens
    return h;
}

gz::gz_handle* open_source(const source& src, bool& seekable) {
    return open_fd(src, source_fd(src, seekable));
}

int status_of(gz::gz_handle* h) {
    int status = 0;
    gz::gzerror(h, &status);
    return status;
}

// Plain reading in random chunks: the outcome must match the reference.
// With fail_at, that read of the file fails once.  Returns the number of
// reads of the file made.
long plain_pass(const source& src, const expectation& want, fuzz::choices& pick, long fail_at = 0) {
    bool seekable;
    const int fd = source_fd(src, seekable);
    zpress_test::stdio_faults::arm(zpress_test::stdio_faults::kind::reads, fd, fail_at);
    gz::gz_handle* h = open_fd(src, fd);
    Bytes got;
    Bytes buf(kMaxChunk);
    bool failed = false;
    bool capped = false;
    for (;;) {
        if (got.size() >= kOutputCap) {
            capped = true;
            break;
        }
        const std::uint32_t len = pick.chunk(kMaxChunk);
        const int n = gz::gzread(h, buf.data(), len);
        FUZZ_CHECK(n >= -1 && n <= static_cast<int>(len));
        if (n < 0) {
            failed = true;
            FUZZ_CHECK(gz::gzread(h, buf.data(), 100) == -1);  // the error stays
            break;
        }
        if (n == 0 && len != 0) {
            FUZZ_CHECK(gz::gzread(h, buf.data(), 100) == 0);  // so does the end
            break;
        }
        got.insert(got.end(), buf.begin(), buf.begin() + n);
    }
    const long reads = zpress_test::stdio_faults::calls();
    const bool read_failed = zpress_test::stdio_faults::fired();
    zpress_test::stdio_faults::disarm();
    // gzclose agrees with what gzread said: a stream read to its end without
    // an error closes with 0, a failed one with its negative status.
    const int closed = gz::gzclose(h);
    if (failed || capped)
        FUZZ_CHECK(closed < 0 || (capped && closed == 0));
    else
        FUZZ_CHECK(closed == 0);

    if (capped) {
        FUZZ_CHECK(agree_on_common_part(got, want.data));
        return reads;
    }
    if (read_failed) {
        // What came before the failure is right; the failure is never an end.
        FUZZ_CHECK(failed);
        FUZZ_CHECK(agree_on_common_part(got, want.data));
        if (want.outcome == Verdict::ok) FUZZ_CHECK(is_prefix(got, want.data));
        return reads;
    }
    switch (want.outcome) {
        case Verdict::ok:
            // A whole stream reads back exactly and without any error.
            FUZZ_CHECK(!failed);
            FUZZ_CHECK(got == want.data);
            break;
        case Verdict::error:
            // Damage (a cut member included) is never a normal end, and
            // every byte that decodes before it is delivered first.
            FUZZ_CHECK(failed);
            FUZZ_CHECK(got == want.data);
            break;
        case Verdict::unknown:
            FUZZ_CHECK(agree_on_common_part(got, want.data));
            break;
    }
    return reads;
}

// The mixed pass keeps a model of the read position and of a handed-back
// byte, and checks each delivered byte against the reference at that place.
class mixed_pass {
  public:
    mixed_pass(const source& src, const expectation& want, fuzz::choices& pick)
        : want_(want), pick_(pick), buf_(kMaxChunk + 1) {
        h_ = open_source(src, seekable_);
    }
    ~mixed_pass() {
        const int closed = gz::gzclose(h_);
        FUZZ_CHECK(closed <= 0);
    }

    void run() {
        for (int op = 0; op < kMaxMixedOps && pos_ < static_cast<std::int64_t>(kOutputCap); ++op)
            step();
    }

  private:
    // Whether the reference says which byte belongs at `at`.
    bool known(std::int64_t at) const {
        return tracking_ && at >= 0 && static_cast<std::size_t>(at) < want_.data.size();
    }

    void check_delivered(const unsigned char* p, int n) {
        for (int i = 0; i < n; ++i) {
            if (pushed_ >= 0) {
                if (tracking_) FUZZ_CHECK(p[i] == static_cast<unsigned char>(pushed_));
                pushed_ = -1;
            } else if (tracking_) {
                if (known(pos_)) {
                    FUZZ_CHECK(p[i] == want_.data[static_cast<std::size_t>(pos_)]);
                } else {
                    // Past the reference's data only an undecided stream may
                    // deliver more.
                    FUZZ_CHECK(want_.outcome == Verdict::unknown);
                }
            }
            ++pos_;
        }
    }

    // A call that delivered nothing, after a read of `len` bytes.  An error
    // only on a damaged stream; an end only where the reference's data ends,
    // and never on a damaged stream.
    void check_nothing_delivered(std::uint32_t len) {
        if (len == 0 || !tracking_ || want_.outcome == Verdict::unknown) return;
        if (status_of(h_) < 0) {
            // Damage shows only once every byte decoded before it (and a
            // byte handed back) has been delivered.
            FUZZ_CHECK(want_.outcome == Verdict::error);
            FUZZ_CHECK(pos_ + (pushed_ >= 0 ? 1 : 0) ==
                       static_cast<std::int64_t>(want_.data.size()));
            return;
        }
        FUZZ_CHECK(pushed_ < 0);
        FUZZ_CHECK(want_.outcome == Verdict::ok);
        FUZZ_CHECK(!known(pos_));
    }

    void check_tell() {
        if (!tracking_) return;
        const gz::gz_off_t t = gz::gztell(h_);
        const int status = status_of(h_);
        if (status < 0)
            FUZZ_CHECK(t == -1);
        else
            FUZZ_CHECK(t == pos_);
    }

    // Rewinding or clearing an error restarts the engine on bytes whose
    // meaning the reference cannot tell: stop judging content from there.
    void forget_if_in_error() {
        if (status_of(h_) < 0) tracking_ = false;
    }

    void step() {
        const std::uint32_t what = pick_.below(100);
        if (what < 35) {
            const std::uint32_t len = pick_.chunk(kMaxChunk);
            const int n = gz::gzread(h_, buf_.data(), len);
            FUZZ_CHECK(n >= -1 && n <= static_cast<int>(len));
            if (n > 0) check_delivered(buf_.data(), n);
            if (n == -1) FUZZ_CHECK(status_of(h_) < 0);
            if (n <= 0) check_nothing_delivered(len);
        } else if (what < 55) {
            const int c = gz::gzgetc(h_);
            FUZZ_CHECK(c >= -1 && c <= 255);
            if (c >= 0) {
                const unsigned char byte = static_cast<unsigned char>(c);
                check_delivered(&byte, 1);
                last_ = c;
            } else {
                check_nothing_delivered(1);
            }
        } else if (what < 65) {
            // Hand back the byte just read, or any byte at all.
            const int c =
                pick_.one_in(2) && last_ >= 0 ? last_ : static_cast<int>(pick_.below(512));
            const bool may = pushed_ < 0;
            const int r = gz::gzungetc(c, h_);
            if (tracking_) FUZZ_CHECK(r == (may ? c : -1));
            FUZZ_CHECK(r == c || r == -1);
            if (r == c) {
                pushed_ = c & 0xFF;
                --pos_;
            }
            FUZZ_CHECK(gz::gzungetc(-1, h_) == -1);
        } else if (what < 75) {
            const int size = static_cast<int>(pick_.below(200));
            gets(size);
        } else if (what < 88) {
            seek();
        } else if (what < 92) {
            check_tell();
        } else if (what < 95) {
            const int e = gz::gzeof(h_);
            FUZZ_CHECK(e == 0 || e == 1);
        } else if (what < 98) {
            if (rewinds_ >= kMaxRewinds) return;
            ++rewinds_;
            forget_if_in_error();
            const int r = gz::gzrewind(h_);
            FUZZ_CHECK(r == 0 || r == -1);
            if (r == 0) {
                pushed_ = -1;
                pos_ = 0;
            } else {
                // A pipe cannot go back: the stream reads on where it stood.
                FUZZ_CHECK(!seekable_);
            }
        } else {
            forget_if_in_error();
            gz::gzclearerr(h_);
        }
    }

    void gets(int size) {
        const std::int64_t before = pos_;
        std::vector<char> line(static_cast<std::size_t>(size) + 1, 'X');
        char* r = gz::gzgets(h_, line.data(), size);
        if (size <= 0) {
            FUZZ_CHECK(r == nullptr);
            return;
        }
        if (r == nullptr) {
            FUZZ_CHECK(size > 1);
            check_nothing_delivered(1);  // nothing stored: the end or an error
            return;
        }
        FUZZ_CHECK(r == line.data());
        // How many bytes were stored: the position moved by that much.  Only
        // measurable while the stream is healthy.
        const gz::gz_off_t after = gz::gztell(h_);
        if (after < 0 || !tracking_) {
            lose_track();
            return;
        }
        const std::int64_t stored = after - before;
        FUZZ_CHECK(stored >= 0 && stored <= size - 1);
        FUZZ_CHECK(line[static_cast<std::size_t>(stored)] == '\0');
        for (std::int64_t i = 0; i + 1 < stored; ++i)
            FUZZ_CHECK(line[static_cast<std::size_t>(i)] != '\n');
        check_delivered(reinterpret_cast<const unsigned char*>(line.data()),
                        static_cast<int>(stored));
    }

    void seek() {
        const bool relative = pick_.one_in(2);
        std::int64_t offset;
        switch (pick_.below(5)) {
            case 4:
                extreme_seek();
                return;
            case 0:
                offset = static_cast<std::int64_t>(pick_.below(64)) - 32;
                break;
            case 1:
                offset = static_cast<std::int64_t>(pick_.below(40000));
                break;
            case 2:
                offset = -static_cast<std::int64_t>(pick_.below(40000));
                break;
            default:
                offset = static_cast<std::int64_t>(
                    pick_.below(static_cast<std::uint32_t>(want_.data.size() + 2)));
                break;
        }
        const std::int64_t target = relative ? pos_ + offset : offset;
        if (target < pos_ && rewinds_ >= kMaxRewinds) return;
        if (target > static_cast<std::int64_t>(kOutputCap)) return;
        if (target < pos_) {
            ++rewinds_;
            forget_if_in_error();
        }
        const int status = status_of(h_);
        const gz::gz_off_t r = gz::gzseek(h_, relative ? offset : target, relative ? 1 : 0);
        if (status < 0 || (tracking_ && target < 0)) {
            FUZZ_CHECK(r == -1);
            return;
        }
        // Backward on a pipe: refused, and the stream reads on where it
        // stood.  Forward it reads on, plain data too.  Empty input counts as
        // an empty gzip stream, not as plain data.
        const bool plain = want_.plain && !want_.data.empty();
        if (!seekable_ && tracking_ && target < pos_) {
            FUZZ_CHECK(r == -1);
            return;
        }
        if (r >= 0) {
            if (tracking_) FUZZ_CHECK(r == target);
            // Plain data in a file is repositioned in the file, which drops
            // a handed-back byte even when the position does not change.
            if (r != pos_ || (plain && seekable_)) pushed_ = -1;
            pos_ = r;
            return;
        }
        // A failed seek: past the end, an error on the way, or a pipe that
        // cannot go back.  Where the stream stands is no longer modelled.
        if (tracking_ && want_.outcome == Verdict::ok && target > pos_)
            FUZZ_CHECK(target > static_cast<std::int64_t>(want_.data.size()));
        lose_track();
    }

    // Offsets whose target lies outside 0..INT64_MAX: refused, without an
    // overflow anywhere (UBSan watches), and nothing changes.
    void extreme_seek() {
        static constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
        static constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
        const gz::gz_off_t before = gz::gztell(h_);
        FUZZ_CHECK(gz::gzseek(h_, kMin, 0) == -1);
        FUZZ_CHECK(gz::gzseek(h_, kMin, 1) == -1);
        if (tracking_ && pos_ >= 1) FUZZ_CHECK(gz::gzseek(h_, kMax, 1) == -1);
        FUZZ_CHECK(gz::gzseek(h_, -1, 0) == -1);
        FUZZ_CHECK(gz::gztell(h_) == before);
    }

    void lose_track() {
        tracking_ = false;
        pushed_ = -1;
        const gz::gz_off_t t = gz::gztell(h_);
        pos_ = t >= 0 ? t : pos_;
    }

    const expectation& want_;
    fuzz::choices& pick_;
    Bytes buf_;
    gz::gz_handle* h_ = nullptr;
    bool seekable_ = true;
    bool tracking_ = true;
    std::int64_t pos_ = 0;
    int pushed_ = -1;  // byte handed back and not yet read again
    int last_ = -1;
    int rewinds_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    const fuzz::split_input in = fuzz::split(input, size);
    source src;
    src.gotmagic = (in.flags & 1) != 0;
    src.use_pipe = (in.flags & 2) != 0;
    // With gotmagic the caller has taken the first two bytes.
    const std::size_t taken = src.gotmagic ? std::min<std::size_t>(in.size, 2) : 0;
    src.data = in.data + taken;
    src.size = in.size - taken;

    const expectation want = expect(in.data, in.size, src.gotmagic);
    fuzz::choices pick(in.seed);
    const long reads = plain_pass(src, want, pick);
    mixed_pass(src, want, pick).run();
    if (reads > 0) {
        fuzz::choices fault_pick(in.seed ^ 0x5EEDFA11u);
        const long fail_at =
            1 + static_cast<long>(fault_pick.below(static_cast<std::uint32_t>(reads)));
        plain_pass(src, want, fault_pick, fail_at);
    }
    return 0;
}
