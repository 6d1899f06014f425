#include "test_data.h"

#include <algorithm>

#include "seeded_rng.h"

namespace zpress_test {

Bytes random_bytes(std::size_t size, std::uint32_t seed) {
    SeededRng rng(seed);
    Bytes out(size);
    for (auto& b : out) b = static_cast<unsigned char>(rng.next());
    return out;
}

Bytes runs(std::size_t size, std::uint32_t seed) {
    SeededRng rng(seed);
    Bytes out;
    out.reserve(size + 3000);
    while (out.size() < size) {
        const std::uint32_t r = rng.next();
        out.insert(out.end(), 1 + (r >> 8) % 3000, static_cast<unsigned char>(r % 4 == 0 ? 0 : r));
    }
    out.resize(size);
    return out;
}

Bytes mixed(std::size_t size, std::uint32_t seed) {
    SeededRng rng(seed);
    // Short pieces in short inputs, so that even they change kind; long ones
    // in long inputs, so that each kind lasts past the LZW writer's checks.
    const std::size_t longest = std::max<std::size_t>(9000, size / 8);
    Bytes out;
    out.reserve(size);
    while (out.size() < size) {
        const std::size_t piece = std::min(size - out.size(), rng.between(1, longest));
        const std::uint32_t piece_seed = rng.next();
        Bytes part;
        switch (rng.below(4)) {
            case 0:
                part = text_like(piece, piece_seed);
                break;
            case 1:
                part = binary_like(piece, piece_seed);
                break;
            case 2:
                part = random_bytes(piece, piece_seed);
                break;
            default:
                part = runs(piece, piece_seed);
                break;
        }
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

std::string to_string(DataKind kind) {
    switch (kind) {
        case DataKind::text:
            return "text";
        case DataKind::binary:
            return "binary";
        case DataKind::random:
            return "random";
        case DataKind::runs:
            return "runs";
        case DataKind::zeros:
            return "zeros";
        case DataKind::mixed:
            return "mixed";
    }
    return "?";
}

Bytes make_data(DataKind kind, std::size_t size, std::uint32_t seed) {
    switch (kind) {
        case DataKind::text:
            return text_like(size, seed);
        case DataKind::binary:
            return binary_like(size, seed);
        case DataKind::random:
            return random_bytes(size, seed);
        case DataKind::runs:
            return runs(size, seed);
        case DataKind::zeros:
            break;
        case DataKind::mixed:
            return mixed(size, seed);
    }
    return Bytes(size, 0);
}

}  // namespace zpress_test
