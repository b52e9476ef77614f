#include "call_options.h"

#include <climits>
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
      1);
}

int workers_of(py::handle workers) {
  if (workers.is_none()) return 0;
  // A bool is an int to Python, but workers=True is a mistake, not one thread.
  if (PyBool_Check(workers.ptr()) || !PyIndex_Check(workers.ptr())) {
    raise_with_code(PyExc_TypeError,
                    "workers must be an integer or None, not " +
                        py::str(py::type::handle_of(workers).attr("__name__")).cast<std::string>(),
                    1);
  }
  const auto count = py::reinterpret_steal<py::object>(PyNumber_Index(workers.ptr()));
  if (!count) throw py::error_already_set();
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(count.ptr(), &overflow);
  if (overflow < 0 || (overflow == 0 && value < 1)) {
    raise_with_code(PyExc_ValueError,
                    "workers must be at least 1 (None for every processor), not " +
                        py::repr(count).cast<std::string>(),
                    1);
  }
  // More threads than any machine has are as many as it has.
  return overflow > 0 || value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

}  // namespace tarvel::python
