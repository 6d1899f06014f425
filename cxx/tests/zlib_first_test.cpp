// zlib.h first, then zpress.hpp: both libraries stay usable in one file
// (the build defines _FILE_OFFSET_BITS=64, under which zlib.h renames its
// gz functions with macros).
#include <zlib.h>
// clang-format off
#include "zpress/zpress.hpp"
// clang-format on

#include <gtest/gtest.h>

#include "temp_io.h"

namespace {

TEST(ZlibFirst, BothLibrariesWork) {
    zpress_test::TempDir dir;
    const std::string p = dir.path("z.gz");
    {
        zpress::ogzstream out(p);
        out << "hello";
    }
    zpress::gzfile in(p, "rb");
    std::string line;
    ASSERT_TRUE(in.getline(line));
    EXPECT_EQ(line, "hello");
    // zlib's own CRC next to it
    const auto* bytes = reinterpret_cast<const Bytef*>(line.data());
    EXPECT_EQ(::crc32(0L, bytes, static_cast<uInt>(line.size())), 0x3610a686UL);
}

}  // namespace
