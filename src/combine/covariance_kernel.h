// The covariance sums of the channel statistics, the O(S·K²) loop of the
// run, evaluated in double precision and vectorised, bit for bit as the
// extended evaluation of each formula gives them.
#pragma once

#include <cstdint>
#include <limits>

#include "combine/simd_level.h"

namespace tarvel::detail {

// For every sample n = 0..samples-1 in order, and every pair (k, l) with
// l >= k, adds e = c·a - d·b into rr[k·channels + l] and f = c·b + d·a into
// ri[k·channels + l], where a = xr(n,k) - mr(k), b = xi(n,k) - mi(k),
// c = xr(n,l) - mr(l), d = -(xi(n,l) - mi(l)), x(n,k) being
// x[n·channels + k]. Every value and every running sum is rounded to single
// exactly as the extended evaluation of its formula rounds it. Some pairs with
// l < k are accumulated too, the same way; the others are left as they are.
// `level` must be supported by this processor. Cannot fail; does not
// allocate.
//
// With `rows`, only the rows k of that share are accumulated: each element
// still receives its samples in order, so the rows may be shared among
// threads and give the same sums.
struct CovarianceRows {
  std::int64_t first = 0;  // the rows k with first <= k < last
  std::int64_t last = std::numeric_limits<std::int64_t>::max();

  bool has(std::int64_t k) const { return k >= first && k < last; }
};

void accumulate_covariance_sums(SimdLevel level, const float* xr, const float* xi,
                                std::int64_t samples, std::int64_t channels, const float* mr,
                                const float* mi, float* rr, float* ri,
                                const CovarianceRows& rows = {});

}  // namespace tarvel::detail
