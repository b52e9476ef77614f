#include "errors.h"

#include <cerrno>

namespace py = pybind11;

namespace tarvel::python {
namespace {

[[noreturn]] void raise_instance(PyObject* type, const py::object& instance, int code) {
  instance.attr("code") = code;
  PyErr_SetObject(type, instance.ptr());
  throw py::error_already_set();
}

bool is_folder(py::handle path) {
  return py::module_::import("os").attr("path").attr("isdir")(path).cast<bool>();
}

bool is_regular_file(py::handle path) {
  return py::module_::import("os").attr("path").attr("isfile")(path).cast<bool>();
}

// OSError and its subclasses as open() raises them: errno, message, file name,
// so that str() names the file and `filename` holds it.
[[noreturn]] void raise_os_error(PyObject* type, int error_number, const std::string& message,
                                 py::handle path, int code) {
  py::object args = path.is_none() ? py::object(py::make_tuple(error_number, message))
                                   : py::object(py::make_tuple(error_number, message, path));
  raise_instance(type, py::reinterpret_borrow<py::object>(type)(*args), code);
}

}  // namespace

void raise_with_code(PyObject* type, const std::string& message, int code) {
  raise_instance(type, py::reinterpret_borrow<py::object>(type)(message), code);
}

void raise_error(const tarvel::Error& error, Doing doing, py::handle path) {
  const int code = error.code();
  const std::string message = error.what();
  switch (code) {
    case 1:
      // A regular file that the reader refuses holds no samples: its content
      // is wrong, not the file.
      if (doing == Doing::reading && !path.is_none() && !is_regular_file(path)) {
        raise_os_error(PyExc_OSError, EINVAL, message, path, code);
      }
      raise_with_code(PyExc_ValueError, message, code);
    case 2:
      if (!path.is_none() && is_folder(path)) {
        raise_os_error(PyExc_IsADirectoryError, EISDIR, message, path, code);
      }
      raise_os_error(PyExc_FileNotFoundError, ENOENT, message, path, code);
    case 3:
      raise_os_error(PyExc_OSError, EIO, message, path, code);
    case 4:
      raise_with_code(PyExc_MemoryError, message, code);
    case 9:
      raise_with_code(PyExc_KeyboardInterrupt, message, code);
    case 17:
      raise_with_code(PyExc_ValueError, message, code);
    default:
      raise_with_code(PyExc_RuntimeError, message, code);
  }
}

}  // namespace tarvel::python
