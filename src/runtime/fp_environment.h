// The floating-point environment every computation of the tool assumes.
#pragma once

#include <limits>

namespace tarvel {

static_assert(std::numeric_limits<double>::is_iec559 && std::numeric_limits<float>::is_iec559,
              "float and double must be IEEE 754 binary32 and binary64");

// Sets every floating-point unit the program uses to rounding to nearest
// with every exception masked, so infinities and NaN propagate instead of
// trapping, and with subnormal numbers kept: the x87 unit also to a 64-bit
// significand, the SSE unit on x86, the FPCR on aarch64, and elsewhere the
// C library's default environment.
void set_floating_point_environment();

// True when the calling thread's environment is the one the function above
// sets.
bool floating_point_environment_is_set();

}  // namespace tarvel
