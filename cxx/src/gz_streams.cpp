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

// Runs a call of `file` over `through` (null for a file of its own): when the
// object behind the bridge threw, that exception comes back nested in the
// zpress::error the call ended with.
template <typename Call>
decltype(auto) over_bridge(detail::bridge* through, const std::string& name, Call call) {
    try {
        return call();
    } catch (const error&) {
        if (through != nullptr) through->rethrow_kept(name);
        throw;
    }
}

class gz_source final : public detail::source {
  public:
    // `through`, when set, is the bridge `file` reads: it must outlive it.
    gz_source(std::string name, std::unique_ptr<detail::bridge> through, gzfile file)
        : source(std::move(name)), through_(std::move(through)), file_(std::move(file)) {}
    std::size_t read(char* out, std::size_t size) override {
        return over_bridge(through_.get(), name(), [&] {
            return file_.read(std::span(reinterpret_cast<std::byte*>(out), size));
        });
    }
    void close() override {
        over_bridge(through_.get(), name(), [&] { file_.close(); });
    }
    std::int64_t tell() override { return file_.tell(); }
    // A position past the end, or data too damaged to get there, is a seek
    // that failed (failbit), not a broken stream, where gzfile::seek has gone
    // back where it was.  A file that cannot go back (a pipe) has read on:
    // what the stream buffered no longer follows, so it is broken (badbit).
    // An input stream cannot go back either, so a seek could not be undone:
    // there it fails at once instead of reading on.
    std::string seek(std::int64_t position) override {
        if (through_) return name() + ": can't seek: the source stream cannot go back";
        const std::int64_t before = file_.tell();
        try {
            file_.seek(position, SEEK_SET);
            return {};
        } catch (const error& e) {
            if (file_.tell() != before) throw;
            return e.what();
        }
    }
    gzfile& file() { return file_; }
    bool over_stream() const { return through_ != nullptr; }

  private:
    std::unique_ptr<detail::bridge> through_;
    gzfile file_;  // after through_: closed before the bridge goes
};

class gz_sink final : public detail::sink {
  public:
    gz_sink(std::string name, std::unique_ptr<detail::bridge> through, gzfile file)
        : name_(std::move(name)), through_(std::move(through)), file_(std::move(file)) {}
    void write(const char* data, std::size_t size) override {
        over_bridge(through_.get(), name_, [&] { file_.write(std::string_view(data, size)); });
    }
    void close() override {
        over_bridge(through_.get(), name_, [&] { file_.close(); });
    }

  private:
    std::string name_;
    std::unique_ptr<detail::bridge> through_;
    gzfile file_;
};

std::unique_ptr<detail::input_buffer> open_reader(const std::filesystem::path& path) {
    auto buffer = std::make_unique<detail::input_buffer>();
    try {
        buffer->attach(std::make_unique<gz_source>(path.string(), nullptr, gzfile(path, "rb")));
    } catch (const error& e) {
        buffer->record(e.what());
    }
    return buffer;
}

std::unique_ptr<detail::input_buffer> open_reader(std::istream& source) {
    static const std::string name = "<istream>";
    auto buffer = std::make_unique<detail::input_buffer>();
    try {
        // A source that failed before (a std::ifstream whose file could not
        // be opened) holds no data: reading it as empty would hide that.
        if (source.fail())
            throw error(detail::kFileError, name + ": the source stream has failed already");
        auto through = detail::bridge::reader_over(source);
        std::FILE* const file = through->take_file();
        gzfile gz = over_bridge(through.get(), name,
                                [&] { return detail::gzfile_access::over(file, name, "rb"); });
        buffer->attach(std::make_unique<gz_source>(name, std::move(through), std::move(gz)));
    } catch (const error& e) {
        buffer->record(e.what());
    }
    return buffer;
}

std::unique_ptr<detail::output_buffer> open_writer(const std::filesystem::path& path, int level,
                                                   const gzip_header* header) {
    auto buffer = std::make_unique<detail::output_buffer>();
    try {
        const std::string mode = detail::gzip_write_mode(path.string(), level);
        buffer->attach(std::make_unique<gz_sink>(
            path.string(), nullptr,
            header != nullptr ? gzfile(path, mode, *header) : gzfile(path, mode)));
    } catch (const error& e) {
        buffer->record(e.what());
    }
    return buffer;
}

std::unique_ptr<detail::output_buffer> open_writer(std::ostream& sink, int level,
                                                   const gzip_header* header) {
    static const std::string name = "<ostream>";
    auto buffer = std::make_unique<detail::output_buffer>();
    try {
        const std::string mode = detail::gzip_write_mode(name, level);
        auto through = detail::bridge::writer_into(sink);
        std::FILE* const file = through->take_file();
        gzfile gz = over_bridge(through.get(), name, [&] {
            return detail::gzfile_access::over(file, name, mode.c_str(), header);
        });
        buffer->attach(std::make_unique<gz_sink>(name, std::move(through), std::move(gz)));
    } catch (const error& e) {
        buffer->record(e.what());
    }
    return buffer;
}

// What an igzstream reads: a gz_source while it is open.
gz_source& open_source(detail::source* from) {
    auto* const gz = dynamic_cast<gz_source*>(from);
    if (gz == nullptr) throw error(detail::kStreamError, "zpress::igzstream: no file is open");
    return *gz;
}

}  // namespace

igzstream::igzstream(const std::filesystem::path& path) : input_stream(open_reader(path)) {}

igzstream::igzstream(std::istream& source) : input_stream(open_reader(source)) {}

gzip_header igzstream::header() const { return open_source(from()).file().header(); }

gzfile& igzstream::file() {
    gz_source& gz = open_source(from());
    if (gz.over_stream())
        throw error(detail::kStreamError,
                    gz.name() + ": not a file: only a file-backed igzstream has a gzfile");
    return gz.file();
}

ogzstream::ogzstream(const std::filesystem::path& path, int level)
    : output_stream(open_writer(path, level, nullptr)) {}

ogzstream::ogzstream(const std::filesystem::path& path, int level, const gzip_header& header)
    : output_stream(open_writer(path, level, &header)) {}

ogzstream::ogzstream(std::ostream& sink, int level)
    : output_stream(open_writer(sink, level, nullptr)) {}

ogzstream::ogzstream(std::ostream& sink, int level, const gzip_header& header)
    : output_stream(open_writer(sink, level, &header)) {}

}  // namespace zpress
