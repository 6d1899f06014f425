// The istream and ostream classes that own a zpress stream buffer.
#include <exception>
#include <utility>

#include "buffers.h"
#include "zpress/zpress.hpp"

namespace zpress::detail {
namespace {

// Sets badbit for a failure the stream buffer reported to close(); when the
// exceptions mask holds badbit, the buffer's zpress::error is what the caller
// gets (rather than a bare std::ios_base::failure).
void report_close_failure(std::ios& stream, const std::exception_ptr& failure) {
    const std::ios::iostate mask = stream.exceptions();
    if ((mask & std::ios::badbit) == 0) {
        stream.setstate(std::ios::badbit);
        return;
    }
    stream.exceptions(std::ios::goodbit);
    stream.setstate(std::ios::badbit);
    try {
        stream.exceptions(mask);          // restores the mask, and throws since bad
    } catch (const std::ios::failure&) {  // NOLINT(bugprone-empty-catch): replaced below
    }
    std::rethrow_exception(failure);
}

// A moved-from stream keeps no pointer to the buffer it gave away; it is bad,
// so that using it fails instead of crashing.
void detach(std::ios& moved_from) noexcept {
    moved_from.exceptions(std::ios::goodbit);  // cannot throw with an empty mask
    moved_from.rdbuf(nullptr);
}

// close() of either direction: failbit when nothing is open, else the
// buffer's close, whose failure becomes badbit or the buffer's error.
template <typename Buffer>
void close_buffer(std::ios& stream, Buffer* buffer) {
    if (buffer == nullptr || !buffer->is_open()) {
        stream.setstate(std::ios::failbit);
        return;
    }
    try {
        buffer->close();
    } catch (const error&) {
        report_close_failure(stream, std::current_exception());
    }
}

template <typename Buffer>
const std::string& error_text(const Buffer* buffer) noexcept {
    static const std::string none;
    return buffer ? buffer->last_error() : none;
}

}  // namespace

// ---------------------------------------------------------------------------

input_stream::input_stream(std::unique_ptr<input_buffer> buffer)
    : std::istream(buffer.get()), buffer_(std::move(buffer)) {
    if (!buffer_->is_open()) setstate(std::ios::failbit);
}

input_stream::input_stream(input_stream&& other) noexcept
    : std::istream(std::move(other)), buffer_(std::move(other.buffer_)) {
    set_rdbuf(buffer_.get());
    detach(other);
}

input_stream& input_stream::operator=(input_stream&& other) noexcept {
    if (this != &other) {
        std::istream::operator=(std::move(other));
        // The file held before closes, quietly, as `previous` goes.
        // Moving the stream base leaves `other`'s own members alone.
        const auto previous =
            std::exchange(buffer_, std::move(other.buffer_));  // NOLINT(bugprone-use-after-move)
        set_rdbuf(buffer_.get());
        detach(other);
    }
    return *this;
}

input_stream::~input_stream() = default;

bool input_stream::is_open() const noexcept { return buffer_ && buffer_->is_open(); }

source* input_stream::from() const noexcept { return buffer_ ? buffer_->from() : nullptr; }

void input_stream::close() { close_buffer(*this, buffer_.get()); }

const std::string& input_stream::last_error() const noexcept { return error_text(buffer_.get()); }

// ---------------------------------------------------------------------------

output_stream::output_stream(std::unique_ptr<output_buffer> buffer)
    : std::ostream(buffer.get()), buffer_(std::move(buffer)) {
    if (!buffer_->is_open()) setstate(std::ios::failbit);
}

output_stream::output_stream(output_stream&& other) noexcept
    : std::ostream(std::move(other)), buffer_(std::move(other.buffer_)) {
    set_rdbuf(buffer_.get());
    detach(other);
}

output_stream& output_stream::operator=(output_stream&& other) noexcept {
    if (this != &other) {
        std::ostream::operator=(std::move(other));
        // The file held before closes, quietly, as `previous` goes.
        // Moving the stream base leaves `other`'s own members alone.
        const auto previous =
            std::exchange(buffer_, std::move(other.buffer_));  // NOLINT(bugprone-use-after-move)
        set_rdbuf(buffer_.get());
        detach(other);
    }
    return *this;
}

output_stream::~output_stream() = default;

bool output_stream::is_open() const noexcept { return buffer_ && buffer_->is_open(); }

void output_stream::close() { close_buffer(*this, buffer_.get()); }

const std::string& output_stream::last_error() const noexcept { return error_text(buffer_.get()); }

}  // namespace zpress::detail
