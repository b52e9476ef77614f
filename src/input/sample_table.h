// The samples of the input file as the passes store them.
#pragma once

#include <cstdint>

#include "runtime/arrays.h"
#include "runtime/runtime_error.h"

namespace tarvel {

// Time values t (1..S) and the sample parts xr, xi (1..S x 1..K).
struct SampleTable {
  Array1<double> t;
  Array2<float> xr;
  Array2<float> xi;
};

// Allocates t, then xr, then xi, zero-filled. Returns 0, 1 (S or K below 1) or
// 4 (no storage, or bounds past the 32-bit range) from the first failing one.
RuntimeErrorCode allocate_sample_table(SampleTable& table, std::int64_t sample_count,
                                       std::int64_t channel_count);

}  // namespace tarvel
