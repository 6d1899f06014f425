// Fuzz target: gzip writer and reader round trip.
//
// Input: a flags byte (bits 0-3: level digit 0-9 in the mode, 10-15 none;
// bits 4-5: strategy letter none, 'f', 'h', 'R'; bit 6: open with 'a' instead
// of 'w'; bit 7: append a second member through a second handle), an 8-byte
// seed, then the data.
//
// The data goes out through a random mix of gzwrite (any chunking), gzputc,
// gzputs, gzprintf, forward gzseek (zero fill), gzflush with every flush mode,
// gzsetparams (valid and refused values) and gztell.  A Z_FINISH flush ends the
// deflate data: later writes are refused, and the model keeps exactly what
// each call reports as accepted.  The file must then be a valid gzip stream
// for zlib's own decoder and read back byte-exact through gzread.
//
// Then the first member is written once more, by the same sequence of calls,
// to a descriptor on which one fwrite or fflush of the layer (chosen from the
// seed among those the healthy run made) fails once and then works again.
// From that call on every call must fail, gzclose must not return 0, and the
// file must be a strict prefix of the healthy one: nothing written twice,
// nothing written after the gap.
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/check.h"
#include "common/choices.h"
#include "mem_file.h"
#include "stdio_faults.h"
#include "zlib_oracle.h"
#include "zpress/gzio.h"

namespace {

namespace gz = gzstream;
using zpress_test::Bytes;
using zpress_test::Verdict;

constexpr std::uint32_t kMaxChunk = 70000;

std::string mode_for(std::uint8_t flags, bool append) {
    std::string mode = append || (flags & 0x40) ? "ab" : "wb";
    if ((flags & 0x0F) < 10) mode += static_cast<char>('0' + (flags & 0x0F));
    static constexpr const char* kStrategy[] = {"", "f", "h", "R"};
    mode += kStrategy[(flags >> 4) & 3];
    return mode;
}

class writer {
  public:
    // `faulty`: a write failure is injected on the descriptor; the calls are
    // then judged by the failure rules.
    writer(int fd, const std::string& mode, Bytes& expected, fuzz::choices& pick,
           bool faulty = false)
        : expected_(expected), pick_(pick), start_(expected.size()), faulty_(faulty) {
        h_ = gz::gzdopen(fd, mode.c_str());
        FUZZ_CHECK(h_ != nullptr);
    }

    // Writes all of [p, end), interleaving the other calls; then closes.
    void run(const unsigned char* p, const unsigned char* end) {
        while (p < end) p = step(p, end);
        if (pick_.one_in(3)) flush(gz::Z_FINISH);
        const int closed = gz::gzclose(h_);
        if (faulty_) {
            // The failure happens by the close at the latest: never a 0 then.
            FUZZ_CHECK(zpress_test::stdio_faults::fired());
            FUZZ_CHECK(closed < 0);
        } else {
            FUZZ_CHECK(closed == 0);
        }
    }

  private:
    std::size_t written() const { return expected_.size() - start_; }

    void accept(const unsigned char* p, int n) { expected_.insert(expected_.end(), p, p + n); }

    // After a failed write to the file, every call fails: checked on the
    // result of each call, and then nothing else about it is.
    bool failed_with(bool failure_value) {
        if (!faulty_ || !zpress_test::stdio_faults::fired()) return false;
        FUZZ_CHECK(failure_value);
        int status = 0;
        gz::gzerror(h_, &status);
        FUZZ_CHECK(status == gz::Z_ERRNO);
        FUZZ_CHECK(gz::gztell(h_) == -1);
        return true;
    }

    void flush(int mode) {
        const int rc = gz::gzflush(h_, mode);
        if (failed_with(rc == gz::Z_ERRNO)) return;
        // Every mode succeeds on a healthy stream, also when the engine has
        // nothing new to give (its "no progress" is not an error).
        if (!finished_) FUZZ_CHECK(rc == gz::Z_OK);
        if (mode == gz::Z_FINISH && rc == gz::Z_OK) finished_ = true;
    }

    const unsigned char* step(const unsigned char* p, const unsigned char* end) {
        const std::size_t left = static_cast<std::size_t>(end - p);
        const std::uint32_t what = pick_.below(100);
        if (what < 55) {
            const std::size_t len = std::min<std::size_t>(pick_.chunk(kMaxChunk), left);
            const int n = gz::gzwrite(h_, p, static_cast<unsigned>(len));
            if (failed_with(n == -1)) return p + len;
            FUZZ_CHECK(n >= 0 && static_cast<std::size_t>(n) <= len);
            if (!finished_) FUZZ_CHECK(static_cast<std::size_t>(n) == len);
            accept(p, n);
            return p + len;
        }
        if (what < 63) {
            flush(static_cast<int>(pick_.below(4)));  // Z_NO_FLUSH .. Z_FULL_FLUSH
        } else if (what < 64) {
            flush(gz::Z_FINISH);
        } else if (what < 70) {
            set_params();
        } else if (what < 76) {
            const int c = static_cast<int>(*p) | (pick_.one_in(4) ? 0x100 : 0);
            const int r = gz::gzputc(h_, c);
            if (failed_with(r == -1)) return p + 1;
            if (!finished_) FUZZ_CHECK(r == *p);
            FUZZ_CHECK(r == *p || r == -1);
            if (r >= 0) accept(p, 1);
            return p + 1;
        } else if (what < 81) {
            // Up to the first NUL, as a C string.
            const std::size_t len =
                std::min<std::size_t>(static_cast<std::size_t>(std::find(p, end, 0) - p),
                                      std::min<std::size_t>(left, pick_.chunk(kMaxChunk)));
            const std::string text(p, p + len);
            const int n = gz::gzputs(h_, text.c_str());
            if (failed_with(n == -1)) return p + std::max<std::size_t>(len, 1);
            FUZZ_CHECK(n >= 0 && static_cast<std::size_t>(n) <= len);
            if (!finished_) FUZZ_CHECK(static_cast<std::size_t>(n) == len);
            accept(p, n);
            return p + std::max<std::size_t>(len, 1);
        } else if (what < 86) {
            // Past the 4096-byte stack buffer now and then.
            const std::size_t len =
                std::min<std::size_t>(static_cast<std::size_t>(std::find(p, end, 0) - p),
                                      std::min<std::size_t>(left, 1 + pick_.below(9000)));
            const std::string text(p, p + len);
            const bool framed = pick_.one_in(2);
            const int n = framed ? gz::gzprintf(h_, "[%s]", text.c_str())
                                 : gz::gzprintf(h_, "%s", text.c_str());
            if (failed_with(n == -1)) return p + std::max<std::size_t>(len, 1);
            const std::string out = framed ? "[" + text + "]" : text;
            FUZZ_CHECK(n >= 0 && static_cast<std::size_t>(n) <= out.size());
            if (!finished_) FUZZ_CHECK(static_cast<std::size_t>(n) == out.size());
            accept(reinterpret_cast<const unsigned char*>(out.data()), n);
            return p + std::max<std::size_t>(len, 1);
        } else if (what < 92) {
            seek_forward();
        } else if (what < 95) {
            FUZZ_CHECK(gz::gzseek(h_, -1, 1) == -1);  // a writer cannot go back
            FUZZ_CHECK(gz::gzseek(h_, 0, 2) == -1);
            // Targets outside 0..INT64_MAX: refused, computed without overflow.
            FUZZ_CHECK(gz::gzseek(h_, INT64_MIN, 0) == -1);
            if (written() > 0) FUZZ_CHECK(gz::gzseek(h_, INT64_MAX, 1) == -1);
            const gz::gz_off_t t = gz::gztell(h_);
            if (!failed_with(t == -1)) FUZZ_CHECK(t == static_cast<gz::gz_off_t>(written()));
        } else {
            const gz::gz_off_t t = gz::gztell(h_);
            if (!failed_with(t == -1)) FUZZ_CHECK(t == static_cast<gz::gz_off_t>(written()));
        }
        return p;
    }

    void set_params() {
        int level = static_cast<int>(pick_.below(11)) - 1;  // -1 .. 9
        int strategy = static_cast<int>(pick_.below(4));
        const bool refused = pick_.one_in(8);
        if (refused) {
            if (pick_.one_in(2))
                level = 10;
            else
                strategy = 5;  // zlib takes 4 (Z_FIXED) too
        }
        const int rc = gz::gzsetparams(h_, level, strategy);
        if (failed_with(rc == gz::Z_ERRNO)) return;
        if (refused)
            FUZZ_CHECK(rc == gz::Z_STREAM_ERROR);
        else if (!finished_)
            FUZZ_CHECK(rc == gz::Z_OK);
    }

    void seek_forward() {
        const gz::gz_off_t gap = static_cast<gz::gz_off_t>(pick_.below(40000));
        const bool relative = pick_.one_in(2);
        const gz::gz_off_t before = static_cast<gz::gz_off_t>(written());
        const gz::gz_off_t r = gz::gzseek(h_, relative ? gap : before + gap, relative ? 1 : 0);
        if (failed_with(r == -1)) return;
        if (r >= 0) {
            FUZZ_CHECK(r == before + gap);
            expected_.insert(expected_.end(), static_cast<std::size_t>(gap), 0);
        } else {
            // Only a finished stream refuses zero fill; nothing was taken.
            FUZZ_CHECK(finished_ && gap > 0);
            FUZZ_CHECK(gz::gztell(h_) == before || gz::gztell(h_) == -1);
        }
    }

    Bytes& expected_;
    fuzz::choices& pick_;
    std::size_t start_;
    gz::gz_handle* h_ = nullptr;
    bool finished_ = false;
    bool faulty_ = false;
};

Bytes read_back(int fd, fuzz::choices& pick) {
    gz::gz_handle* h = gz::gzdopen(fd, "rb");
    FUZZ_CHECK(h != nullptr);
    Bytes got;
    Bytes buf(kMaxChunk);
    for (;;) {
        const std::uint32_t len = pick.chunk(kMaxChunk);
        const int n = gz::gzread(h, buf.data(), len);
        FUZZ_CHECK(n >= 0);
        if (n == 0 && len > 0) break;
        got.insert(got.end(), buf.begin(), buf.begin() + n);
    }
    FUZZ_CHECK(gz::gzread(h, buf.data(), 100) == 0);
    FUZZ_CHECK(gz::gzeof(h) == 1);
    FUZZ_CHECK(gz::gzclose(h) == 0);
    return got;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    const fuzz::split_input in = fuzz::split(input, size);
    fuzz::choices pick(in.seed);
    const int fd = zpress_test::memfd_with({});
    FUZZ_CHECK(fd >= 0);

    Bytes expected;
    const unsigned char* end = in.data + in.size;
    const bool two_members = (in.flags & 0x80) != 0;
    const unsigned char* split_at =
        two_members ? in.data + pick.below(static_cast<std::uint32_t>(in.size + 1)) : end;
    long first_member_calls = 0;
    {
        const int w = dup(fd);
        FUZZ_CHECK(w >= 0);
        zpress_test::stdio_faults::arm(zpress_test::stdio_faults::kind::writes, w,
                                       0);  // counts the calls only
        writer(w, mode_for(in.flags, false), expected, pick).run(in.data, split_at);
        first_member_calls = zpress_test::stdio_faults::calls();
        zpress_test::stdio_faults::disarm();
    }
    const Bytes first_member = zpress_test::file_contents(fd);
    if (two_members) {
        // A second member appended to the same file by a new handle.
        const int w = dup(fd);
        FUZZ_CHECK(w >= 0);
        writer(w, mode_for(in.flags, true), expected, pick).run(split_at, end);
    }

    const Bytes file = zpress_test::file_contents(fd);
    const zpress_test::TolerantResult ref =
        zpress_test::inflate_gzip_tolerant(file, expected.size() + 1);
    FUZZ_CHECK(ref.outcome == Verdict::ok);
    FUZZ_CHECK(ref.trailing == 0);
    FUZZ_CHECK(ref.data == expected);

    FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0);
    FUZZ_CHECK(read_back(fd, pick) == expected);  // closes fd

    // The first member again, with one write of the layer failing once.
    FUZZ_CHECK(first_member_calls > 0);
    fuzz::choices fault_pick(in.seed ^ 0x5EEDFA11u);
    const long fail_at =
        1 + static_cast<long>(fault_pick.below(static_cast<std::uint32_t>(first_member_calls)));
    fuzz::choices replay(in.seed);  // the same calls as the healthy run
    if (two_members) replay.below(static_cast<std::uint32_t>(in.size + 1));
    const int faulty_fd = zpress_test::memfd_with({});
    FUZZ_CHECK(faulty_fd >= 0);
    {
        const int w = dup(faulty_fd);
        FUZZ_CHECK(w >= 0);
        Bytes ignored;
        zpress_test::stdio_faults::arm(zpress_test::stdio_faults::kind::writes, w, fail_at);
        writer(w, mode_for(in.flags, false), ignored, replay, true).run(in.data, split_at);
        zpress_test::stdio_faults::disarm();
    }
    const Bytes damaged = zpress_test::file_contents(faulty_fd);
    close(faulty_fd);
    FUZZ_CHECK(damaged.size() < first_member.size());
    FUZZ_CHECK(std::equal(damaged.begin(), damaged.end(), first_member.begin()));
    return 0;
}
