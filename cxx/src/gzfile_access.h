// What the other units of the C++ interface may do with a gzfile beyond its
// public members: make one over a stdio stream they opened.
#pragma once

#include <cstdio>
#include <string>

#include "zpress/zpress.hpp"

namespace zpress::detail {

struct gzfile_access {
    // A gzfile over `file` (null: the stream could not be made, errno says
    // why), which it owns from then on, also when the open fails.  `name`
    // names it in error texts.  A writer's member header carries no name and
    // time 0 (there is no file whose name or time it could keep) unless
    // `header` is given.  `mode` as for gzfile.  Throws zpress::error.
    static gzfile over(std::FILE* file, const std::string& name, const char* mode,
                       const gzip_header* header = nullptr);
};

}  // namespace zpress::detail
