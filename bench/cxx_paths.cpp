// The C++ interface's memory and stream paths against its file paths, in one
// process:
//
//   zpress_cxx_paths [--rounds N] [--json] FILE.gz [WORK_DIR]
//
// Decompression of FILE.gz three ways: igzstream on the path, igzstream over
// a std::istringstream holding the file, and gzip_decompress of the file in
// memory.  Compression of its data (level 6) three ways: ogzstream on a path
// in WORK_DIR (default: FILE.gz's directory), ogzstream into a
// std::ostringstream, and gzip_compress.  Every stream path moves 64 KiB
// blocks.  An untimed first pass of each checks its result (exit status 1 when
// one differs).  Then N rounds (default 5), every mode once per round in a
// rotating order; the process's CPU time and the wall time are taken around
// every pass.  Printed as zpress_char_read prints (with --json, every round's
// times); the first mode of each direction is the one the others are
// compared with.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "json_series.h"
#include "zpress/zpress.hpp"

namespace {

constexpr std::size_t kBlock = 65536;

struct Mode {
    const char* name;
    bool compresses;
    // Decompression: the data.  Compression: the gzip stream, or empty when
    // it went to the work file.
    std::function<std::string()> run;
    std::vector<double> wall, cpu;
};

double now(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The whole data of `in`, read in blocks.
std::string drain(std::istream& in) {
    std::string out;
    std::vector<char> block(kBlock);
    while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0)
        out.append(block.data(), static_cast<std::size_t>(in.gcount()));
    if (in.bad()) throw std::runtime_error("read failed");
    return out;
}

void pour(std::ostream& out, const std::string& data) {
    for (std::size_t at = 0; at < data.size(); at += kBlock)
        out.write(data.data() + at,
                  static_cast<std::streamsize>(std::min(kBlock, data.size() - at)));
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    bool json = false;
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            rounds = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--json") == 0)
            json = true;
        else
            names.emplace_back(argv[i]);
    }
    if (names.empty() || names.size() > 2 || rounds < 1) {
        std::fprintf(stderr, "usage: zpress_cxx_paths [--rounds N] [--json] FILE.gz [WORK_DIR]\n");
        return 2;
    }
    const std::string path = names[0];
    const std::filesystem::path work = names.size() == 2
                                           ? std::filesystem::path(names[1])
                                           : std::filesystem::absolute(path).parent_path();
    const std::string out_path = (work / "zpress_cxx_paths.out.gz").string();
    const std::string gz = read_file(path);
    const std::string data = zpress::gzip_decompress(gz);

    std::vector<Mode> modes = {
        {"igzstream(path)",
         false,
         [&] {
             zpress::igzstream in(path);
             return drain(in);
         },
         {},
         {}},
        {"igzstream(istringstream)",
         false,
         [&] {
             std::istringstream source(gz);
             zpress::igzstream in(source);
             return drain(in);
         },
         {},
         {}},
        {"gzip_decompress", false, [&] { return zpress::gzip_decompress(gz); }, {}, {}},
        {"ogzstream(path)",
         true,
         [&] {
             zpress::ogzstream out(out_path);
             pour(out, data);
             out.close();
             if (!out) throw std::runtime_error(out.last_error());
             return std::string();
         },
         {},
         {}},
        {"ogzstream(ostringstream)",
         true,
         [&] {
             std::ostringstream sink;
             zpress::ogzstream out(sink);
             pour(out, data);
             out.close();
             if (!out) throw std::runtime_error(out.last_error());
             return std::move(sink).str();
         },
         {},
         {}},
        {"gzip_compress", true, [&] { return zpress::gzip_compress(data); }, {}, {}},
    };
    // Runs a mode once; its result is checked outside the timing.
    const auto pass = [&](Mode& m, bool keep) {
        const double wall = now(CLOCK_MONOTONIC), cpu = now(CLOCK_PROCESS_CPUTIME_ID);
        const std::string got = m.run();
        if (keep) {
            m.cpu.push_back(now(CLOCK_PROCESS_CPUTIME_ID) - cpu);
            m.wall.push_back(now(CLOCK_MONOTONIC) - wall);
            return true;
        }
        if (!m.compresses) return got == data;
        return zpress::gzip_decompress(got.empty() ? read_file(out_path) : got) == data;
    };
    for (Mode& m : modes) {
        if (!pass(m, false)) {
            std::fprintf(stderr, "zpress_cxx_paths: %s gives other bytes\n", m.name);
            return 1;
        }
    }
    for (int r = 0; r < rounds; ++r)
        for (std::size_t i = 0; i < modes.size(); ++i)
            (void)pass(modes[(i + static_cast<std::size_t>(r)) % modes.size()], true);
    std::filesystem::remove(out_path);
    if (json) std::printf("{\"bytes\": %zu, \"modes\": [", data.size());
    for (std::size_t i = 0; i < modes.size(); ++i) {
        const Mode& m = modes[i];
        const Mode& base = modes[i < 3 ? 0 : 3];
        if (json) {
            print_series_json(i == 0, m.name, m.wall, m.cpu);
        } else {
            std::printf("%-26s wall %.3f s  cpu %.3f s  cpu / %s %.3f\n", m.name, median(m.wall),
                        median(m.cpu), base.name, median(m.cpu) / median(base.cpu));
        }
    }
    if (json) std::printf("]}\n");
    return 0;
}
