// One timed mode of a benchmark tool as JSON, for bench/run.py: its name and
// the wall and CPU seconds of every round.
#pragma once

#include <cstddef>
#include <cstdio>
#include <vector>

inline void print_series_json(bool first, const char* name, const std::vector<double>& wall,
                              const std::vector<double>& cpu) {
    std::printf("%s{\"name\": \"%s\", \"wall\": [", first ? "" : ", ", name);
    for (std::size_t r = 0; r < wall.size(); ++r) std::printf("%s%.6f", r ? ", " : "", wall[r]);
    std::printf("], \"cpu\": [");
    for (std::size_t r = 0; r < cpu.size(); ++r) std::printf("%s%.6f", r ? ", " : "", cpu[r]);
    std::printf("]}");
}
