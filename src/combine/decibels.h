// The one decibel conversion shared by the per-channel and the combined SNR.
#pragma once

#include "combine/extended.h"
#include "combine/natural_log.h"

namespace tarvel::detail {

// ln 10 as a double constant, widened: the divisor carries only double
// precision although the logarithm and the quotient are extended.
inline constexpr double kLn10 = 2.3025850929940459;

// 10 log10(x) as (ln(x) * 10) / ln 10 in extended precision, rounded to single
// once. x = 0 gives -infinity, +infinity gives +infinity, NaN stays NaN, a
// negative x gives NaN. The logarithm is the tool's own, so the result does
// not depend on the C library.
inline float decibels(float x) {
  return static_cast<float>((natural_log<Extended>(x) * 10) / Extended{kLn10});
}

}  // namespace tarvel::detail
