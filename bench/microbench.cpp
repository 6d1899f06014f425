// Microbenchmarks of the hot loops: gzwrite, gzread, zwrite and zread over
// memory-backed descriptors (memfd), so that a change to either stream layer
// can be judged in seconds without touching a disk.
//
// The input is 4 MiB of the corpus's text-like data (same bytes on every run),
// or the file named by the environment variable ZPRESS_MICROBENCH_INPUT.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "mem_file.h"
#include "test_data.h"
#include "zpress/gzio.h"
#include "zpress/zopen.h"

namespace {

constexpr std::size_t kBlock = 16384;
constexpr std::size_t kGeneratedSize = 4u << 20;

const zpress_test::Bytes& input() {
    static const zpress_test::Bytes data = [] {
        if (const char* path = std::getenv("ZPRESS_MICROBENCH_INPUT")) {
            std::ifstream f(path, std::ios::binary);
            zpress_test::Bytes d((std::istreambuf_iterator<char>(f)),
                                 std::istreambuf_iterator<char>());
            if (!d.empty()) return d;
            std::fprintf(stderr, "microbench: cannot read %s, using generated data\n", path);
        }
        return zpress_test::text_like(kGeneratedSize, 1);
    }();
    return data;
}

// An anonymous in-memory file.  The stream layers own the descriptors they
// are given, so each open gets a dup() sharing this file and its offset.
class mem_file {
  public:
    mem_file() : fd_(zpress_test::memfd_with({})) {}
    ~mem_file() { ::close(fd_); }
    mem_file(const mem_file&) = delete;
    mem_file& operator=(const mem_file&) = delete;

    // A descriptor positioned at the start; empty = also drop the contents.
    int fresh_fd(bool empty) {
        if (empty && ::ftruncate(fd_, 0) != 0) std::abort();
        if (::lseek(fd_, 0, SEEK_SET) != 0) std::abort();
        return ::dup(fd_);
    }
    off_t size() const { return ::lseek(fd_, 0, SEEK_END); }

  private:
    int fd_;
};

bool gz_compress_into(mem_file& file, const zpress_test::Bytes& data, int level) {
    const char mode[] = {'w', 'b', static_cast<char>('0' + level), '\0'};
    gzstream::gz_handle* gz = gzstream::gzdopen(file.fresh_fd(true), mode);
    if (gz == nullptr) return false;
    bool ok = true;
    for (std::size_t at = 0; ok && at < data.size(); at += kBlock) {
        const auto n = static_cast<unsigned>(std::min(kBlock, data.size() - at));
        ok = gzstream::gzwrite(gz, data.data() + at, n) == static_cast<int>(n);
    }
    return gzstream::gzclose(gz) == 0 && ok;
}

bool gz_decompress_from(mem_file& file, std::size_t expected) {
    static unsigned char buf[kBlock];
    gzstream::gz_handle* gz = gzstream::gzdopen(file.fresh_fd(false), "rb");
    if (gz == nullptr) return false;
    std::size_t total = 0;
    int n;
    while ((n = gzstream::gzread(gz, buf, kBlock)) > 0) total += static_cast<std::size_t>(n);
    return gzstream::gzclose(gz) == 0 && n == 0 && total == expected;
}

bool z_compress_into(mem_file& file, const zpress_test::Bytes& data) {
    lzw::lzw_handle* zs = lzw::z_open(file.fresh_fd(true), "w", 0, 16, 0, 0);
    if (zs == nullptr) return false;
    bool ok = true;
    for (std::size_t at = 0; ok && at < data.size(); at += kBlock) {
        const int n = static_cast<int>(std::min(kBlock, data.size() - at));
        ok = lzw::zwrite(zs, data.data() + at, n) == n;
    }
    return lzw::z_close(zs, nullptr) == 0 && ok;
}

bool z_decompress_from(mem_file& file, std::size_t expected) {
    static unsigned char buf[kBlock];
    lzw::lzw_handle* zs = lzw::z_open(file.fresh_fd(false), "r", 0, 0, 0, 0);
    if (zs == nullptr) return false;
    std::size_t total = 0;
    int n;
    while ((n = lzw::zread(zs, buf, static_cast<int>(kBlock))) > 0)
        total += static_cast<std::size_t>(n);
    return lzw::z_close(zs, nullptr) == 0 && n == 0 && total == expected;
}

// Throughput in uncompressed bytes, and the compressed size as a fraction.
void report(benchmark::State& state, const mem_file& file) {
    const auto& data = input();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(data.size()));
    state.counters["ratio"] = static_cast<double>(file.size()) / static_cast<double>(data.size());
}

void BM_gzwrite(benchmark::State& state) {
    mem_file file;
    const int level = static_cast<int>(state.range(0));
    for (auto _ : state) {
        if (!gz_compress_into(file, input(), level)) {
            state.SkipWithError("gzwrite failed");
            break;
        }
    }
    report(state, file);
}
BENCHMARK(BM_gzwrite)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);

void BM_gzread(benchmark::State& state) {
    mem_file file;
    if (!gz_compress_into(file, input(), 6)) {
        state.SkipWithError("gzwrite failed");
        return;
    }
    for (auto _ : state) {
        if (!gz_decompress_from(file, input().size())) {
            state.SkipWithError("gzread failed");
            break;
        }
    }
    report(state, file);
}
BENCHMARK(BM_gzread)->Unit(benchmark::kMillisecond);

void BM_zwrite(benchmark::State& state) {
    mem_file file;
    for (auto _ : state) {
        if (!z_compress_into(file, input())) {
            state.SkipWithError("zwrite failed");
            break;
        }
    }
    report(state, file);
}
BENCHMARK(BM_zwrite)->Unit(benchmark::kMillisecond);

void BM_zread(benchmark::State& state) {
    mem_file file;
    if (!z_compress_into(file, input())) {
        state.SkipWithError("zwrite failed");
        return;
    }
    for (auto _ : state) {
        if (!z_decompress_from(file, input().size())) {
            state.SkipWithError("zread failed");
            break;
        }
    }
    report(state, file);
}
BENCHMARK(BM_zread)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
