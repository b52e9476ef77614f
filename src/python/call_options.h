// The keyword arguments `arithmetic` and `workers` of the computing calls, as
// the library's Options.
#pragma once

#include <pybind11/pybind11.h>

#include "tarvel/tarvel.h"

namespace tarvel::python {

// "exact" or "command" as the library's Arithmetic. Raises ValueError (code
// 1) naming the argument for anything else, strings of other spellings and
// objects of other types alike.
tarvel::Arithmetic arithmetic_of(pybind11::handle arithmetic);

// None as 0 (every processor), an integer (anything with __index__ but a
// bool) of at least 1 as itself, one past the int range as the largest int.
// Raises TypeError (code 1) for other types and ValueError (code 1) below 1.
int workers_of(pybind11::handle workers);

}  // namespace tarvel::python
