#include "test_support.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <memory>
#include <random>
#include <string>

namespace lzw_test {

int memfd_with(const bytes& content) {
    const int fd = memfd_create("lzw-test", 0);
    if (fd < 0) ADD_FAILURE() << "memfd_create: " << errno;
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n <= 0) {
            ADD_FAILURE() << "write to memfd failed";
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    lseek(fd, 0, SEEK_SET);
    return fd;
}

bytes file_contents(int fd) {
    bytes all;
    lseek(fd, 0, SEEK_SET);
    std::array<unsigned char, 65536> chunk{};
    ssize_t n;
    while ((n = read(fd, chunk.data(), chunk.size())) > 0)
        all.insert(all.end(), chunk.begin(), chunk.begin() + n);
    return all;
}

size_source fixed_size(int n) {
    return [n] { return n; };
}

size_source random_sizes(std::uint32_t seed, int max) {
    auto rng = std::make_shared<rng32>(seed);
    return [rng, max] {
        // Mostly small sizes, now and then a large one.
        const std::uint32_t r = (*rng)();
        const auto cap = (r & 7) == 0 ? static_cast<std::uint32_t>(max) : 64u;
        return static_cast<int>(1 + ((r >> 3) % cap));
    };
}

bytes compress(const bytes& in, int bits, const size_source& sizes, lzw::lzw_info* info) {
    const int fd = memfd_create("lzw-out", 0);
    const int keep = dup(fd);  // z_close closes fd; the copy reads the result back
    lzw::lzw_handle* zs = lzw::z_open(fd, "w", 0, bits, 0, 0);
    EXPECT_NE(zs, nullptr);
    if (zs == nullptr) return {};
    std::size_t done = 0;
    while (done < in.size()) {
        const int n = std::min(sizes(), static_cast<int>(in.size() - done));
        EXPECT_EQ(lzw::zwrite(zs, in.data() + done, n), n);
        done += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(lzw::z_close(zs, info), 0);
    bytes out = file_contents(keep);
    close(keep);
    return out;
}

decoded decompress_fd(int fd, bool gotmagic, const size_source& sizes) {
    decoded d;
    lzw::lzw_handle* zs = lzw::z_open(fd, "r", 0, 0, 0, gotmagic ? 1 : 0);
    EXPECT_NE(zs, nullptr);
    if (zs == nullptr) return d;
    std::vector<unsigned char> buf;
    for (;;) {
        const int want = sizes();
        buf.resize(static_cast<std::size_t>(want));
        const int got = lzw::zread(zs, buf.data(), want);
        ++d.calls;
        d.last = got;
        if (got < 0) d.error = errno;
        if (got <= 0) break;
        EXPECT_LE(got, want);
        d.data.insert(d.data.end(), buf.begin(), buf.begin() + got);
        // A short result only comes with the end of the stream.
        if (got < want) {
            const int after = lzw::zread(zs, buf.data(), want);
            ++d.calls;
            EXPECT_EQ(after, 0) << "data after a short read";
            d.last = after;
            if (after < 0) d.error = errno;
            break;
        }
    }
    EXPECT_EQ(lzw::z_close(zs, &d.info), 0);
    return d;
}

decoded decompress(const bytes& z, const size_source& sizes, bool gotmagic) {
    const std::size_t skip = gotmagic ? std::min<std::size_t>(2, z.size()) : 0;
    return decompress_fd(memfd_with(bytes(z.begin() + static_cast<long>(skip), z.end())), gotmagic,
                         sizes);
}

void interrupt_with(int sig) {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART
    sigaction(sig, &action, nullptr);
}

bytes text_like(std::size_t n, std::uint32_t seed) {
    static const std::array<const char*, 40> words = {
        "the",      "of",        "and",      "static", "const",  "return",   "if",      "else",
        "for",      "while",     "struct",   "int",    "char",   "unsigned", "buffer",  "length",
        "stream",   "handle",    "table",    "code",   "width",  "group",    "reader",  "writer",
        "#include", "namespace", "template", "void",   "size_t", "errno",    "nullptr", "=",
        "==",       "{",         "}",        "(",      ")",      ";",        "->",      "::"};
    rng32 rng(seed);
    std::string s;
    s.reserve(n + 64);
    while (s.size() < n) {
        const std::uint32_t r = rng();
        s.append((r >> 8) % 4 * 4, ' ');
        const std::uint32_t count = 2 + (r >> 12) % 10;
        for (std::uint32_t w = 0; w < count; ++w) {
            const std::uint32_t pick = rng();
            if (pick % 13 == 0) {
                s += "id_" + std::to_string(pick % 997);  // identifiers, numbers
            } else {
                s += words[pick % words.size()];
            }
            s += ' ';
        }
        s += '\n';
    }
    s.resize(n);
    return bytes(s.begin(), s.end());
}

bytes binary_like(std::size_t n, std::uint32_t seed) {
    // Records of little-endian fields: a counter, small flags, a pointer-like
    // value sharing its high bytes, and a short name.
    rng32 rng(seed);
    bytes b;
    b.reserve(n + 32);
    std::uint32_t counter = rng() % 1000;
    while (b.size() < n) {
        const std::uint32_t r = rng();
        counter += 1 + r % 3;
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(counter >> (8 * i)));
        b.push_back(static_cast<unsigned char>(r >> 8 & 0x3));
        b.push_back(0);
        const std::uint64_t ptr = 0x00007F3A12000000ull + ((r >> 10) & 0xFFF) * 16;
        for (int i = 0; i < 8; ++i) b.push_back(static_cast<unsigned char>(ptr >> (8 * i)));
        const char* names[] = {"main", "init", "read", "write", "close"};
        for (const char* p = names[r % 5]; *p != '\0'; ++p)
            b.push_back(static_cast<unsigned char>(*p));
        b.push_back(0);
    }
    b.resize(n);
    return b;
}

bytes random_bytes(std::size_t n, std::uint32_t seed) {
    rng32 rng(seed);
    bytes b(n);
    for (auto& x : b) x = static_cast<unsigned char>(rng() >> 24);
    return b;
}

bytes runs(std::size_t n, std::uint32_t seed) {
    rng32 rng(seed);
    bytes b;
    b.reserve(n);
    while (b.size() < n) {
        const std::uint32_t r = rng();
        b.insert(b.end(), 1 + (r >> 8) % 3000, static_cast<unsigned char>(r % 4 == 0 ? 0 : r));
    }
    b.resize(n);
    return b;
}

bytes mixed(std::size_t n, std::uint32_t seed) {
    rng32 rng(seed);
    bytes b;
    b.reserve(n);
    while (b.size() < n) {
        const std::uint32_t r = rng();
        const std::size_t piece = std::min<std::size_t>(n - b.size(), 20000 + r % 400000);
        bytes part;
        switch ((r >> 24) % 4) {
            case 0:
                part = text_like(piece, r);
                break;
            case 1:
                part = binary_like(piece, r);
                break;
            case 2:
                part = random_bytes(piece, r);
                break;
            default:
                part = runs(piece, r);
                break;
        }
        b.insert(b.end(), part.begin(), part.end());
    }
    return b;
}

}  // namespace lzw_test
