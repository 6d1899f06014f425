// zpress::error and the messages the C++ interface builds for it.
#include "errors.h"

#include <cerrno>
#include <cstring>

#include "zpress/zpress.hpp"

namespace zpress {

error::error(int code, const std::string& message) : std::runtime_error(message), code_(code) {}

error::~error() = default;

namespace detail {

std::string with_errno(std::string message, int saved_errno) {
    if (saved_errno != 0) {
        message += ": ";
        message += std::strerror(saved_errno);
    }
    return message;
}

}  // namespace detail
}  // namespace zpress
