// The vector levels of the combine kernels that this processor can run, for
// the tests that expect the same bits from each of them.
#pragma once

#include <gtest/gtest.h>

#include "combine/simd_level.h"

namespace tarvel::testing {

inline const char* level_name(detail::SimdLevel level) {
  switch (level) {
    case detail::SimdLevel::kScalar:
      return "scalar";
    case detail::SimdLevel::kVector128:
      return "128-bit vectors";
    case detail::SimdLevel::kVector256:
      return "256-bit vectors";
  }
  return "?";
}

// Calls `check(level)` for each level this processor supports, the scalar one
// first, with the level's name in the trace of any failure; stops after a
// fatal one, as a loop of ASSERTs would.
template <typename Check>
void for_each_supported_level(Check check) {
  for (detail::SimdLevel level :
       {detail::SimdLevel::kScalar, detail::SimdLevel::kVector128, detail::SimdLevel::kVector256}) {
    if (!detail::simd_level_supported(level)) continue;
    SCOPED_TRACE(level_name(level));
    check(level);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

}  // namespace tarvel::testing
