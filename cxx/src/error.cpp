// zpress::error and the messages the C++ interface builds for it.
#include <cerrno>
#include <cstring>

#include "errors.h"

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

error system_failure(const std::string& name, int saved_errno) {
    return error(kFileError, with_errno(name, saved_errno != 0 ? saved_errno : EIO));
}

error lzw_read_failure(const std::string& name, int saved_errno) {
    if (saved_errno == EINVAL) return error(kDataError, name + ": not .Z data, or damaged");
    return system_failure(name, saved_errno);
}

error bad_width(const std::string& name, int bits) {
    return error(kStreamError,
                 name + ": code width " + std::to_string(bits) + " is not 9 to 16 bits");
}

std::string gzip_write_mode(const std::string& name, int level) {
    if (level < 0 || level > 9)
        throw error(kStreamError,
                    name + ": compression level " + std::to_string(level) + " is not 0 to 9");
    return {'w', 'b', static_cast<char>('0' + level)};
}

}  // namespace detail
}  // namespace zpress
