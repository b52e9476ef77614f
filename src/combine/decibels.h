// The one decibel conversion shared by the per-channel and the combined SNR.
#pragma once

#include <cmath>

namespace tarvel::detail {

// ln 10 as a double constant, widened: the divisor carries only double
// precision although the logarithm and the quotient are extended.
inline constexpr long double kLn10 = static_cast<long double>(2.3025850929940459);

// 10 log10(x) as (ln(x) * 10) / ln 10 in extended precision, rounded to single
// once. x = 0 gives -infinity, +infinity gives +infinity, NaN stays NaN.
inline float decibels(float x) {
  return static_cast<float>((std::log(static_cast<long double>(x)) * 10) / kLn10);
}

}  // namespace tarvel::detail
