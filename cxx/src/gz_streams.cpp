// igzstream and ogzstream: the iostreams over a zpress::gzfile, on a file or
// on another iostream.
#include <cstdio>
#include <string>

#include "buffers.h"
#include "errors.h"
#include "gzfile_access.h"
#include "stdio_bridge.h"
#include "zpress/zpress.hpp"

namespace zpress {
namespace {

class gz_source final : public detail::source {
  public:
    gz_source(gzfile file, bool seekable) : file_(std::move(file)), seekable_(seekable) {}
    std::size_t read(char* out, std::size_t size) override {
        return file_.read(std::span(reinterpret_cast<std::byte*>(out), size));
    }
    void close() override { file_.close(); }
    std::int64_t tell() override { return file_.tell(); }
    // A position past the end, or data too damaged to get there, is a seek
    // that failed (failbit), not a broken stream, where gzfile::seek has gone
    // back where it was.  A file that cannot go back (a pipe) has read on:
    // what the stream buffered no longer follows, so it is broken (badbit).
    bool seek(std::int64_t position) override {
        if (!seekable_) return false;
        const std::int64_t before = file_.tell();
        try {
            file_.seek(position, SEEK_SET);
            return true;
        } catch (const error&) {
            if (file_.tell() != before) throw;
            return false;
        }
    }

  private:
    gzfile file_;
    bool seekable_;
};

class gz_sink final : public detail::sink {
  public:
    explicit gz_sink(gzfile file) : file_(std::move(file)) {}
    void write(const char* data, std::size_t size) override {
        file_.write(std::string_view(data, size));
    }
    void close() override { file_.close(); }

  private:
    gzfile file_;
};

std::unique_ptr<detail::input_buffer> open_reader(const std::filesystem::path& path) {
    auto buffer = std::make_unique<detail::input_buffer>();
    try {
        buffer->attach(std::make_unique<gz_source>(gzfile(path, "rb"), true));
    } catch (const error& e) {
        buffer->record(e.what());
    }
    return buffer;
}

// An input stream cannot go back, so a seek could not be undone: seekg
// fails at once instead of reading on.
std::unique_ptr<detail::input_buffer> open_reader(std::istream& source) {
    auto buffer = std::make_unique<detail::input_buffer>();
    try {
        buffer->attach(std::make_unique<gz_source>(
            detail::gzfile_access::over(detail::reader_over(source), "<istream>", "rb"), false));
    } catch (const error& e) {
        buffer->record(e.what());
    }
    return buffer;
}

std::unique_ptr<detail::output_buffer> open_writer(const std::filesystem::path& path, int level) {
    auto buffer = std::make_unique<detail::output_buffer>();
    try {
        buffer->attach(
            std::make_unique<gz_sink>(gzfile(path, detail::gzip_write_mode(path.string(), level))));
    } catch (const error& e) {
        buffer->record(e.what());
    }
    return buffer;
}

std::unique_ptr<detail::output_buffer> open_writer(std::ostream& sink, int level) {
    auto buffer = std::make_unique<detail::output_buffer>();
    try {
        const std::string mode = detail::gzip_write_mode("<ostream>", level);
        buffer->attach(std::make_unique<gz_sink>(
            detail::gzfile_access::over(detail::writer_into(sink), "<ostream>", mode.c_str())));
    } catch (const error& e) {
        buffer->record(e.what());
    }
    return buffer;
}

}  // namespace

igzstream::igzstream(const std::filesystem::path& path) : input_stream(open_reader(path)) {}

igzstream::igzstream(std::istream& source) : input_stream(open_reader(source)) {}

ogzstream::ogzstream(const std::filesystem::path& path, int level)
    : output_stream(open_writer(path, level)) {}

ogzstream::ogzstream(std::ostream& sink, int level) : output_stream(open_writer(sink, level)) {}

}  // namespace zpress
