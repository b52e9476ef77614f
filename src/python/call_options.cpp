#include "call_options.h"

#include <climits>
#include <cmath>
#include <string>

#include "errors.h"

namespace py = pybind11;

namespace tarvel::python {

tarvel::Arithmetic arithmetic_of(py::handle arithmetic) {
  // Compared without converting: a str that does not encode is no name either.
  if (PyUnicode_Check(arithmetic.ptr())) {
    if (PyUnicode_CompareWithASCIIString(arithmetic.ptr(), "exact") == 0) {
      return tarvel::Arithmetic::exact;
    }
    if (PyUnicode_CompareWithASCIIString(arithmetic.ptr(), "command") == 0) {
      return tarvel::Arithmetic::command;
    }
  }
  raise_with_code(
      PyExc_ValueError,
      "arithmetic must be 'exact' or 'command', not " + py::repr(arithmetic).cast<std::string>(),
      Failure::illegal_function_call);
}

int workers_of(py::handle workers) {
  if (workers.is_none()) return 0;
  // A bool is an int to Python, but workers=True is a mistake, not one thread.
  if (PyBool_Check(workers.ptr()) || !PyIndex_Check(workers.ptr())) {
    raise_with_code(PyExc_TypeError,
                    "workers must be an integer or None, not " +
                        py::str(py::type::handle_of(workers).attr("__name__")).cast<std::string>(),
                    Failure::illegal_function_call);
  }
  const auto count = py::reinterpret_steal<py::object>(PyNumber_Index(workers.ptr()));
  if (!count) throw py::error_already_set();
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(count.ptr(), &overflow);
  if (overflow < 0 || (overflow == 0 && value < 1)) {
    raise_with_code(PyExc_ValueError,
                    "workers must be at least 1 (None for every processor), not " +
                        py::repr(count).cast<std::string>(),
                    Failure::illegal_function_call);
  }
  // More threads than any machine has are as many as it has.
  return overflow > 0 || value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

float loading_of(py::handle loading) {
  if (PyBool_Check(loading.ptr()) || !PyNumber_Check(loading.ptr()) ||
      PyComplex_Check(loading.ptr())) {
    raise_with_code(PyExc_TypeError,
                    "loading must be a real number, not " +
                        py::str(py::type::handle_of(loading).attr("__name__")).cast<std::string>(),
                    Failure::illegal_function_call);
  }
  const double value = PyFloat_AsDouble(loading.ptr());
  if (value == -1.0 && PyErr_Occurred()) throw py::error_already_set();
  if (std::isnan(value) || value < 0) {
    raise_with_code(PyExc_ValueError,
                    "loading must be 0 or more (a fraction of the mean noise power), not " +
                        py::repr(loading).cast<std::string>(),
                    Failure::illegal_function_call);
  }
  return static_cast<float>(value);
}

tarvel::Options options_of(py::handle arithmetic, py::handle workers, py::handle loading) {
  tarvel::Options options;
  options.arithmetic = arithmetic_of(arithmetic);
  options.workers = workers_of(workers);
  options.loading = loading_of(loading);
  return options;
}

std::int64_t count_of(py::handle count, const char* name) {
  if (PyBool_Check(count.ptr()) || !PyIndex_Check(count.ptr())) {
    raise_with_code(PyExc_TypeError,
                    std::string(name) + " must be an integer, not " +
                        py::str(py::type::handle_of(count).attr("__name__")).cast<std::string>(),
                    Failure::illegal_function_call);
  }
  const auto value = py::reinterpret_steal<py::object>(PyNumber_Index(count.ptr()));
  if (!value) throw py::error_already_set();
  int overflow = 0;
  const long long n = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
  if (overflow < 0 || (overflow == 0 && n < 1)) {
    raise_with_code(
        PyExc_ValueError,
        std::string(name) + " must be at least 1, not " + py::repr(value).cast<std::string>(),
        Failure::illegal_function_call);
  }
  // Past the int64 range is past every S, and refused as such by the caller.
  return overflow > 0 ? INT64_MAX : static_cast<std::int64_t>(n);
}

}  // namespace tarvel::python
