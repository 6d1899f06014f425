// Header fields given from Python (str or bytes texts, an int time) as the
// stream layer takes them.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>

#include "zpress/gzio.h"

namespace zpress_python {

class header_fields {
  public:
    // GIL held.  Texts as str (stored as Latin-1, as the format says) or
    // bytes, without NUL bytes; mtime 0 to 2**32 - 1; None for none.
    header_fields(const pybind11::object& name, const pybind11::object& comment,
                  const pybind11::object& mtime);
    const gzstream::gz_header_fields* get() const { return &fields_; }

  private:
    static std::optional<std::string> text(const pybind11::object& value, const char* what);
    std::optional<std::string> name_;
    std::optional<std::string> comment_;
    gzstream::gz_header_fields fields_;
};

}  // namespace zpress_python
