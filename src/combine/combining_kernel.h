// The combined signal, the O(S·K) loop of the combining, evaluated in double
// precision and vectorised over samples, bit for bit as the extended
// evaluation of each formula gives it.
#pragma once

#include <cstdint>

#include "combine/simd_level.h"

namespace tarvel::detail {

// For n = 0..samples-1: yr[n] + j·yi[n] = the sum over k of x(n,k)·v(k),
// x(n,k) being xr[n·channels + k] + j·xi[n·channels + k], accumulated in
// ascending k as sr <- (xr·vr + sr) - xi·vi; si <- (xi·vr + si) + xr·vi, every
// running sum rounded to single exactly as the extended evaluation rounds it.
// `level` must be supported by this processor. Cannot fail; does not
// allocate.
void combine_samples(SimdLevel level, const float* xr, const float* xi, std::int64_t samples,
                     std::int64_t channels, const float* vr, const float* vi, float* yr, float* yi);

}  // namespace tarvel::detail
