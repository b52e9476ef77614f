// The exact sums of products of one block of samples, in double precision
// and vectorised. Each sample part x is split, on a grid chosen per channel
// and block, into hi + lo: hi a multiple of u = 2^(E - 20) with at most 22
// bits, lo a multiple of u / 2^21 with at most 21, where 2^(E + 1) bounds the
// channel's parts in the block. Every product of two such pieces is then an
// integer multiple of its unit below 2^42, and up to kMaxSamples samples of
// them sum exactly in double: the block's sums are exact, whatever order the
// lanes add them in.
#pragma once

#include <cstdint>

#include "combine/simd_level.h"

namespace tarvel::detail {

// The most samples one block's double sums take exactly.
inline constexpr std::int64_t kMaxExactBlock = 1024;

// The split parts of one channel in a block: count values each, padded with
// zeros to a multiple of 4.
struct SplitChannel {
  const double* hr;
  const double* hi;
  const double* lr;
  const double* li;
  bool has_lo;  // whether any lo part is not zero
};

// The sums over the block of x(n,k)·conj(x(n,l)) by piece: [0], [1] the real
// and imaginary parts of hi·hi, [2], [3] of the hi·lo cross terms, [4], [5]
// of lo·lo. Each is exact. `count` must be a multiple of 4 and at most
// kMaxExactBlock; `level` must be supported by this processor.
void exact_pair_sums(SimdLevel level, const SplitChannel& k, const SplitChannel& l,
                     std::int64_t count, double sums[6]);

}  // namespace tarvel::detail
