// Opening, closing, releasing and error texts of gzip stream handles.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

#include "engine.h"
#include "gz_handle.h"
#include "gz_mode.h"

namespace gzstream {
namespace {

constexpr unsigned char kGzipMagic1 = 0x1F;
constexpr unsigned char kGzipMagic2 = 0x8B;
constexpr unsigned char kMethodDeflate = 8;
constexpr unsigned char kFlagName = 0x08;
constexpr unsigned char kOsUnix = 3;

// The name stored in a written member: the base name, without a ".gz" suffix.
std::string_view stored_name(std::string_view path) {
    if (auto slash = path.rfind('/'); slash != std::string_view::npos)
        path.remove_prefix(slash + 1);
    if (path.size() > 3 && path.ends_with(".gz")) path.remove_suffix(3);
    return path;
}

// One member header: magic, deflate, FNAME only, no time, Unix.  Write errors
// show up later, at a block write or at the close.
void write_header(gz_handle* s) {
    const std::string_view name = stored_name(s->display_name);
    std::fprintf(s->file, "%c%c%c%c%c%c%c%c%c%c", kGzipMagic1, kGzipMagic2, kMethodDeflate,
                 kFlagName, 0, 0, 0, 0, 0, kOsUnix);
    std::fprintf(s->file, "%.*s%c", static_cast<int>(name.size()), name.data(), 0);
    s->data_start = static_cast<gz_off_t>(name.size()) + 11;
}

// The trailer's little-endian 32-bit words.
void put_le32(std::FILE* file, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        std::fputc(static_cast<int>(value & 0xFF), file);
        value >>= 8;
    }
}

gz_handle* gz_open(const char* path, const char* mode, int fd, int gotmagic) {
    if (path == nullptr || mode == nullptr) return nullptr;
    auto* s = new (std::nothrow) gz_handle;
    if (s == nullptr) return nullptr;
    auto fail = [s] {
        const int saved = errno;
        destroy(s);
        errno = saved;
        return nullptr;
    };
    try {
        s->display_name = path;
    } catch (const std::bad_alloc&) {
        return fail();
    }
    s->running_crc = engine::crc32(0, nullptr, 0);

    const gz_mode m = parse_mode(mode);
    if (m.direction == 0) return fail();
    s->direction = m.direction;

    if (s->direction == 'w') {
        if (engine::deflate_init(s->engine, m.level, m.strategy) != Z_OK) return fail();
        s->write_buffer.reset(new (std::nothrow) unsigned char[STREAM_BUFFER_SIZE]);
        if (!s->write_buffer) return fail();
        s->engine.next_out = s->write_buffer.get();
    } else {
        s->read_buffer.reset(new (std::nothrow) unsigned char[STREAM_BUFFER_SIZE]);
        if (!s->read_buffer) return fail();
        s->engine.next_in = s->read_buffer.get();
        if (engine::inflate_init(s->engine) != Z_OK) return fail();
    }
    s->engine.avail_out = STREAM_BUFFER_SIZE;

    errno = 0;
    s->file = fd < 0 ? std::fopen(path, m.stdio_mode) : fdopen(fd, m.stdio_mode);
    if (s->file == nullptr) return fail();

    if (s->direction == 'w') {
        write_header(s);
    } else {
        check_header(s, gotmagic);
        s->data_start = ftello(s->file) - static_cast<gz_off_t>(s->engine.avail_in);
    }
    return s;
}

gz_handle* gz_dopen(int fd, const char* mode, int gotmagic) {
    if (fd < 0) return nullptr;
    char name[sizeof "<fd:-2147483648>"];
    std::snprintf(name, sizeof name, "<fd:%d>", fd);
    return gz_open(name, mode, fd, gotmagic);
}

}  // namespace

gz_handle* gzopen(const char* path, const char* mode) {
    return gz_open(path, mode, -1, 0);
}
gz_handle* gzopen_gotmagic(const char* path, const char* mode) {
    return gz_open(path, mode, -1, 1);
}
gz_handle* gzdopen(int fd, const char* mode) {
    return gz_dopen(fd, mode, 0);
}
gz_handle* gzdopen_gotmagic(int fd, const char* mode) {
    return gz_dopen(fd, mode, 1);
}

int flush_output(gz_handle* s, int flush) {
    engine::stream& z = s->engine;
    z.avail_in = 0;
    bool done = false;
    for (;;) {
        const unsigned pending = STREAM_BUFFER_SIZE - z.avail_out;
        if (pending != 0) {
            if (std::fwrite(s->write_buffer.get(), 1, pending, s->file) != pending) {
                s->status = Z_ERRNO;
                return Z_ERRNO;
            }
            z.next_out = s->write_buffer.get();
            z.avail_out = STREAM_BUFFER_SIZE;
        }
        if (done) break;
        s->bytes_out += z.avail_out;
        s->status = engine::deflate(z, flush);
        s->bytes_out -= z.avail_out;
        // A flush that found nothing to do is not an error, also when this
        // round only wrote out what an earlier gzwrite left in the buffer.
        if (s->status == Z_BUF_ERROR) s->status = Z_OK;
        done = z.avail_out != 0 || s->status == Z_STREAM_END;
        if (s->status != Z_OK && s->status != Z_STREAM_END) break;
    }
    return s->status == Z_STREAM_END ? Z_OK : s->status;
}

int gzclose(gz_handle* s) {
    if (s == nullptr) return Z_STREAM_ERROR;
    if (s->direction == 'w' && flush_output(s, Z_FINISH) == Z_OK) {
        put_le32(s->file, s->running_crc);
        // The trailer holds the length modulo 2^32.
        put_le32(s->file, static_cast<std::uint32_t>(s->bytes_in));
    }
    return destroy(s);
}

int destroy(gz_handle* s) {
    if (s == nullptr) return Z_STREAM_ERROR;
    int result = Z_OK;
    if (s->engine.initialised())
        result =
            s->direction == 'w' ? engine::deflate_end(s->engine) : engine::inflate_end(s->engine);
    if (s->file != nullptr) {
        errno = 0;
        if (std::fclose(s->file) != 0 && errno != ESPIPE) result = Z_ERRNO;
    }
    if (s->status < 0) result = s->status;
    delete s;
    return result;
}

const char* gzerror(gz_handle* s, int* errnum) {
    int ignored;
    if (errnum == nullptr) errnum = &ignored;
    if (s == nullptr) {
        *errnum = Z_STREAM_ERROR;
        return engine::status_text(Z_STREAM_ERROR);
    }
    *errnum = s->status;
    if (s->status == Z_OK) return "";
    const char* message = s->status == Z_ERRNO ? "" : s->engine.msg;
    if (message == nullptr || *message == '\0') message = engine::status_text(s->status);
    try {
        s->error_text.assign(s->display_name).append(": ").append(message);
    } catch (const std::bad_alloc&) {
        s->error_text.clear();
        return engine::status_text(Z_MEM_ERROR);
    }
    return s->error_text.c_str();
}

}  // namespace gzstream
