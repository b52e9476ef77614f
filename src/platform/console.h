// Standard output and standard error.
#pragma once

#include <cstddef>

namespace tarvel::platform {

// Writes all of `bytes` to standard output at once, retrying partial writes;
// when a write fails the rest is lost quietly. Bytes go out unchanged, with
// no line-end translation. Never allocates.
void write_standard_output(const char* bytes, std::size_t size);

// As write_standard_output, to standard error. Safe in a signal handler.
void write_standard_error(const char* bytes, std::size_t size);

}  // namespace tarvel::platform
