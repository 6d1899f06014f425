// Helpers for building zpress::error messages, all of the form "NAME: reason".
#pragma once

#include <string>

#include "zpress/zpress.hpp"

namespace zpress::detail {

// Status codes of the stream layers that the interface reports itself.
inline constexpr int kFileError = -1;    // a system call failed
inline constexpr int kStreamError = -2;  // misuse: wrong direction, bad argument, not open
inline constexpr int kDataError = -3;    // damaged or foreign data
inline constexpr int kMemError = -4;     // out of memory
inline constexpr int kBufError = -5;     // no room: more output than the caller allows

// `message`, then ": " and the system's text for `saved_errno` when it is set.
std::string with_errno(std::string message, int saved_errno);

// A system call on `name` failed with `saved_errno` (EIO when it left none).
error system_failure(const std::string& name, int saved_errno);

// A .Z reader's failure: the codec says EINVAL for data that is not .Z or
// cannot be decoded, anything else comes from the system.
error lzw_read_failure(const std::string& name, int saved_errno);

// A .Z code width outside 9 to 16.
error bad_width(const std::string& name, int bits);

// The gzip write mode for a compression level; throws for a level outside
// 0 to 9.
std::string gzip_write_mode(const std::string& name, int level);

}  // namespace zpress::detail
