// Opening, closing, releasing and error texts of gzip stream handles, and the
// end and error queries that apply to both directions.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include <sys/stat.h>

#include "engine.h"
#include "gz_handle.h"
#include "gz_mode.h"

namespace gzstream {
namespace {

// A regular file is read in large steps: each inflate call then fills a large
// part of the caller's buffer, and the engine's per-call costs (its copy of
// the last 32 KiB of output into its window above all) shrink to a small
// share.  Pipes and terminals keep small steps, because a read waits until
// its whole size has come and would hold back output a slow writer already
// sent.  A stdio stream without a descriptor of its own counts as a pipe.
bool is_regular(int fd) {
    struct stat st {};
    return fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// What a handle reads or writes: a path to open, or a descriptor or a stdio
// stream the caller opened.  The caller's descriptor or stream becomes the
// handle's only once the open has succeeded.  A writer given `header` puts
// exactly those fields into its member header.
struct open_target {
    const char* path = nullptr;
    int fd = -1;
    std::FILE* file = nullptr;
    const gz_header_fields* header = nullptr;
};

bool fits_header(const char* text) {
    return text == nullptr || std::strlen(text) <= GZ_HEADER_TEXT_MAX;
}

// `name` names the stream in gzerror texts and, for a writer, in the member
// header.
gz_handle* gz_open(const char* name, const char* mode, open_target target, int gotmagic) {
    if (name == nullptr || mode == nullptr) return nullptr;
    auto* s = new (std::nothrow) gz_handle;
    if (s == nullptr) return nullptr;
    auto fail = [s] {
        const int saved = errno;
        destroy(s);
        errno = saved;
        return nullptr;
    };
    try {
        s->display_name = name;
    } catch (const std::bad_alloc&) {
        return fail();
    }
    s->running_crc = engine::crc32(0, nullptr, 0);

    const gz_mode m = parse_mode(mode);
    if (m.direction == 0) return fail();
    s->direction = m.direction;
    if (target.header != nullptr && (s->direction != 'w' || !fits_header(target.header->name) ||
                                     !fits_header(target.header->comment))) {
        errno = EINVAL;
        return fail();
    }

    if (s->direction == 'w') {
        if (engine::deflate_init(s->engine, m.level, m.strategy) != Z_OK) return fail();
        s->write_buffer.reset(new (std::nothrow) unsigned char[STREAM_BUFFER_SIZE]);
        if (!s->write_buffer) return fail();
        s->engine.next_out = s->write_buffer.get();
    } else {
        if (engine::inflate_init(s->engine) != Z_OK) return fail();
    }
    s->engine.avail_out = STREAM_BUFFER_SIZE;

    // Everything that can fail is done before a caller's descriptor or stream
    // is taken over, so that a failed open leaves it as it was.
    errno = 0;
    if (target.path != nullptr) {
        s->file = std::fopen(target.path, fopen_mode(m));
        if (s->file == nullptr) return fail();
    }
    if (s->direction == 'r') {
        s->regular_file = is_regular(target.path != nullptr   ? fileno(s->file)
                                     : target.file != nullptr ? fileno(target.file)
                                                              : target.fd);
        s->read_size = s->regular_file ? FILE_READ_SIZE : STREAM_BUFFER_SIZE;
        // A stdio stream without a descriptor and without a seek function
        // (ftello fails) is never repositioned, so it never notes places.
        s->index_disabled =
            target.file != nullptr && fileno(target.file) < 0 && ftello(target.file) < 0;
        s->read_buffer.reset(new (std::nothrow) unsigned char[s->read_size]);
        if (!s->read_buffer) return fail();
        s->engine.next_in = s->read_buffer.get();
    }
    if (target.file != nullptr) {
        s->file = target.file;
    } else if (target.path == nullptr) {
        s->file = fdopen(target.fd, fdopen_mode(m));
        if (s->file == nullptr) return fail();
    }

    if (s->direction == 'w') {
        write_header(s, target.header);
    } else {
        check_header(s, gotmagic);
        s->data_start = ftello(s->file) - static_cast<gz_off_t>(s->engine.avail_in);
    }
    return s;
}

gz_handle* gz_dopen(int fd, const char* mode, int gotmagic) {
    if (fd < 0) return nullptr;
    char name[sizeof "<fd:-2147483648>"];
    (void)std::snprintf(name, sizeof name, "<fd:%d>", fd);  // sized for any int
    return gz_open(name, mode, {.fd = fd}, gotmagic);
}

}  // namespace

gz_handle* gzopen(const char* path, const char* mode) {
    return gz_open(path, mode, {.path = path}, 0);
}
gz_handle* gzopen_gotmagic(const char* path, const char* mode) {
    return gz_open(path, mode, {.path = path}, 1);
}
gz_handle* gzdopen(int fd, const char* mode) { return gz_dopen(fd, mode, 0); }
gz_handle* gzdopen_gotmagic(int fd, const char* mode) { return gz_dopen(fd, mode, 1); }
gz_handle* gzdopen_named(int fd, const char* name, const char* mode) {
    if (fd < 0) return nullptr;
    return gz_open(name, mode, {.fd = fd}, 0);
}
gz_handle* gzopen_stdio(std::FILE* file, const char* name, const char* mode) {
    if (file == nullptr) return nullptr;
    return gz_open(name, mode, {.file = file}, 0);
}
gz_handle* gzopen_header(const char* path, const char* mode, const gz_header_fields* header) {
    if (header == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    return gz_open(path, mode, {.path = path, .header = header}, 0);
}
gz_handle* gzopen_stdio_header(std::FILE* file, const char* name, const char* mode,
                               const gz_header_fields* header) {
    if (file == nullptr) return nullptr;
    if (header == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    return gz_open(name, mode, {.file = file, .header = header}, 0);
}

int gzclose(gz_handle* file) {
    if (file == nullptr) return Z_STREAM_ERROR;
    if (file->direction == 'w') finish_member(file);
    return destroy(file);
}

int destroy(gz_handle* s) {
    if (s == nullptr) return Z_STREAM_ERROR;
    int result = Z_OK;
    if (s->engine.initialised())
        result =
            s->direction == 'w' ? engine::deflate_end(s->engine) : engine::inflate_end(s->engine);
    if (s->file != nullptr) {
        errno = 0;
        if (std::fclose(s->file) != 0 && errno != ESPIPE) {
            result = Z_ERRNO;
            note_errno(s, errno);
        }
    }
    if (s->status < 0) result = s->status;
    // The handle goes: errno carries the reason of the first failed call.
    const int reason = s->saved_errno;
    delete s;
    if (result != Z_OK && reason != 0) errno = reason;
    return result;
}

const char* gzerror(gz_handle* file, int* errnum) {
    int ignored;
    if (errnum == nullptr) errnum = &ignored;
    if (file == nullptr) {
        *errnum = Z_STREAM_ERROR;
        return engine::status_text(Z_STREAM_ERROR);
    }
    *errnum = file->status;
    if (file->status == Z_OK) return "";
    const char* message = file->status == Z_ERRNO ? "" : file->engine.msg;
    if (message == nullptr || *message == '\0') message = engine::status_text(file->status);
    try {
        file->error_text.assign(file->display_name).append(": ").append(message);
    } catch (const std::bad_alloc&) {
        file->error_text.clear();
        return engine::status_text(Z_MEM_ERROR);
    }
    return file->error_text.c_str();
}

int gzerrno(gz_handle* file) { return file != nullptr ? file->saved_errno : 0; }

int gzheader(gz_handle* file, gz_header_fields* header) {
    if (file == nullptr || header == nullptr || file->direction != 'r') return Z_STREAM_ERROR;
    if (!file->has_member) return -1;
    if (!file->header.whole) return Z_DATA_ERROR;
    const auto text_of = [](const header_text& t) {
        return t.present && !t.lost ? t.text.c_str() : nullptr;
    };
    header->name = text_of(file->header.name);
    header->comment = text_of(file->header.comment);
    header->mtime = file->header.mtime;
    return file->header.name.lost || file->header.comment.lost ? Z_BUF_ERROR : Z_OK;
}

int gzeof(gz_handle* file) {
    if (file == nullptr || file->direction != 'r') return 0;
    if (file->input_ended) return 1;
    return file->status == Z_STREAM_END ? 1 : 0;
}

void gzclearerr(gz_handle* file) {
    // A write stream's failure lost output for good: it stays until gzclose.
    if (file == nullptr || file->direction != 'r') return;
    if (file->status != Z_STREAM_END) file->status = Z_OK;
    file->saved_errno = 0;
    file->input_ended = false;
    std::clearerr(file->file);
}

}  // namespace gzstream
