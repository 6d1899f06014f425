// igzstream and ogzstream: the iostreams over a zpress::gzfile.
#include <cstdio>
#include <string>

#include "buffers.h"
#include "errors.h"
#include "zpress/zpress.hpp"

namespace zpress {
namespace {

class gz_source final : public detail::source {
  public:
    explicit gz_source(gzfile file) : file_(std::move(file)) {}
    std::size_t read(char* out, std::size_t size) override {
        return file_.read(std::span(reinterpret_cast<std::byte*>(out), size));
    }
    void close() override { file_.close(); }
    std::int64_t tell() override { return file_.tell(); }
    // A position past the end, or data too damaged to get there, is a seek
    // that failed (failbit), not a broken stream.
    bool seek(std::int64_t position) override {
        try {
            file_.seek(position, SEEK_SET);
            return true;
        } catch (const error&) {
            return false;
        }
    }

  private:
    gzfile file_;
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
        buffer->attach(std::make_unique<gz_source>(gzfile(path, "rb")));
    } catch (const error& e) {
        buffer->record(e.what());
    }
    return buffer;
}

std::unique_ptr<detail::output_buffer> open_writer(const std::filesystem::path& path, int level) {
    auto buffer = std::make_unique<detail::output_buffer>();
    if (level < 0 || level > 9) {
        buffer->record("can't open " + path.string() + ": compression level " +
                       std::to_string(level) + " is not 0 to 9");
        return buffer;
    }
    try {
        const char mode[] = {'w', 'b', static_cast<char>('0' + level), '\0'};
        buffer->attach(std::make_unique<gz_sink>(gzfile(path, mode)));
    } catch (const error& e) {
        buffer->record(e.what());
    }
    return buffer;
}

}  // namespace

igzstream::igzstream(const std::filesystem::path& path) : input_stream(open_reader(path)) {}

ogzstream::ogzstream(const std::filesystem::path& path, int level)
    : output_stream(open_writer(path, level)) {}

}  // namespace zpress
