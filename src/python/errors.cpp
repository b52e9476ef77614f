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

// OSError as open() raises it: errno, message, file name, so that str()
// names the file, `filename` holds it, and the error number picks the
// subclass.
[[noreturn]] void raise_os_error(int error_number, const std::string& message, py::handle path,
                                 int code) {
  py::object args = path.is_none() ? py::object(py::make_tuple(error_number, message))
                                   : py::object(py::make_tuple(error_number, message, path));
  py::object type = py::reinterpret_borrow<py::object>(PyExc_OSError);
  py::object instance = type(*args);
  raise_instance(reinterpret_cast<PyObject*>(Py_TYPE(instance.ptr())), instance, code);
}

}  // namespace

std::string type_name(py::handle value) {
  return py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>();
}

py::str decoded_file_name(const std::string& bytes) {
  return py::reinterpret_steal<py::str>(
      PyUnicode_DecodeFSDefaultAndSize(bytes.data(), static_cast<py::ssize_t>(bytes.size())));
}

void raise_with_code(PyObject* type, const std::string& message, Failure failure) {
  raise_instance(type, py::reinterpret_borrow<py::object>(type)(message),
                 static_cast<int>(failure));
}

void raise_error(const tarvel::Error& error, py::handle given_name, std::string_view given_bytes) {
  const int code = error.code();
  const std::string message = error.what();
  const std::string file = error.path().string();
  py::object path = py::none();
  if (!file.empty()) {
    path = !given_name.is_none() && file == given_bytes
               ? py::reinterpret_borrow<py::object>(given_name)
               : py::object(decoded_file_name(file));
  }
  const int error_number = error.reason().value();
  switch (error.failure()) {
    case Failure::illegal_function_call:
      if (error_number != 0) raise_os_error(error_number, message, path, code);
      raise_with_code(PyExc_ValueError, message, error.failure());
    case Failure::file_not_found:
      raise_os_error(error_number != 0 ? error_number : ENOENT, message, path, code);
    case Failure::file_io_error:
      raise_os_error(error_number != 0 ? error_number : EIO, message, path, code);
    case Failure::out_of_memory:
      raise_with_code(PyExc_MemoryError, message, error.failure());
    case Failure::interrupted:
      raise_with_code(PyExc_KeyboardInterrupt, message, error.failure());
    case Failure::end_of_file:
      raise_with_code(PyExc_ValueError, message, error.failure());
  }
  raise_with_code(PyExc_RuntimeError, message, error.failure());
}

}  // namespace tarvel::python
