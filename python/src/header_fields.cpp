#include "header_fields.h"

#include <string_view>

#include "errors.h"

namespace zpress_python {

namespace py = pybind11;

std::optional<std::string> header_fields::text(const py::object& value, const char* what) {
    if (value.is_none()) return std::nullopt;
    std::string bytes;
    if (py::isinstance<py::str>(value)) {
        const py::object encoded = py::reinterpret_steal<py::object>(
            PyUnicode_AsEncodedString(value.ptr(), "latin-1", "strict"));
        if (!encoded) {
            PyErr_Clear();
            throw py::value_error(std::string("the header's ") + what +
                                  " must be Latin-1 text (or bytes)");
        }
        bytes = py::cast<std::string>(encoded);
    } else if (py::isinstance<py::bytes>(value)) {
        bytes = py::cast<std::string>(value);
    } else {
        throw py::type_error(std::string("the header's ") + what + " must be str or bytes");
    }
    if (bytes.find('\0') != std::string::npos)
        throw py::value_error(std::string("the header's ") + what + " cannot hold a NUL byte");
    if (bytes.size() > gzstream::GZ_HEADER_TEXT_MAX)
        throw py::value_error(std::string("the header's ") + what + " is longer than 65535 bytes");
    return bytes;
}

header_fields::header_fields(const py::object& name, const py::object& comment,
                             const py::object& mtime)
    : name_(text(name, "name")), comment_(text(comment, "comment")) {
    fields_.name = name_ ? name_->c_str() : nullptr;
    fields_.comment = comment_ ? comment_->c_str() : nullptr;
    if (!mtime.is_none()) {
        const auto t = py::cast<long long>(py::int_(mtime));
        if (t < 0 || t > 0xFFFFFFFFLL) throw py::value_error("mtime must be 0 to 2**32 - 1");
        fields_.mtime = static_cast<std::uint32_t>(t);
    }
}

}  // namespace zpress_python
