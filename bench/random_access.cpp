// Random reads from a gzip file through the stream layer's public interface,
// for the benchmark's random-access table:
//
//   zpress_random_access [--rewind | --pass | --save INDEX | --load INDEX]
//                        FILE.gz OFFSETS [DATA_OUT]
//   zpress_random_access --cost INDEX FILE.gz ROUNDS
//
// For every offset in the file OFFSETS (one decimal number a line) it reads
// 4096 bytes at that uncompressed position: by default with gzseek then gzread;
// with --pass the same after gzindex_build (one pass over the whole stream,
// timed as the setup), which leaves the handle with all its access points;
// --save INDEX does the same and then, untimed, saves the index to INDEX;
// --load INDEX loads such an index as the setup; with --rewind by gzrewind
// and reading forward to the offset, the cost of a reader that can only
// restart.  The bytes read go to DATA_OUT when given, so that the benchmark
// can check them.  It prints one line: the CPU and wall seconds of the setup
// and of all the reads, then the median CPU and wall seconds of one read.
//
// --cost measures what an index costs to make, side by side in one process:
// ROUNDS times in turn a plain gzread pass over the whole stream, a
// gzindex_build on a fresh handle and the gzindex_save of its index to
// INDEX.  It prints the median CPU seconds of the three.
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "zpress/gzio.h"

namespace {

constexpr unsigned kReadSize = 4096;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "zpress_random_access: %s\n", what.c_str());
    std::exit(1);
}

double seconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Stopwatch {
    double cpu = seconds(CLOCK_PROCESS_CPUTIME_ID);
    double wall = seconds(CLOCK_MONOTONIC);
    std::pair<double, double> lap() {
        const double c = seconds(CLOCK_PROCESS_CPUTIME_ID), w = seconds(CLOCK_MONOTONIC);
        const std::pair<double, double> took{c - cpu, w - wall};
        cpu = c;
        wall = w;
        return took;
    }
};

// Reads exactly len bytes unless the data ends first; the count read.
std::size_t read_full(gzstream::gz_handle* file, unsigned char* buf, std::size_t len) {
    std::size_t have = 0;
    while (have < len) {
        const int n = gzstream::gzread(file, buf + have, static_cast<unsigned>(len - have));
        if (n < 0) fail("gzread failed");
        if (n == 0) break;
        have += static_cast<std::size_t>(n);
    }
    return have;
}

// Restarts the stream and reads (and drops) everything before the offset.
void rewind_and_skip(gzstream::gz_handle* file, gzstream::gz_off_t offset) {
    static unsigned char scratch[1 << 16];
    if (gzstream::gzrewind(file) != 0) fail("gzrewind failed");
    while (offset > 0) {
        const std::size_t step = offset < static_cast<gzstream::gz_off_t>(sizeof scratch)
                                     ? static_cast<std::size_t>(offset)
                                     : sizeof scratch;
        if (read_full(file, scratch, step) != step) fail("offset past the end of the data");
        offset -= static_cast<gzstream::gz_off_t>(step);
    }
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

double cpu_now() { return seconds(CLOCK_PROCESS_CPUTIME_ID); }

int index_cost(const char* index, const char* path, int rounds) {
    std::vector<double> read, build, save;
    std::vector<unsigned char> buf(1 << 16);
    for (int r = 0; r < rounds; ++r) {
        double t = cpu_now();
        gzstream::gz_handle* file = gzstream::gzopen(path, "rb");
        if (file == nullptr) fail(std::string("cannot open ") + path);
        int n;
        while ((n = gzstream::gzread(file, buf.data(), static_cast<unsigned>(buf.size()))) > 0) {
        }
        if (n < 0 || gzstream::gzclose(file) != 0) fail("gzread failed");
        read.push_back(cpu_now() - t);
        t = cpu_now();
        file = gzstream::gzopen(path, "rb");
        if (file == nullptr || gzstream::gzindex_build(file) != 0) fail("gzindex_build failed");
        build.push_back(cpu_now() - t);
        t = cpu_now();
        if (gzstream::gzindex_save(file, index) != 0)
            fail(std::string("gzindex_save failed: ") + std::strerror(errno));
        save.push_back(cpu_now() - t);
        gzstream::gzclose(file);
    }
    std::printf("%.6f %.6f %.6f\n", median(read), median(build), median(save));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc > 1 ? argv[1] : "";
    if (mode == "--cost") {
        if (argc != 5 || std::atoi(argv[4]) < 1) {
            std::fprintf(stderr, "usage: zpress_random_access --cost INDEX FILE.gz ROUNDS\n");
            return 2;
        }
        return index_cost(argv[2], argv[3], std::atoi(argv[4]));
    }
    const bool rewind = mode == "--rewind";
    const bool save = mode == "--save";
    const bool load = mode == "--load";
    const bool pass = mode == "--pass" || save;
    const char* index_path = (save || load) && argc > 2 ? argv[2] : nullptr;
    const int first = rewind || mode == "--pass" ? 2 : save || load ? 3 : 1;
    if (argc - first < 2 || argc - first > 3) {
        std::fprintf(
            stderr,
            "usage: zpress_random_access [--rewind | --pass | --save INDEX | --load INDEX] "
            "FILE.gz OFFSETS [DATA_OUT]\n");
        return 2;
    }
    std::vector<gzstream::gz_off_t> offsets;
    {
        std::ifstream in(argv[first + 1]);
        for (long long v; in >> v;) offsets.push_back(v);
        if (!in.eof()) fail(std::string("bad offsets file ") + argv[first + 1]);
    }
    std::FILE* out = nullptr;
    if (argc - first == 3 && (out = std::fopen(argv[first + 2], "wb")) == nullptr)
        fail(std::string("cannot write ") + argv[first + 2]);

    Stopwatch watch;
    gzstream::gz_handle* file = gzstream::gzopen(argv[first], "rb");
    if (file == nullptr) fail(std::string("cannot open ") + argv[first]);
    if (pass && gzstream::gzindex_build(file) != 0) fail("gzindex_build failed");
    if (load && gzstream::gzindex_load(file, index_path) != 0)
        fail(std::string("gzindex_load failed: ") + std::strerror(errno));
    const auto [open_cpu, open_wall] = watch.lap();
    if (save && gzstream::gzindex_save(file, index_path) != 0)
        fail(std::string("gzindex_save failed: ") + std::strerror(errno));
    watch.lap();

    unsigned char buf[kReadSize];
    std::vector<double> cpu_each, wall_each;
    Stopwatch each;
    for (const gzstream::gz_off_t offset : offsets) {
        if (rewind)
            rewind_and_skip(file, offset);
        else if (gzstream::gzseek(file, offset, 0) != offset)
            fail("gzseek failed");
        const std::size_t n = read_full(file, buf, kReadSize);
        const auto [c, w] = each.lap();
        cpu_each.push_back(c);
        wall_each.push_back(w);
        if (out != nullptr && std::fwrite(buf, 1, n, out) != n) fail("write failed");
        each.lap();
    }
    const auto [read_cpu, read_wall] = watch.lap();
    if (gzstream::gzclose(file) != 0) fail("gzclose failed");
    if (out != nullptr && std::fclose(out) != 0) fail("write failed");
    std::printf("%.6f %.6f %.6f %.6f %.6f %.6f\n", open_cpu, open_wall, read_cpu, read_wall,
                median(cpu_each), median(wall_each));
    return 0;
}
