// Fuzz target: loading an index file, and every seek and read after it.
//
// Input: a flags byte, an 8-byte seed for the sequence of calls, then the
// payload.  Flags bit 0: the payload is the index file itself; otherwise it
// is a list of 13-byte edits (kind, 4-byte offset, 8-byte value; see
// apply_edit) made to a valid index of the stream, built when the target
// starts.  Bit 1: the index's trailing CRC-32 is made right after the edits,
// so that they reach the checks behind it.  Bit 2: the handle seeks and
// reads before the load, so that it has points and a position of its own.
//
// The stream is small and fixed: members with many block ends (flushed every
// few hundred bytes, some not on a byte boundary), an empty member and a
// stored one, so that the index has points of every kind.  It is judged
// against its own plain data:
//  - a refused load gives -1 with EINVAL or ENOMEM and changes nothing: the
//    handle keeps its index, its position and its status;
//  - an index without edits loads, and a loaded index that gzindex_verify
//    accepted never gives a wrong byte or an error;
//  - whatever was loaded: no seek past the real end succeeds, no read
//    delivers a byte past it, a seek that succeeds lands on its target, and
//    a wrong byte is always followed by an error before any end of the data.
// The sanitizers watch for overflows, reads out of bounds and leaks.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "common/check.h"
#include "common/choices.h"
#include "gz_index.h"
#include "mem_file.h"
#include "zlib_oracle.h"
#include "zpress/gzio.h"

namespace {

namespace gz = gzstream;
using zpress_test::Bytes;

constexpr std::size_t kEditSize = 13;
constexpr int kMaxOps = 120;

// Pseudo-text: words from a small list, so that windows deflate well.
Bytes words(std::size_t n, std::uint64_t seed) {
    static const char* const kWords[] = {"index ", "point ",  "window ", "seek ", "\n",
                                         "0123 ",  "zpress ", "member ", "gz ",   "data "};
    fuzz::choices pick(seed);
    Bytes out;
    while (out.size() < n) {
        const char* w = kWords[pick.below(10)];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(n);
    return out;
}

// One member written by the layer's own writer, flushed with `flush` every
// `every` bytes so that deflate blocks end there.
void write_member(int fd, const char* mode, const Bytes& data, std::size_t every, int flush) {
    gz::gz_handle* w = gz::gzdopen(::dup(fd), mode);
    FUZZ_CHECK(w != nullptr);
    for (std::size_t at = 0; at < data.size(); at += every) {
        const std::size_t n = std::min(every, data.size() - at);
        FUZZ_CHECK(gz::gzwrite(w, data.data() + at, static_cast<unsigned>(n)) ==
                   static_cast<int>(n));
        FUZZ_CHECK(gz::gzflush(w, flush) == gz::Z_OK);
    }
    FUZZ_CHECK(gz::gzclose(w) == 0);
}

struct fixture {
    Bytes plain;
    Bytes stream;
    Bytes index;  // saved after gzindex_build with a point at every block end
    std::string dir;
};

Bytes read_fd(int fd) {
    struct stat st;
    FUZZ_CHECK(::fstat(fd, &st) == 0);
    Bytes b(static_cast<std::size_t>(st.st_size));
    FUZZ_CHECK(::pread(fd, b.data(), b.size(), 0) == static_cast<ssize_t>(b.size()));
    return b;
}

void write_new(const std::string& path, const Bytes& data) {
    ::unlink(path.c_str());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size()));
    ::close(fd);
}

gz::gz_handle* open_stream(const fixture& f) {
    const int fd = zpress_test::memfd_with(f.stream);
    FUZZ_CHECK(fd >= 0);
    gz::gz_handle* h = gz::gzdopen(fd, "rb");
    FUZZ_CHECK(h != nullptr);
    return h;
}

const fixture& the_fixture() {
    static const fixture made = [] {
        fixture f;
        const Bytes a = words(5000, 1), b = words(6000, 2), c = words(700, 3);
        const int fd = zpress_test::memfd_with({});
        FUZZ_CHECK(fd >= 0);
        write_member(fd, "wb6", a, 600, gz::Z_PARTIAL_FLUSH);  // block ends between bytes
        write_member(fd, "wb", {}, 1, gz::Z_NO_FLUSH);         // an empty member
        write_member(fd, "wb1", b, 900, gz::Z_SYNC_FLUSH);
        write_member(fd, "wb0", c, 700, gz::Z_NO_FLUSH);  // stored
        f.stream = read_fd(fd);
        ::close(fd);
        f.plain = a;
        f.plain.insert(f.plain.end(), b.begin(), b.end());
        f.plain.insert(f.plain.end(), c.begin(), c.end());

        // Scratch files in memory where the system has it: nothing reaches a disk.
        std::string base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = base + "/zpress-index-fuzz-XXXXXX";
        FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
        f.dir = pattern;

        gz::gz_handle* h = open_stream(f);
        FUZZ_CHECK(gz::index_configure(h, 1, gz::kIndexMemoryLimit));
        FUZZ_CHECK(gz::gzindex_build(h) == 0);
        const std::string path = f.dir + "/valid.idx";
        FUZZ_CHECK(gz::gzindex_save(h, path.c_str()) == 0);
        FUZZ_CHECK(gz::gzclose(h) == 0);
        const int ifd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        f.index = read_fd(ifd);
        ::close(ifd);
        ::unlink(path.c_str());
        // Seeds for the raw mode, when asked for: the valid index as it is.
        if (const char* out = std::getenv("ZPRESS_INDEX_FUZZ_SEED")) {
            Bytes seed = {1, 0, 0, 0, 0, 0, 0, 0, 0};
            seed.insert(seed.end(), f.index.begin(), f.index.end());
            write_new(out, seed);
        }
        return f;
    }();
    return made;
}

std::uint64_t le(const std::uint8_t* p, int n) {
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

// kind % 8: 0 set a byte, 1 xor a byte, 2 a 32-bit value, 3 a 64-bit value,
// 4 cut the file there, 5 insert a byte, 6 remove up to 64 bytes, 7 add to a
// 64-bit value.
void apply_edit(Bytes& index, const std::uint8_t* e) {
    if (index.empty()) return;
    const std::size_t at = static_cast<std::size_t>(le(e + 1, 4) % index.size());
    const std::uint64_t value = le(e + 5, 8);
    auto put = [&](int n, std::uint64_t v) {
        for (int i = 0; i < n && at + static_cast<std::size_t>(i) < index.size(); ++i)
            index[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    switch (e[0] % 8) {
        case 0:
            put(1, value);
            break;
        case 1:
            index[at] ^= static_cast<std::uint8_t>(value | 1);
            break;
        case 2:
            put(4, value);
            break;
        case 3:
            put(8, value);
            break;
        case 4:
            index.resize(at);
            break;
        case 5:
            index.insert(index.begin() + static_cast<std::ptrdiff_t>(at),
                         static_cast<std::uint8_t>(value));
            break;
        case 6: {
            const std::size_t n = std::min<std::size_t>(value % 64, index.size() - at);
            index.erase(index.begin() + static_cast<std::ptrdiff_t>(at),
                        index.begin() + static_cast<std::ptrdiff_t>(at + n));
            break;
        }
        default:
            if (at + 8 <= index.size()) put(8, le(index.data() + at, 8) + value);
            break;
    }
}

void fix_crc(Bytes& index) {
    if (index.size() < 4) return;
    const std::uint32_t crc = zpress_test::crc32_of({index.data(), index.size() - 4});
    for (int i = 0; i < 4; ++i)
        index[index.size() - 4 + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(crc >> (8 * i));
}

int status_of(gz::gz_handle* h) {
    int status = 0;
    gz::gzerror(h, &status);
    return status;
}

// Calls after a load, judged against the plain data.
class session {
  public:
    session(const fixture& f, gz::gz_handle* h, fuzz::choices& pick, bool strict)
        : f_(f),
          h_(h),
          pick_(pick),
          strict_(strict),
          size_(static_cast<std::int64_t>(f.plain.size())),
          buf_(70000) {
        pos_ = gz::gztell(h_);
    }

    void run() {
        for (int op = 0; op < kMaxOps; ++op) step();
    }

  private:
    // Back to a known place after an error: the rewind clears it.
    void resync() {
        FUZZ_CHECK(gz::gzrewind(h_) == 0);
        pos_ = 0;
    }

    // A wrong byte, or an error on the way: only a doubtful index may cause
    // either, and the data must then end in an error, never in an end.
    void went_wrong(bool wrong_bytes) {
        FUZZ_CHECK(!strict_);
        if (wrong_bytes) {
            int n = 0;
            for (int i = 0; i < 100 && (n = gz::gzread(h_, buf_.data(), 65536)) > 0; ++i) {
            }
            FUZZ_CHECK(n == -1);
        }
        resync();
    }

    void read(std::uint32_t len) {
        const int n = gz::gzread(h_, buf_.data(), len);
        FUZZ_CHECK(n >= -1 && n <= static_cast<int>(len));
        if (n > 0) {
            // Never a byte past the real end, and each one the data's own.
            FUZZ_CHECK(pos_ + n <= size_);
            const bool right = std::equal(buf_.begin(), buf_.begin() + n,
                                          f_.plain.begin() + static_cast<std::ptrdiff_t>(pos_));
            pos_ += n;
            if (!right) went_wrong(true);
            return;
        }
        if (n == 0 && len != 0) {
            FUZZ_CHECK(pos_ == size_);  // an end only at the end
            return;
        }
        if (n < 0) went_wrong(false);
    }

    void seek() {
        std::int64_t target;
        switch (pick_.below(6)) {
            case 0:
                target = size_ + 1 + pick_.below(100);
                break;
            case 1:
                target = std::numeric_limits<std::int64_t>::max() - pick_.below(3);
                break;
            case 2:
                target = size_ - pick_.below(50);
                break;
            default:
                target = pick_.below(static_cast<std::uint32_t>(size_) + 1);
                break;
        }
        // Relative to where the stream stands: both lie in 0..INT64_MAX, so
        // their difference cannot overflow.
        const bool relative = pick_.one_in(3);
        const std::int64_t absolute = target;
        const gz::gz_off_t r = gz::gzseek(h_, relative ? target - pos_ : target, relative ? 1 : 0);
        if (absolute > size_ || absolute < 0) {
            FUZZ_CHECK(r == -1);  // never past the real end
            if (status_of(h_) < 0)
                went_wrong(false);
            else
                pos_ = gz::gztell(h_);
            return;
        }
        if (r >= 0) {
            FUZZ_CHECK(r == absolute);
            pos_ = r;
        } else {
            went_wrong(false);
        }
    }

    void step() {
        const std::uint32_t what = pick_.below(100);
        if (what < 40) {
            read(pick_.chunk(70000));
        } else if (what < 75) {
            seek();
        } else if (what < 85) {
            const int c = gz::gzgetc(h_);
            if (c >= 0) {
                FUZZ_CHECK(pos_ < size_);
                const bool right = c == f_.plain[static_cast<std::size_t>(pos_)];
                ++pos_;
                if (!right) went_wrong(true);
            } else if (status_of(h_) < 0) {
                went_wrong(false);
            } else {
                FUZZ_CHECK(pos_ == size_);
            }
        } else if (what < 89) {
            resync();
        } else if (what < 93) {
            const int r = gz::gzindex_build(h_);
            if (r == 0) {
                FUZZ_CHECK(gz::gztell(h_) == pos_);
            } else {
                went_wrong(false);
            }
        } else if (what < 97) {
            const int r = gz::gzindex_verify(h_);
            if (r == 0) {
                FUZZ_CHECK(gz::gztell(h_) == pos_);
                strict_ = true;  // every point now agrees with the data
            } else if (status_of(h_) < 0) {
                went_wrong(false);
            } else {
                FUZZ_CHECK(gz::gztell(h_) == pos_);
            }
        } else {
            // A saved copy loads into a second handle and reads right.
            const std::string path = f_.dir + "/resaved.idx";
            if (gz::gzindex_save(h_, path.c_str()) != 0) return;
            gz::gz_handle* other = open_stream(f_);
            if (gz::gzindex_load(other, path.c_str()) == 0) {
                const std::int64_t at = pick_.below(static_cast<std::uint32_t>(size_));
                if (gz::gzseek(other, at, 0) == at) {
                    const int n = gz::gzread(other, buf_.data(), 1000);
                    if (n > 0 && strict_)
                        FUZZ_CHECK(std::equal(buf_.begin(), buf_.begin() + n,
                                              f_.plain.begin() + static_cast<std::ptrdiff_t>(at)));
                }
            }
            FUZZ_CHECK(gz::gzclose(other) <= 0);
            ::unlink(path.c_str());
        }
    }

    const fixture& f_;
    gz::gz_handle* h_;
    fuzz::choices& pick_;
    bool strict_;
    std::int64_t size_;
    std::int64_t pos_ = 0;
    Bytes buf_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    const fixture& f = the_fixture();
    const fuzz::split_input in = fuzz::split(input, size);
    const bool raw = (in.flags & 1) != 0;
    Bytes index;
    std::size_t edits = 0;
    if (raw) {
        index.assign(in.data, in.data + in.size);
    } else {
        index = f.index;
        for (std::size_t at = 0; at + kEditSize <= in.size && edits < 64; at += kEditSize, ++edits)
            apply_edit(index, in.data + at);
    }
    if ((in.flags & 2) != 0) fix_crc(index);
    const std::string path = f.dir + "/under-test.idx";
    write_new(path, index);

    fuzz::choices pick(in.seed);
    gz::gz_handle* h = open_stream(f);
    if ((in.flags & 4) != 0) {
        const std::int64_t at = pick.below(static_cast<std::uint32_t>(f.plain.size()));
        FUZZ_CHECK(gz::gzseek(h, at, 0) == at);
        FUZZ_CHECK(gz::gzseek(h, at / 2, 0) == at / 2);
    }
    const gz::point_index* before = gz::index_of(h);
    const std::size_t points = before != nullptr ? before->point_count() : 0;
    const gz::gz_off_t position = gz::gztell(h);
    errno = 0;
    const int rc = gz::gzindex_load(h, path.c_str());
    const bool untouched = !raw && index == f.index;
    if (rc != 0) {
        FUZZ_CHECK(rc == -1);
        FUZZ_CHECK(errno == EINVAL || errno == ENOMEM);
        FUZZ_CHECK(!untouched);
        // A refused load changes nothing.
        FUZZ_CHECK(gz::index_of(h) == before);
        if (before != nullptr) FUZZ_CHECK(before->point_count() == points);
        FUZZ_CHECK(gz::gztell(h) == position);
        FUZZ_CHECK(status_of(h) == 0);
    }
    session(f, h, pick, rc != 0 || untouched).run();
    FUZZ_CHECK(gz::gzclose(h) <= 0);
    ::unlink(path.c_str());
    return 0;
}
