#include "lzw_test_util.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <memory>

#include "mem_file.h"
#include "seeded_rng.h"

namespace lzw_test {

size_source fixed_size(int n) {
    return [n] { return n; };
}

size_source random_sizes(std::uint32_t seed, int max) {
    auto rng = std::make_shared<zpress_test::SeededRng>(seed);
    return [rng, max] {
        // Mostly small sizes, now and then a large one.
        const std::uint32_t r = (*rng)();
        const auto cap = (r & 7) == 0 ? static_cast<std::uint32_t>(max) : 64u;
        return static_cast<int>(1 + ((r >> 3) % cap));
    };
}

Bytes compress(const Bytes& in, int bits, const size_source& sizes, lzw::lzw_info* info) {
    const int fd = zpress_test::memfd_with({});
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
    Bytes out = zpress_test::file_contents(keep);
    close(keep);
    return out;
}

decoded decompress_fd(int fd, bool gotmagic, const size_source& sizes) {
    decoded d;
    lzw::lzw_handle* zs = lzw::z_open(fd, "r", 0, 0, 0, gotmagic ? 1 : 0);
    EXPECT_NE(zs, nullptr);
    if (zs == nullptr) return d;
    Bytes buf;
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

decoded decompress(const Bytes& z, const size_source& sizes, bool gotmagic) {
    const std::size_t skip = gotmagic ? std::min<std::size_t>(2, z.size()) : 0;
    return decompress_fd(zpress_test::memfd_with(zpress_test::ByteView(z).subspan(skip)), gotmagic,
                         sizes);
}

void interrupt_with(int sig) {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART
    sigaction(sig, &action, nullptr);
}

}  // namespace lzw_test
