// Finding the window bytes the data after each access point copy: the
// deflate tracer against the engine's three decodes, on every point that
// gzindex_build notes in a .gz file, with the two answers compared.
//
//   zpress_window_trace FILE.gz [ROUNDS [trace]]
//
// With `trace` the rounds time the tracer alone (for a profiler).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "deflate_trace.h"
#include "gz_index.h"
#include "zpress/gzio.h"

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE.gz [ROUNDS]\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const bool engine_rounds = argc <= 3 || std::string(argv[3]) != "trace";
    gzstream::gz_handle* h = gzstream::gzopen(argv[1], "rb");
    const int fd = ::open(argv[1], O_RDONLY);
    struct stat st {};
    if (h == nullptr || fd < 0 || ::fstat(fd, &st) != 0 || gzstream::gzindex_build(h) != 0) {
        std::fprintf(stderr, "%s: cannot index\n", argv[1]);
        return 1;
    }
    const auto& points = gzstream::index_of(h)->points();
    std::vector<unsigned char> by_engine(gzstream::kWindowSize);
    std::vector<unsigned char> traced(gzstream::kWindowSize);
    std::size_t differ = 0, untraced = 0, used = 0, window = 0;
    for (const auto& p : points) {
        if (gzstream::mark_used_window_bytes_by_engine(fd, st.st_size, p, by_engine.data()) != 0)
            return 1;
        if (!gzstream::trace_window_use(fd, st.st_size, gzstream::first_byte(p), p.bits,
                                        p.window_size, traced.data()))
            ++untraced;
        else if (!std::equal(traced.begin(), traced.begin() + p.window_size, by_engine.begin()))
            ++differ;
        used += static_cast<std::size_t>(
            std::count(by_engine.begin(), by_engine.begin() + p.window_size, 1));
        window += p.window_size;
    }
    double engine_time = 1e300, trace_time = 1e300;
    for (int r = 0; r < rounds; ++r) {
        auto start = clock_type::now();
        if (engine_rounds) {
            for (const auto& p : points)
                gzstream::mark_used_window_bytes_by_engine(fd, st.st_size, p, by_engine.data());
            engine_time = std::min(engine_time, seconds_since(start));
        }
        start = clock_type::now();
        for (const auto& p : points)
            gzstream::mark_used_window_bytes(fd, st.st_size, p, traced.data());
        trace_time = std::min(trace_time, seconds_since(start));
    }
    const double n = static_cast<double>(points.size());
    std::printf("%zu points, %.1f%% of window bytes used; %zu traced differently, %zu not traced\n",
                points.size(),
                window != 0 ? 100.0 * static_cast<double>(used) / static_cast<double>(window) : 0.0,
                differ, untraced);
    std::printf("engine %.1f us/point, tracer %.1f us/point, %.1fx\n", 1e6 * engine_time / n,
                1e6 * trace_time / n, engine_time / trace_time);
    gzstream::gzclose(h);
    ::close(fd);
    return differ == 0 ? 0 : 1;
}
