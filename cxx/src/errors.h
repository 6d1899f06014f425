// Helpers for building zpress::error messages.
#pragma once

#include <string>

namespace zpress::detail {

// Status codes of the stream layers that the interface reports itself.
inline constexpr int kFileError = -1;    // a system call failed
inline constexpr int kStreamError = -2;  // misuse: wrong direction, bad argument, not open
inline constexpr int kDataError = -3;    // damaged or foreign data

// `message`, then ": " and the system's text for `saved_errno` when it is set.
std::string with_errno(std::string message, int saved_errno);

}  // namespace zpress::detail
