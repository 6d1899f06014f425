// Seeded models of the benchmark's two realistic inputs.  Every choice comes
// from std::mt19937 (whose output the standard fixes) reduced by plain modulo,
// never from a library distribution, so any machine and any standard library
// produce the same bytes for the same seed and size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zpress_bench {

using Bytes = std::vector<unsigned char>;

// Source-code-like text: indented lines of identifiers, keywords, numbers and
// punctuation drawn with skewed (Zipf) frequencies, with comment lines and
// lines repeated or varied from recent ones, the way headers and documents
// repeat themselves.  Deflates about 6:1 at level 6, as real C++ headers and
// documentation do.
Bytes make_text_like(std::size_t size, std::uint32_t seed);

// Machine-code-like binary: functions of x86-style instructions (skewed
// opcodes, small displacements, call offsets that change with the position),
// shared prologues and epilogues, alignment padding, inlined stretches copied
// from earlier code, and now and then a table of pointers or a string table.
// Deflates about 2.6:1 at level 6, as compiled programs do.
Bytes make_binary_like(std::size_t size, std::uint32_t seed);

}  // namespace zpress_bench
