#include "test_data.h"

#include <algorithm>
#include <array>
#include <random>
#include <string_view>

namespace zpress_test {
namespace {

// Words with lines of varying length: compresses like prose, with newlines
// for line-oriented reads.
void append_text(Bytes& out, std::size_t size, std::mt19937& rng) {
    static constexpr std::array<std::string_view, 16> words = {
        "stream", "member", "deflate", "header", "trailer", "window", "block", "length",
        "the",    "a",      "of",      "zpress", "gzip",    "crc",    "byte",  "seek"};
    std::size_t column = 0;
    while (out.size() < size) {
        const std::string_view word = words[rng() % words.size()];
        out.insert(out.end(), word.begin(), word.end());
        column += word.size() + 1;
        if (column > 20 + rng() % 60) {
            out.push_back('\n');
            column = 0;
        } else {
            out.push_back(' ');
        }
    }
    out.resize(size);
}

void append_random(Bytes& out, std::size_t size, std::mt19937& rng) {
    while (out.size() < size) out.push_back(static_cast<unsigned char>(rng()));
}

}  // namespace

std::string to_string(DataKind kind) {
    switch (kind) {
        case DataKind::text:
            return "text";
        case DataKind::random:
            return "random";
        case DataKind::zeros:
            return "zeros";
        case DataKind::mixed:
            return "mixed";
    }
    return "?";
}

Bytes make_data(DataKind kind, std::size_t size, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out;
    out.reserve(size);
    switch (kind) {
        case DataKind::text:
            append_text(out, size, rng);
            break;
        case DataKind::random:
            append_random(out, size, rng);
            break;
        case DataKind::zeros:
            out.assign(size, 0);
            break;
        case DataKind::mixed:
            // Runs of each kind, so block types and match lengths change
            // inside one stream.
            while (out.size() < size) {
                const std::size_t run = std::min<std::size_t>(size - out.size(), 1 + rng() % 9000);
                const std::size_t target = out.size() + run;
                switch (rng() % 3) {
                    case 0:
                        append_text(out, target, rng);
                        break;
                    case 1:
                        append_random(out, target, rng);
                        break;
                    default:
                        out.resize(target, static_cast<unsigned char>(rng() % 4 == 0 ? 'x' : 0));
                        break;
                }
            }
            break;
    }
    return out;
}

}  // namespace zpress_test
