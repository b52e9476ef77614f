// tarvel::Error as the Python exception a Python user expects for the same
// mistake, with the tool's exit status as its `code` attribute.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "tarvel/tarvel.h"

namespace tarvel::python {

// What a failing call was doing: the same code means another mistake in
// each (1 is a bad array for a computation, a bad file for reading, sizes
// that differ for writing).
enum class Doing { computing, reading, writing };

// Raises the Python exception for `error`: FileNotFoundError (code 2, or
// IsADirectoryError for a folder), OSError (1 for a device or pipe, 3),
// ValueError (1 for sample views and sizes, 1 for a file that holds no
// samples, 17), MemoryError (4), KeyboardInterrupt (9). `path` is the file
// name as the caller gave it, set as the exception's `filename`, or None.
[[noreturn]] void raise_error(const tarvel::Error& error, Doing doing,
                              pybind11::handle path = pybind11::none());

// Raises `type` (a builtin exception) with `message` and `code`.
[[noreturn]] void raise_with_code(PyObject* type, const std::string& message, int code);

}  // namespace tarvel::python
