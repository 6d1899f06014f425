// Reproducible test inputs of several kinds: the same kind, size and seed give
// the same bytes on every machine.  The benchmark corpus is made from these
// too, so changing what a kind and seed give changes the corpus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "bytes.h"

namespace zpress_test {

// Source-code-like text: indented lines of identifiers, keywords, numbers and
// punctuation drawn with skewed (Zipf) frequencies, with comment lines and
// lines repeated or varied from recent ones, the way headers and documents
// repeat themselves.  Deflates about 6:1 at level 6, as real C++ headers and
// documentation do.
Bytes text_like(std::size_t size, std::uint32_t seed);

// Machine-code-like binary: functions of x86-style instructions (skewed
// opcodes, small displacements, call offsets that change with the position),
// shared prologues and epilogues, alignment padding, inlined stretches copied
// from earlier code, and now and then a table of pointers or a string table.
// Deflates about 2.6:1 at level 6, as compiled programs do.
Bytes binary_like(std::size_t size, std::uint32_t seed);

// Incompressible bytes.
Bytes random_bytes(std::size_t size, std::uint32_t seed);

// Runs of one byte value, up to 3000 long, a quarter of them zeros.
Bytes runs(std::size_t size, std::uint32_t seed);

// Pieces of text, binary, random bytes and runs one after another, so block
// types, match lengths and the LZW writer's ratio change inside one stream.
Bytes mixed(std::size_t size, std::uint32_t seed);

enum class DataKind { text, binary, random, runs, zeros, mixed };

std::string to_string(DataKind kind);

// `size` bytes of the given kind (zeros ignore the seed).
Bytes make_data(DataKind kind, std::size_t size, std::uint32_t seed = 1);

}  // namespace zpress_test
