#include "one_shot.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "buffer_view.h"
#include "bytes_builder.h"
#include "errors.h"
#include "header_fields.h"
#include "stream_status.h"
#include "zpress/gzio.h"
#include "zpress/zpress.hpp"

namespace zpress_python {
namespace {

namespace py = pybind11;
using namespace gzstream;

constexpr const char kName[] = "<memory>";
// The stream layer takes at most INT_MAX bytes a call.
constexpr std::size_t kMostPerCall = std::size_t{1} << 30;

ssize_t append_to_string(void* cookie, const char* data, std::size_t size) {
    try {
        static_cast<std::string*>(cookie)->append(data, size);
        return static_cast<ssize_t>(size);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return -1;
    }
}

void check_level(int level) {
    if (level < 0 || level > 9) throw py::value_error("level must be 0 to 9");
}

py::bytes compress(const py::handle& data, int level, const py::object& name,
                   const py::object& comment, const py::object& mtime) {
    check_level(level);
    const header_fields fields(name, comment, mtime);
    const buffer_view in(data, false);
    const char mode[] = {'w', 'b', static_cast<char>('0' + level), '\0'};
    std::string out;
    int result = Z_MEM_ERROR;
    int reason = 0;
    {
        py::gil_scoped_release nogil;
        out.reserve(in.size() / 3 + 64);
        std::FILE* f = fopencookie(
            &out, "wb",
            {.read = nullptr, .write = append_to_string, .seek = nullptr, .close = nullptr});
        gz_handle* h = nullptr;
        if (f != nullptr) {
            (void)std::setvbuf(f, nullptr, _IONBF, 0);
            h = gzopen_stdio_header(f, kName, mode, fields.get());
            if (h == nullptr) (void)std::fclose(f);
        }
        if (h != nullptr) {
            for (std::size_t done = 0; done < in.size();) {
                const auto n = static_cast<unsigned>(std::min(in.size() - done, kMostPerCall));
                if (gzwrite(h, in.data() + done, n) != static_cast<int>(n)) break;
                done += n;
            }
            errno = 0;
            result = gzclose(h);
            reason = errno;
        }
    }
    if (result == Z_MEM_ERROR || reason == ENOMEM) throw std::bad_alloc();
    if (result != Z_OK) raise_os_error(reason, py::none());
    return py::bytes(out);
}

py::bytes decompress(const py::handle& data) {
    const buffer_view in(data, false);
    // As the standard library's gzip.decompress: no members, no data.
    if (in.size() == 0) return py::bytes();
    if (in.size() < 2 || in.data()[0] != '\x1f' || in.data()[1] != '\x8b')
        raise_bad_gzip("not gzip data (no gzip magic at the start)");
    std::FILE* f = fmemopen(in.data(), in.size(), "rb");
    if (f == nullptr) raise_os_error(errno, py::none());
    // glibc reads an unbuffered memory stream one byte per call.
    (void)std::setvbuf(f, nullptr, _IOFBF, std::size_t{128} << 10);
    gz_handle* h = gzopen_stdio(f, kName, "rb");
    if (h == nullptr) {
        const int reason = errno;
        (void)std::fclose(f);
        raise_os_error(reason, py::none());
    }
    const handle_closer closer(h);
    // Untouched room costs only address space: guess high, grow by doubling.
    bytes_builder out(
        static_cast<Py_ssize_t>(std::min<std::size_t>(in.size(), kMostPerCall) * 4 + 65536));
    for (;;) {
        out.reserve(Py_ssize_t{1} << 18);
        int n;
        {
            py::gil_scoped_release nogil;
            n = gzread(h, out.end(),
                       static_cast<unsigned>(std::min<Py_ssize_t>(out.room(), kMostPerCall)));
        }
        if (n < 0) raise_stream_error(h, py::str(kName), nullptr);
        if (n == 0) break;
        out.added(n);
    }
    return out.finish();
}

// zpress::error from the .Z codec: damaged or foreign data is a ValueError.
template <class F>
py::bytes lzw_call(F&& call) {
    std::string out;
    std::string message;
    int code = 0;
    {
        py::gil_scoped_release nogil;
        try {
            out = call();
        } catch (const zpress::error& e) {
            code = e.code();
            message = e.what();
        }
    }
    if (code == -4) throw std::bad_alloc();
    if (code == -1) raise(PyExc_OSError, message);
    if (code != 0) throw py::value_error(message);
    return py::bytes(out);
}

}  // namespace

void register_one_shot(py::module_& m) {
    m.def("compress", &compress, py::arg("data"), py::arg("level") = 6, py::kw_only(),
          py::arg("name") = py::none(), py::arg("comment") = py::none(),
          py::arg("mtime") = py::none(),
          "One gzip member holding data.  The header carries no name, no comment and "
          "time 0 unless given.");
    m.def("decompress", &decompress, py::arg("data"),
          "The data of every member.  Damage, trailing bytes other than zeros and "
          "input that is not gzip raise BadGzipFile; a cut-off stream raises EOFError.");
    m.def(
        "lzw_compress",
        [](const py::handle& data, int bits) {
            if (bits < 9 || bits > 16) throw py::value_error("bits must be 9 to 16");
            const buffer_view in(data, false);
            return lzw_call([&] { return zpress::lzw_compress({in.data(), in.size()}, bits); });
        },
        py::arg("data"), py::arg("bits") = 16,
        "A .Z stream (the compress format) with codes of at most `bits` bits.");
    m.def(
        "lzw_decompress",
        [](const py::handle& data) {
            const buffer_view in(data, false);
            return lzw_call([&] { return zpress::lzw_decompress({in.data(), in.size()}); });
        },
        py::arg("data"),
        "The data of a .Z stream; ValueError for data that is not .Z or cannot be decoded.");
}

}  // namespace zpress_python
