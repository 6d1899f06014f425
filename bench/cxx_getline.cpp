// Reading a .gz file line by line, through zpress::igzstream and std::getline
// and through zpress::gzfile::getline (on the stream layer's gzgets), against
// the floor of a plain gzread loop of 64 KiB blocks over the same file.
// Prints the times (best of several runs) and their ratios to the floor.
// The times are this process's CPU time: on a shared machine, wall time also
// counts the waits for a core.
//
//   zpress_cxx_getline FILE.gz [RUNS]
//   zpress_cxx_getline --generate FILE.gz MIB     (writes log-like text lines)
//
// Output, one "key value" pair a line: gzread_s, getline_s, ratio,
// gzfile_getline_s, gzfile_ratio, lines, bytes.  Exit status 1 when the two readings disagree about
// the data.
#include <zpress/gzio.h>

#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "zpress/zpress.hpp"

namespace {

struct tally {
    std::uint64_t bytes = 0;
    std::uint64_t lines = 0;
};

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The floor: decompression alone, plus counting the lines with memchr so
// that the two readings can be checked against each other.
tally read_blocks(const char* path) {
    tally t;
    gzstream::gz_handle* in = gzstream::gzopen(path, "rb");
    if (in == nullptr) {
        std::perror(path);
        std::exit(2);
    }
    std::vector<char> block(64 * 1024);
    int n;
    while ((n = gzstream::gzread(in, block.data(), static_cast<unsigned>(block.size()))) > 0) {
        t.bytes += static_cast<std::uint64_t>(n);
        // memchr: far cheaper than the decompression it sits beside.
        const char* p = block.data();
        const char* const end = p + n;
        while ((p = static_cast<const char*>(
                    std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) != nullptr) {
            ++t.lines;
            ++p;
        }
    }
    if (n < 0 || gzstream::gzclose(in) != 0) {
        std::fprintf(stderr, "%s: read failed\n", path);
        std::exit(2);
    }
    return t;
}

tally read_lines(const char* path) {
    tally t;
    zpress::igzstream in(path);
    in.exceptions(std::ios::badbit);
    std::string line;
    while (std::getline(in, line)) {
        t.bytes += line.size() + 1;
        ++t.lines;
    }
    return t;
}

tally read_gzfile_lines(const char* path) {
    tally t;
    zpress::gzfile in(path, "rb");
    std::string line;
    while (in.getline(line)) {
        t.bytes += line.size() + 1;
        ++t.lines;
    }
    return t;
}

int generate(const char* path, long mib) {
    zpress::ogzstream out(path, 6);
    const std::uint64_t target = static_cast<std::uint64_t>(mib) << 20;
    std::uint64_t written = 0;
    std::uint32_t x = 12345;
    char line[160];
    for (std::uint64_t i = 0; written < target; ++i) {
        x = x * 1103515245u + 12345u;
        const int len =
            std::snprintf(line, sizeof line,
                          "2026-12-08T01:%02u:%02u host%u worker[%u]: request %llu "
                          "took %u ms status %u path /api/v%u/items/%u\n",
                          (x >> 8) % 60, (x >> 14) % 60, (x >> 20) % 16, (x >> 4) % 1000,
                          static_cast<unsigned long long>(i), (x >> 10) % 5000,
                          200 + (x >> 24) % 4 * 100, (x >> 6) % 3 + 1, x % 100000);
        out.write(line, len);
        written += static_cast<std::uint64_t>(len);
    }
    out.close();
    return out.good() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--generate")
        return generate(argv[2], std::atol(argv[3]));
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s FILE.gz [RUNS] | --generate FILE.gz MIB\n", argv[0]);
        return 2;
    }
    const char* path = argv[1];
    const int runs = argc == 3 ? std::atoi(argv[2]) : 5;
    double best_blocks = 1e30, best_lines = 1e30, best_gzfile = 1e30;
    tally blocks, lines, gzfile_lines;
    // Interleaved, so that a busy moment of a shared machine hits both.
    for (int r = 0; r < runs; ++r) {
        double start = cpu_seconds();
        blocks = read_blocks(path);
        best_blocks = std::min(best_blocks, cpu_seconds() - start);
        start = cpu_seconds();
        lines = read_lines(path);
        best_lines = std::min(best_lines, cpu_seconds() - start);
        start = cpu_seconds();
        gzfile_lines = read_gzfile_lines(path);
        best_gzfile = std::min(best_gzfile, cpu_seconds() - start);
    }
    // A last line without a newline is counted as a line by getline only.
    if (lines.lines < blocks.lines || lines.lines > blocks.lines + 1 ||
        lines.bytes < blocks.bytes || lines.bytes > blocks.bytes + 1 ||
        gzfile_lines.lines != lines.lines || gzfile_lines.bytes != lines.bytes) {
        std::fprintf(stderr, "%s: readers disagree\n", path);
        return 1;
    }
    std::printf(
        "gzread_s %.4f\ngetline_s %.4f\nratio %.3f\ngzfile_getline_s %.4f\ngzfile_ratio %.3f\n"
        "lines %llu\nbytes %llu\n",
        best_blocks, best_lines, best_lines / best_blocks, best_gzfile, best_gzfile / best_blocks,
        static_cast<unsigned long long>(lines.lines),
        static_cast<unsigned long long>(blocks.bytes));
    return 0;
}
