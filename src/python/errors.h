// tarvel::Error as the Python exception a Python user expects for the same
// mistake, with the tool's exit status as its `code` attribute.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <string_view>

#include "tarvel/tarvel.h"

namespace tarvel::python {

// Raises the Python exception for `error`: an OSError where the system gave a
// reason, of the subclass its error number picks as open() would
// (FileNotFoundError, IsADirectoryError, PermissionError; a file that cannot
// be opened is FileNotFoundError, one the reader cannot take, such as a
// device or pipe, OSError EINVAL, a failed write OSError EIO), ValueError
// for code 1 otherwise and 17, MemoryError (4), KeyboardInterrupt (9). The
// error's file becomes the exception's `filename`: `given_name`, the file
// name as the caller gave it, when its bytes are `given_bytes`, else the
// file's own name decoded.
[[noreturn]] void raise_error(const tarvel::Error& error,
                              pybind11::handle given_name = pybind11::none(),
                              std::string_view given_bytes = {});

// Raises `type` (a builtin exception) with `message`, its `code` the exit
// status of `failure`.
[[noreturn]] void raise_with_code(PyObject* type, const std::string& message, Failure failure);

// The name of `value`'s type, as a message that refuses it names it.
std::string type_name(pybind11::handle value);

// A file name's bytes as the str os.fsdecode would give.
pybind11::str decoded_file_name(const std::string& bytes);

}  // namespace tarvel::python
