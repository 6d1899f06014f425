// stdio streams over C++ objects, so that the gzip stream layer (which reads
// and writes through stdio) can work on memory and on iostreams.
//
// Each stream is fully buffered with a block of kBridgeBlock bytes, so the
// object is read and written in large blocks whatever steps the layer takes.
// A failure of the object shows as a failed stdio call (errno EIO); what it
// threw is kept, so that the caller can throw it again, nested in a
// zpress::error, once the stream layer call has returned: nothing is thrown
// through the C frames of stdio, except the forced unwinding of a cancelled
// thread, which is never held back.
#pragma once

#include <cstddef>
#include <cstdio>
#include <exception>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

namespace zpress::detail {

// At least 64 KiB per call to the object: its per-call cost stays out of sight.
inline constexpr std::size_t kBridgeBlock = std::size_t{128} * 1024;

class bridge {
  public:
    // A reader over `data`, which must outlive the bridge.
    static std::unique_ptr<bridge> reader_over(std::string_view data);
    // A writer appending to `out`.
    static std::unique_ptr<bridge> writer_into(std::string& out);
    // A reader of `in` to its end.
    static std::unique_ptr<bridge> reader_over(std::istream& in);
    // A writer into `out`; closing the stdio stream flushes `out`.
    static std::unique_ptr<bridge> writer_into(std::ostream& out);

    bridge(const bridge&) = delete;
    bridge& operator=(const bridge&) = delete;
    ~bridge();

    // The stdio stream, handed over once to its owner (who closes it before
    // the bridge goes); null when it could not be made, errno says why.
    std::FILE* take_file() noexcept;

    // Call in a handler of the zpress::error that a stream layer call over
    // this bridge ended with: when the object threw, throws a zpress::error
    // "name: what it threw" with that exception nested (an allocation failure
    // is out of memory), else returns.
    void rethrow_kept(const std::string& name);

    // For the callbacks.
    struct target;

  private:
    bridge(std::unique_ptr<target> to, const char* mode);

    std::unique_ptr<target> target_;
    std::unique_ptr<char[]> block_;
    std::FILE* file_ = nullptr;
};

}  // namespace zpress::detail
