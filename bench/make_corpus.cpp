// Writes the benchmark corpus, the same bytes on every machine:
//
//   zpress_corpus [--quick] OUTDIR
//
//   text.bin    48 MiB source-code-like text
//   binary.bin  48 MiB machine-code-like binary
//   random.bin  16 MiB incompressible bytes
//   zeros.bin   64 MiB of zero bytes
//
// --quick makes each file a 24th of that size (text and binary 2 MiB).
//
// All four come from the test suites' seeded data generator (test_data.h).
// run.py records the files' sha256 sums beside them and compares them with
// the reference sums.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "test_data.h"

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

// Changing a seed or a model changes the reference corpus: update the sums
// in run.py and bench/README.md with it.
constexpr std::uint32_t kTextSeed = 1;
constexpr std::uint32_t kBinarySeed = 2;
constexpr std::uint32_t kRandomSeed = 3;

bool write_file(const std::string& path, const zpress_test::Bytes& data) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::fprintf(stderr, "zpress_corpus: %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    const bool written = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    const int write_errno = errno;
    if (std::fclose(f) != 0 || !written) {
        std::fprintf(stderr, "zpress_corpus: %s: %s\n", path.c_str(),
                     std::strerror(written ? errno : write_errno));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc == 3 && std::string_view(argv[1]) == "--quick";
    const char* dir = argc == 2 ? argv[1] : quick ? argv[2] : nullptr;
    if (dir == nullptr || dir[0] == '-') {
        std::fprintf(stderr, "usage: zpress_corpus [--quick] OUTDIR\n");
        return 2;
    }
    const std::string out = std::string(dir) + "/";
    const std::size_t unit = quick ? kMiB / 24 : kMiB;  // quick: 48 MiB becomes 2 MiB

    using zpress_test::DataKind;
    using zpress_test::make_data;
    const bool ok =
        write_file(out + "text.bin", make_data(DataKind::text, 48 * unit, kTextSeed)) &&
        write_file(out + "binary.bin", make_data(DataKind::binary, 48 * unit, kBinarySeed)) &&
        write_file(out + "random.bin", make_data(DataKind::random, 16 * unit, kRandomSeed)) &&
        write_file(out + "zeros.bin", make_data(DataKind::zeros, 64 * unit, 0));
    return ok ? 0 : 1;
}
