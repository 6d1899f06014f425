#include "line_iterator.h"

#include <new>

#include "gz_file.h"

namespace zpress_python {
namespace {

namespace py = pybind11;

struct line_iterator {
    PyObject_HEAD PyObject* owner;
    gz_file* file;
};

void dealloc(PyObject* self) {
    auto* it = reinterpret_cast<line_iterator*>(self);
    Py_XDECREF(it->owner);
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* next(PyObject* self) {
    try {
        return reinterpret_cast<line_iterator*>(self)->file->next_line();
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (const py::builtin_exception& e) {
        e.set_error();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    }
    return nullptr;
}

PyType_Slot slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
    {Py_tp_iter, reinterpret_cast<void*>(&PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(&next)},
    {0, nullptr},
};

PyType_Spec iterator_type = {
    "zpress._zpress.LineIterator", sizeof(line_iterator), 0, Py_TPFLAGS_DEFAULT, slots,
};

}  // namespace

py::object make_line_iterator_type(py::module_& m) {
    auto type = py::reinterpret_steal<py::object>(PyType_FromSpec(&iterator_type));
    if (!type) throw py::error_already_set();
    m.attr("LineIterator") = type;
    return type;
}

py::object new_line_iterator(const py::object& type, const py::object& owner, gz_file* file) {
    auto* tp = reinterpret_cast<PyTypeObject*>(type.ptr());
    PyObject* self = tp->tp_alloc(tp, 0);
    if (self == nullptr) throw py::error_already_set();
    auto* it = reinterpret_cast<line_iterator*>(self);
    it->owner = Py_NewRef(owner.ptr());
    it->file = file;
    return py::reinterpret_steal<py::object>(self);
}

}  // namespace zpress_python
