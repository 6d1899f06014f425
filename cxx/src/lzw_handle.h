// The .Z codec's handle as the C++ layer holds it: owned, its failures
// thrown as zpress::error naming the stream.
#pragma once

#include <cstddef>
#include <string>

#include "zpress/zopen.h"

namespace zpress::detail {

// zread and zwrite count in int.
inline constexpr std::size_t kLzwMaxCall = std::size_t{1} << 30;

inline int lzw_piece(std::size_t left) {
    return static_cast<int>(left < kLzwMaxCall ? left : kLzwMaxCall);
}

class lzw_handle {
  public:
    // Opens the codec on `fd` ("r", or "w" with `bits`), which it owns from
    // then on; closes `fd` and throws when the codec cannot be opened.
    lzw_handle(std::string name, int fd, const char* mode, int bits);
    // Opens the codec on the caller's functions; throws when it cannot.
    lzw_handle(std::string name, const lzw::lzw_io& io, const char* mode, int bits);
    // Released without a report when it goes without close().
    ~lzw_handle();
    lzw_handle(const lzw_handle&) = delete;
    lzw_handle& operator=(const lzw_handle&) = delete;

    lzw::lzw_handle* get() const { return handle_; }
    const std::string& name() const { return name_; }
    bool is_open() const { return handle_ != nullptr; }

    // Writes all of `data`; throws the system's reason when a write fails.
    void write_all(const char* data, std::size_t size);
    // Finishes and closes the stream.  z_close fails only for a failed
    // write or close: never the data's fault.
    void close();

  private:
    std::string name_;
    lzw::lzw_handle* handle_;
};

}  // namespace zpress::detail
