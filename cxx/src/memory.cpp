// Whole buffers in memory: gzip through the stream layer on stdio streams
// over memory, .Z through the codec on functions over memory.  Nothing goes
// through a file, so no file size limit applies.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "errors.h"
#include "gzfile_access.h"
#include "lzw_handle.h"
#include "stdio_bridge.h"
#include "zpress/zopen.h"
#include "zpress/zpress.hpp"

namespace zpress {
namespace {

constexpr const char kName[] = "<memory>";

// Room for the output of a decoder: a first guess from the input's size
// (never a huge block up front), doubled whenever it fills, never past one
// byte over `limit` (so that passing it shows).  Grows `out` and returns
// where the next bytes go.
char* room_in(std::string& out, std::size_t have, std::size_t input_size, std::size_t limit) {
    constexpr std::size_t kFirstLeast = std::size_t{64} << 10;
    constexpr std::size_t kFirstMost = std::size_t{64} << 20;
    if (have == out.size()) {
        const std::size_t first = std::clamp(input_size / 2 * 7, kFirstLeast, kFirstMost);
        std::size_t size = out.empty() ? first : out.size() * 2;
        if (limit < SIZE_MAX) size = std::min(size, limit + 1);
        out.resize(size);
    }
    return out.data() + have;
}

error out_of_memory() { return error(detail::kMemError, std::string(kName) + ": out of memory"); }

// Runs a whole-buffer call: running out of memory is a zpress::error too.
template <typename Call>
std::string whole(Call call) {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        throw out_of_memory();
    }
}

// A call of `gz` over the bridge `through`, whose exception (out of memory
// while the output grew) comes back as what it was.
template <typename Call>
decltype(auto) over(detail::bridge& through, Call call) {
    try {
        return call();
    } catch (const error&) {
        through.rethrow_kept(kName);
        throw;
    }
}

// The .Z codec's input and output in memory.
struct memory_cursor {
    std::string_view data;
    std::size_t at = 0;
};

long read_memory(void* context, unsigned char* buf, std::size_t n) {
    auto& from = *static_cast<memory_cursor*>(context);
    n = std::min(n, from.data.size() - from.at);
    std::memcpy(buf, from.data.data() + from.at, n);
    from.at += n;
    return static_cast<long>(n);
}

int append_to(void* context, const unsigned char* buf, std::size_t n) {
    try {
        static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(buf), n);
        return 0;
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return -1;
    }
}

std::string compress_gzip(std::string_view data, int level, const gzip_header* header) {
    const std::string mode = detail::gzip_write_mode(kName, level);
    std::string out;
    const auto through = detail::bridge::writer_into(out);
    over(*through, [&] {
        gzfile gz = detail::gzfile_access::over(through->take_file(), kName, mode.c_str(), header);
        gz.write(data);
        gz.close();
    });
    return out;
}

}  // namespace

std::string gzip_compress(std::string_view data, int level) {
    return whole([&] { return compress_gzip(data, level, nullptr); });
}

std::string gzip_compress(std::string_view data, int level, const gzip_header& header) {
    return whole([&] { return compress_gzip(data, level, &header); });
}

std::string gzip_decompress(std::string_view gz, gzip_header* header, std::size_t max_size) {
    // The stream layer hands plain data through; here only gzip is wanted.
    if (gz.size() < 2 || gz[0] != '\x1f' || gz[1] != '\x8b')
        throw error(detail::kDataError, std::string(kName) + ": not gzip data");
    return whole([&] {
        const auto through = detail::bridge::reader_over(gz);
        gzfile in = detail::gzfile_access::over(through->take_file(), kName, "rb");
        std::string out;
        std::size_t have = 0;
        for (;;) {
            char* const at = room_in(out, have, gz.size(), max_size);
            const std::size_t got =
                in.read(std::as_writable_bytes(std::span(at, out.size() - have)));
            if (got == 0) break;
            have += got;
            if (have > max_size)
                throw error(detail::kBufError, std::string(kName) + ": the data is longer than " +
                                                   std::to_string(max_size) + " bytes");
        }
        if (header != nullptr) *header = in.header();
        in.close();
        out.resize(have);
        return out;
    });
}

std::string lzw_compress(std::string_view data, int bits) {
    if (bits < 9 || bits > 16) throw detail::bad_width(kName, bits);
    // The codec writes nothing at all for no data; the header alone is a
    // stream that any reader decodes to nothing.
    if (data.empty()) return {'\x1f', '\x9d', static_cast<char>(0x80 | bits)};
    return whole([&] {
        std::string out;
        const lzw::lzw_io io{.context = &out, .read = nullptr, .write = append_to};
        detail::lzw_handle z(kName, io, "w", bits);
        z.write_all(data.data(), data.size());
        z.close();
        return out;
    });
}

std::string lzw_decompress(std::string_view z) {
    return whole([&] {
        memory_cursor from{.data = z};
        const lzw::lzw_io io{.context = &from, .read = read_memory, .write = nullptr};
        detail::lzw_handle in(kName, io, "r", 0);
        std::string out;
        std::size_t have = 0;
        for (;;) {
            char* const at = room_in(out, have, z.size(), SIZE_MAX);
            const int got = lzw::zread(in.get(), reinterpret_cast<unsigned char*>(at),
                                       detail::lzw_piece(out.size() - have));
            if (got < 0) throw detail::lzw_read_failure(kName, errno);
            if (got == 0) break;
            have += static_cast<std::size_t>(got);
        }
        in.close();
        out.resize(have);
        return out;
    });
}

}  // namespace zpress
