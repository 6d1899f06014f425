#include "stream_status.h"

#include <new>
#include <string>

#include "errors.h"
#include "py_stream.h"

namespace zpress_python {

namespace py = pybind11;
using namespace gzstream;

void raise_stream_error(gz_handle* h, const py::object& filename, py_stream* stream) {
    if (stream != nullptr) stream->raise_pending();
    int code = 0;
    const std::string text = gzerror(h, &code);
    // A read that failed inside a header or trailer says data error but has
    // a system reason.
    if (const int reason = gzerrno(h); reason != 0 || code == Z_ERRNO)
        raise_os_error(reason, filename);
    if (code == Z_MEM_ERROR) throw std::bad_alloc();
    if (code == Z_DATA_ERROR) {
        // The input ended inside a member (its header, data or trailer).
        if (gzeof(h) != 0)
            raise(PyExc_EOFError,
                  text + " (the compressed data ends before the end of its last member)");
        raise_bad_gzip(text);
    }
    raise(PyExc_OSError, text.empty() ? std::string("stream error") : text);
}

}  // namespace zpress_python
