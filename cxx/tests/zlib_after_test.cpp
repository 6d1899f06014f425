// zpress.hpp first, then zlib.h: zlib's macros must not reach into the
// interface's names.
#include "zpress/zpress.hpp"
// clang-format off
#include <zlib.h>
// clang-format on

#include <gtest/gtest.h>

#include "temp_io.h"

namespace {

TEST(ZlibAfter, BothLibrariesWork) {
    zpress_test::TempDir dir;
    const std::string p = dir.path("z.gz");
    zpress::gzfile out(p, "wb");
    out.write(std::string_view("0123456789"));
    out.close();
    zpress::gzfile in(p, "rb");
    EXPECT_EQ(in.seek(4, SEEK_SET), 4);
    EXPECT_EQ(in.tell(), 4);
    std::string rest;
    ASSERT_TRUE(in.getline(rest));
    EXPECT_EQ(rest, "456789");
    EXPECT_STREQ(zlibVersion(), ZLIB_VERSION);
}

}  // namespace
