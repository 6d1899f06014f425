// Buffering for the zpress iostreams.
#include "buffers.h"

#include <cstring>
#include <utility>

#include "errors.h"
#include "zpress/zpress.hpp"

namespace zpress::detail {

// ---------------------------------------------------------------------------
// Input

input_buffer::~input_buffer() {
    try {
        if (source_) source_->close();
    } catch (...) {  // NOLINT(bugprone-empty-catch): a destructor reports nothing
    }
}

void input_buffer::attach(std::unique_ptr<source> from) {
    source_ = std::move(from);
    if (!block_) block_ = std::make_unique_for_overwrite<char[]>(1 + kStreamBlock);
    setg(block_.get() + 1, block_.get() + 1, block_.get() + 1);
}

// The first failure is the one kept: later ones follow from it.
void input_buffer::note(const error& e) {
    if (broken_) return;
    broken_ = true;
    last_error_ = e.what();
}

// A seek refused (failbit) leaves the stream usable: its reason stands until
// the next one, unless the stream is broken already.
void input_buffer::note_refusal(const std::string& reason) {
    if (!broken_) last_error_ = reason;
}

// The byte before the next block stays in front of it, so that unget()
// works after any read, as it does on a std::ifstream.
void input_buffer::keep_for_putback(const char* last) {
    char* const block = block_.get() + 1;
    if (last == nullptr) {
        setg(block, block, block);
        return;
    }
    block_[0] = *last;
    setg(block_.get(), block, block);
}

void input_buffer::close() {
    setg(nullptr, nullptr, nullptr);
    std::unique_ptr<source> from = std::move(source_);
    try {
        from->close();
    } catch (const error& e) {
        note(e);
        throw;
    }
}

// Failures are thrown: the istream functions turn them into badbit (and
// rethrow them when the exceptions mask holds badbit), so damage never looks
// like the end of the data.
std::size_t input_buffer::pull(char* out, std::size_t size) {
    if (!source_) return 0;
    try {
        return source_->read(out, size);
    } catch (const error& e) {
        note(e);
        throw;
    }
}

input_buffer::int_type input_buffer::underflow() {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    if (!source_) return traits_type::eof();
    char* const block = block_.get() + 1;
    const char last = eback() < egptr() ? egptr()[-1] : '\0';
    const bool had_last = eback() < egptr();
    const std::size_t got = pull(block, kStreamBlock);
    // At the end the last block stays, so that unget() still works.
    if (got == 0) return traits_type::eof();
    block_[0] = last;
    setg(had_last ? block_.get() : block, block, block + got);
    return traits_type::to_int_type(*gptr());
}

// Putting back before the block: a source that can seek goes back one byte
// (as std::filebuf does); others refuse (badbit).
input_buffer::int_type input_buffer::pbackfail(int_type c) {
    if (!source_) return traits_type::eof();
    if (gptr() > eback()) {
        gbump(-1);
        if (!traits_type::eq_int_type(c, traits_type::eof()))
            *gptr() = traits_type::to_char_type(c);
        return traits_type::not_eof(c);
    }
    const pos_type back = seekoff(-1, std::ios_base::cur, std::ios_base::in);
    if (back == pos_type(off_type(-1)) || traits_type::eq_int_type(underflow(), traits_type::eof()))
        return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) *gptr() = traits_type::to_char_type(c);
    return traits_type::not_eof(c);
}

std::streamsize input_buffer::xsgetn(char* out, std::streamsize count) {
    std::streamsize done = 0;
    while (done < count) {
        const std::streamsize avail = egptr() - gptr();
        if (avail > 0) {
            const std::streamsize take = avail < count - done ? avail : count - done;
            std::memcpy(out + done, gptr(), static_cast<std::size_t>(take));
            gbump(static_cast<int>(take));
            done += take;
            continue;
        }
        const auto left = static_cast<std::size_t>(count - done);
        if (left >= kStreamBlock && source_) {
            // Large reads skip the block: no copy.
            const std::size_t got = pull(out + done, left);
            if (got == 0) break;
            done += static_cast<std::streamsize>(got);
            keep_for_putback(out + done - 1);
            continue;
        }
        if (traits_type::eq_int_type(underflow(), traits_type::eof())) break;
    }
    return done;
}

input_buffer::pos_type input_buffer::seekoff(off_type offset, std::ios_base::seekdir dir,
                                             std::ios_base::openmode which) {
    if (!source_ || (which & std::ios_base::in) == 0) return pos_type(off_type(-1));
    if (dir == std::ios_base::end) {
        note_refusal(source_->name() +
                     ": can't seek from the end: the data's length is not known until it is read");
        return pos_type(off_type(-1));
    }
    if (dir == std::ios_base::beg) return seekpos(pos_type(offset), which);
    const std::int64_t at = source_->tell();
    if (at < 0) {
        note_refusal(source_->name() + ": can't tell the position");
        return pos_type(off_type(-1));
    }
    const std::int64_t here = at - (egptr() - gptr());
    if (offset == 0) return pos_type(here);
    std::int64_t target;
    if (__builtin_add_overflow(here, offset, &target)) {
        note_refusal(source_->name() + ": can't seek there");
        return pos_type(off_type(-1));
    }
    return seekpos(pos_type(target), which);
}

input_buffer::pos_type input_buffer::seekpos(pos_type position, std::ios_base::openmode which) {
    if (!source_ || (which & std::ios_base::in) == 0) return pos_type(off_type(-1));
    if (off_type(position) < 0) {
        note_refusal(source_->name() + ": can't seek before the start");
        return pos_type(off_type(-1));
    }
    // A seek that fails leaves the source where it was, so what is buffered
    // stays valid: the position does not move.  One that throws has moved it.
    std::string refused;
    try {
        refused = source_->seek(off_type(position));
    } catch (const error& e) {
        note(e);
        keep_for_putback(nullptr);
        throw;
    }
    if (!refused.empty()) {
        note_refusal(refused);
        return pos_type(off_type(-1));
    }
    keep_for_putback(nullptr);
    return position;
}

// ---------------------------------------------------------------------------
// Output

output_buffer::~output_buffer() {
    try {
        if (sink_) close();
    } catch (...) {  // NOLINT(bugprone-empty-catch): a destructor reports nothing
    }
}

void output_buffer::attach(std::unique_ptr<sink> to) {
    sink_ = std::move(to);
    if (!block_) block_ = std::make_unique_for_overwrite<char[]>(kStreamBlock);
    setp(block_.get(), block_.get() + kStreamBlock);
}

// The first failure is the one kept: later ones follow from it.
void output_buffer::note(const error& e) {
    if (failed_code_ != 0) return;
    failed_code_ = e.code();
    last_error_ = e.what();
}

void output_buffer::push(const char* data, std::size_t size) {
    if (!sink_) throw error(kStreamError, "zpress: the stream is closed");
    try {
        sink_->write(data, size);
    } catch (const error& e) {
        note(e);
        throw;
    }
}

// Hands the buffered bytes to the sink; the buffer is emptied even when that
// fails, so that they are not offered twice.
void output_buffer::drain() {
    const auto pending = static_cast<std::size_t>(pptr() - pbase());
    setp(block_.get(), block_.get() + kStreamBlock);
    if (pending != 0) push(block_.get(), pending);
}

output_buffer::int_type output_buffer::overflow(int_type c) {
    if (!sink_) return traits_type::eof();
    drain();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

std::streamsize output_buffer::xsputn(const char* data, std::streamsize count) {
    if (!sink_) return 0;
    const auto size = static_cast<std::size_t>(count);
    const auto room = static_cast<std::size_t>(epptr() - pptr());
    if (size <= room) {
        std::memcpy(pptr(), data, size);
        pbump(static_cast<int>(size));
        return count;
    }
    drain();
    if (size < kStreamBlock) {
        std::memcpy(pptr(), data, size);
        pbump(static_cast<int>(size));
    } else {
        push(data, size);  // large writes skip the block: no copy
    }
    return count;
}

// flush() hands what is buffered to the compressor.  It does not end a
// deflate block (that would cost compression at every std::endl): the data is
// complete when the stream is closed.
int output_buffer::sync() {
    if (!sink_) return 0;
    try {
        drain();
    } catch (const error&) {
        return -1;  // the ostream sets badbit; last_error() tells why
    }
    return 0;
}

void output_buffer::close() {
    if (!sink_) throw error(kStreamError, "zpress: the stream is not open");
    std::unique_ptr<sink> to;
    try {
        drain();
    } catch (const error&) {
        // Recorded by push(); the file must still be closed.
    }
    to = std::move(sink_);
    setp(nullptr, nullptr);
    try {
        to->close();
    } catch (const error& e) {
        note(e);
    }
    if (failed_code_ != 0) throw error(failed_code_, last_error_);
}

}  // namespace zpress::detail
