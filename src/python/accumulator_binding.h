// The class tarvel.Accumulator: the library's exact sums, shared safely by
// Python threads, picklable through its bytes.
#pragma once

#include <pybind11/pybind11.h>

namespace tarvel::python {

// Adds the class Accumulator to `m`, whose class Estimate its estimate()
// returns.
void bind_accumulator(pybind11::module_& m);

}  // namespace tarvel::python
