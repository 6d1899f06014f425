// The stream buffers behind the zpress iostreams: one buffer class per
// direction over a small source or sink interface, so that the gzip and the
// .Z streams share all of the buffering.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <streambuf>
#include <string>
#include <utility>

namespace zpress {
class error;
}

namespace zpress::detail {

// Where an input_buffer's bytes come from.  Failures throw zpress::error.
class source {
  public:
    // `name` names the source in error texts.
    explicit source(std::string name) : name_(std::move(name)) {}
    virtual ~source() = default;
    source(const source&) = delete;
    source& operator=(const source&) = delete;
    const std::string& name() const { return name_; }
    // Up to `size` bytes; 0 only at the end of the data.
    virtual std::size_t read(char* out, std::size_t size) = 0;
    // Releases the file; throws when closing reports a failure.
    virtual void close() = 0;
    // Position of the next byte the source delivers, or -1 when unknown.
    virtual std::int64_t tell() { return -1; }
    // Moves to an absolute position.  When that cannot be done, stays where
    // it was and returns the reason; returns empty on success.
    virtual std::string seek(std::int64_t /*position*/) { return name_ + ": can't seek"; }

  private:
    std::string name_;
};

// Where an output_buffer's bytes go.  Failures throw zpress::error.
class sink {
  public:
    virtual ~sink() = default;
    virtual void write(const char* data, std::size_t size) = 0;
    // Finishes the data and releases the file; throws on failure.
    virtual void close() = 0;
};

// Large blocks keep the per-call cost of the stream layers out of sight.
inline constexpr std::size_t kStreamBlock = std::size_t{64} * 1024;

class input_buffer final : public std::streambuf {
  public:
    input_buffer() = default;
    ~input_buffer() override;

    void attach(std::unique_ptr<source> from);
    void record(const std::string& reason) { last_error_ = reason; }
    bool is_open() const noexcept { return source_ != nullptr; }
    source* from() const noexcept { return source_.get(); }
    void close();
    const std::string& last_error() const noexcept { return last_error_; }

  protected:
    int_type underflow() override;
    int_type pbackfail(int_type c) override;
    std::streamsize xsgetn(char* out, std::streamsize count) override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir dir,
                     std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

  private:
    std::size_t pull(char* out, std::size_t size);
    void note(const error& e);
    void note_refusal(const std::string& reason);
    void keep_for_putback(const char* last);

    std::unique_ptr<source> source_;
    // One byte for putting back (the last byte read before the block), then
    // the block.
    std::unique_ptr<char[]> block_;
    std::string last_error_;
    bool broken_ = false;  // a read or close failed: last_error_ keeps that reason
};

class output_buffer final : public std::streambuf {
  public:
    output_buffer() = default;
    // Closes a still-open sink, swallowing any failure.
    ~output_buffer() override;

    void attach(std::unique_ptr<sink> to);
    void record(const std::string& reason) { last_error_ = reason; }
    bool is_open() const noexcept { return sink_ != nullptr; }
    // Throws when closing failed or any earlier write had failed.
    void close();
    const std::string& last_error() const noexcept { return last_error_; }

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* data, std::streamsize count) override;
    int sync() override;

  private:
    void drain();
    void push(const char* data, std::size_t size);
    void note(const error& e);

    std::unique_ptr<sink> sink_;
    std::unique_ptr<char[]> block_;
    std::string last_error_;
    int failed_code_ = 0;  // set once a write failed: the data is incomplete
};

}  // namespace zpress::detail
