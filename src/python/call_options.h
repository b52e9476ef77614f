// The keyword arguments of the computing calls (`arithmetic`, `workers`,
// `loading`) as the library's Options, and their counts of samples.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>

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

// A real number (anything with __float__ but a bool) as the diagonal
// loading, rounded to single. Raises TypeError (code 1) for other types and
// ValueError (code 1) for a negative or NaN value.
float loading_of(pybind11::handle loading);

// The three as Options.
tarvel::Options options_of(pybind11::handle arithmetic, pybind11::handle workers,
                           pybind11::handle loading);

// An integer of at least 1 (anything with __index__ but a bool), such as a
// block's length; `name` names it in the TypeError or ValueError (code 1).
std::int64_t count_of(pybind11::handle count, const char* name);

}  // namespace tarvel::python
