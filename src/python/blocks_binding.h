// The calls on blocks of samples (estimate_blocks, apply, combine_blocks)
// and the class tarvel.Estimates of their results.
#pragma once

#include <pybind11/pybind11.h>

namespace tarvel::python {

// Adds Estimates, estimate_blocks, apply and combine_blocks to `m`, whose
// class Estimate Estimates' items are.
void bind_blocks(pybind11::module_& m);

}  // namespace tarvel::python
