// Character and line input against bulk reads, through the library:
//
//   zpress_char_read [--rounds N] [--json] FILE.gz
//
// reads the whole stream three ways: gzread into a 64 KiB buffer, gzgets
// with a 1 KiB buffer, and gzgetc.  An untimed first pass of each keeps
// everything it read and must give exactly the bytes of the gzread loop (exit
// status 1 otherwise).  Then N rounds (default 5), each mode once per round in
// a rotating order, each reading the whole file with a fresh handle; the CPU
// time of this process and the wall time are taken around every pass.
// Printed: per mode the median wall and CPU times and the CPU ratio to gzread
// as the quotient of those medians (the same rounds), beside the median of the
// per-round ratios; with --json, every round's times as well.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "json_series.h"
#include "zpress/gzio.h"

namespace {

constexpr unsigned kBulk = 65536;
constexpr int kLine = 1024;

using Bytes = std::vector<unsigned char>;

struct Mode {
    const char* name;
    // Reads the whole handle; keeps the bytes in `keep` when it is not null.
    // Returns the byte count, or -1 on an error.
    long long (*read)(gzstream::gz_handle* h, Bytes* keep);
    std::vector<double> wall, cpu;
};

long long by_gzread(gzstream::gz_handle* h, Bytes* keep) {
    static unsigned char buf[kBulk];
    long long total = 0;
    int n;
    while ((n = gzstream::gzread(h, buf, kBulk)) > 0) {
        if (keep) keep->insert(keep->end(), buf, buf + n);
        total += n;
    }
    return n < 0 ? -1 : total;
}

long long by_gzgets(gzstream::gz_handle* h, Bytes* keep) {
    char line[kLine];
    long long total = 0;
    while (gzstream::gzgets(h, line, kLine) != nullptr) {
        const std::size_t n = std::strlen(line);  // the text holds no NUL bytes
        if (keep) keep->insert(keep->end(), line, line + n);
        total += static_cast<long long>(n);
    }
    return gzstream::gzeof(h) ? total : -1;
}

long long by_gzgetc(gzstream::gz_handle* h, Bytes* keep) {
    long long total = 0;
    int c;
    while ((c = gzstream::gzgetc(h)) >= 0) {
        if (keep) keep->push_back(static_cast<unsigned char>(c));
        ++total;
    }
    return gzstream::gzeof(h) ? total : -1;
}

double seconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

long long run(const char* path, Mode& m, Bytes* keep) {
    gzstream::gz_handle* h = gzstream::gzopen(path, "rb");
    if (h == nullptr) {
        std::perror(path);
        std::exit(2);
    }
    const long long n = m.read(h, keep);
    if (gzstream::gzclose(h) != 0 || n < 0) {
        std::fprintf(stderr, "zpress_char_read: %s: read error by %s\n", path, m.name);
        std::exit(2);
    }
    return n;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t k = v.size() / 2;
    return v.size() % 2 ? v[k] : (v[k - 1] + v[k]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    bool json = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            rounds = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--json") == 0)
            json = true;
        else
            path = argv[i];
    }
    if (path == nullptr || rounds < 1) {
        std::fprintf(stderr, "usage: zpress_char_read [--rounds N] [--json] FILE.gz\n");
        return 2;
    }
    Mode modes[] = {{"gzread 64 KiB", by_gzread, {}, {}},
                    {"gzgets 1 KiB", by_gzgets, {}, {}},
                    {"gzgetc", by_gzgetc, {}, {}}};
    constexpr int kModes = sizeof modes / sizeof modes[0];

    Bytes want;
    run(path, modes[0], &want);
    bool identical = true;
    for (int i = 1; i < kModes; ++i) {
        Bytes got;
        run(path, modes[i], &got);
        if (got != want) {
            std::fprintf(stderr, "zpress_char_read: %s gives other bytes than gzread\n",
                         modes[i].name);
            identical = false;
        }
    }
    for (int r = 0; r < rounds; ++r) {
        for (int k = 0; k < kModes; ++k) {
            Mode& m = modes[(r + k) % kModes];
            const double w0 = seconds(CLOCK_MONOTONIC), c0 = seconds(CLOCK_PROCESS_CPUTIME_ID);
            run(path, m, nullptr);
            m.cpu.push_back(seconds(CLOCK_PROCESS_CPUTIME_ID) - c0);
            m.wall.push_back(seconds(CLOCK_MONOTONIC) - w0);
        }
    }

    const Mode& base = modes[0];
    if (json)
        std::printf("{\"bytes\": %zu, \"identical\": %s, \"modes\": [", want.size(),
                    identical ? "true" : "false");
    for (int i = 0; i < kModes; ++i) {
        const Mode& m = modes[i];
        std::vector<double> paired;
        for (std::size_t r = 0; r < m.cpu.size(); ++r) paired.push_back(m.cpu[r] / base.cpu[r]);
        const double ratio = median(m.cpu) / median(base.cpu);
        if (json) {
            print_series_json(i == 0, m.name, m.wall, m.cpu);
        } else {
            std::printf("%-14s wall %.3f s  cpu %.3f s  cpu / gzread %.3f (paired %.3f)\n", m.name,
                        median(m.wall), median(m.cpu), ratio, median(paired));
        }
    }
    if (json)
        std::printf("]}\n");
    else
        std::printf("%zu bytes, %s\n", want.size(),
                    identical ? "identical in every mode" : "NOT identical");
    return identical ? 0 : 1;
}
