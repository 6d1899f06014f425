// Reproducible test inputs of several kinds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "zlib_oracle.h"

namespace zpress_test {

enum class DataKind { text, random, zeros, mixed };

std::string to_string(DataKind kind);

// `size` bytes of the given kind; the same seed gives the same bytes.
Bytes make_data(DataKind kind, std::size_t size, std::uint32_t seed = 1);

}  // namespace zpress_test
