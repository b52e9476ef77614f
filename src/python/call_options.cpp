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

namespace {

// `value` as an integer of at least 1, saturated at INT64_MAX: TypeError
// unless it is an integer (a bool is a mistake, not 0 or 1), ValueError
// below 1. `wanted` says what it must be, `least` what its floor means.
std::int64_t positive_count(py::handle value, const std::string& name, const char* wanted,
                            const char* least) {
  if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr())) {
    raise_with_code(PyExc_TypeError, name + " must be " + wanted + ", not " + type_name(value),
                    Failure::illegal_function_call);
  }
  const auto index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!index) throw py::error_already_set();
  int overflow = 0;
  const long long n = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (overflow < 0 || (overflow == 0 && n < 1)) {
    raise_with_code(
        PyExc_ValueError,
        name + " must be at least 1" + least + ", not " + py::repr(index).cast<std::string>(),
        Failure::illegal_function_call);
  }
  return overflow > 0 ? INT64_MAX : static_cast<std::int64_t>(n);
}

}  // namespace

int workers_of(py::handle workers) {
  if (workers.is_none()) return 0;
  const std::int64_t count =
      positive_count(workers, "workers", "an integer or None", " (None for every processor)");
  // More threads than any machine has are as many as it has.
  return count > INT_MAX ? INT_MAX : static_cast<int>(count);
}

float loading_of(py::handle loading) {
  if (PyBool_Check(loading.ptr()) || !PyNumber_Check(loading.ptr()) ||
      PyComplex_Check(loading.ptr())) {
    raise_with_code(PyExc_TypeError, "loading must be a real number, not " + type_name(loading),
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
  // Past the int64 range is past every S, and refused as such by the caller.
  return positive_count(count, name, "an integer", "");
}

}  // namespace tarvel::python
