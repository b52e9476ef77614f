// The floating-point environment every computation of the tool assumes.
#pragma once

#include <limits>

namespace tarvel {

// The arithmetic model evaluates each formula in the x87 extended format.
static_assert(std::numeric_limits<long double>::digits == 64,
              "long double must be the x87 extended type with a 64-bit significand");
static_assert(std::numeric_limits<double>::is_iec559 && std::numeric_limits<float>::is_iec559,
              "float and double must be IEEE 754 binary32 and binary64");

// Sets the x87 unit to a 64-bit significand, rounding to nearest and every
// exception masked, and the SSE unit to rounding to nearest with every
// exception masked, so infinities and NaN propagate instead of trapping.
void set_floating_point_environment();

}  // namespace tarvel
