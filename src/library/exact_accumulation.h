// A caller's samples added to exact sums on every worker at once: each
// worker sums the blocks it takes into sums of its own, and the sums merge,
// exactly, whatever blocks each one took.
#pragma once

#include "combine/exact_statistics.h"
#include "library/sample_view_blocks.h"

namespace tarvel::library {

// Adds every sample of x to `into` on up to x.workers() threads, or with
// `sign` -1 takes them out again. Throws Error 9, leaving `into` as it was,
// when x's stop is requested, and Error 1 when the count would pass
// 2^63 - 1.
void add_exactly(const SampleViewBlocks& x, ExactStatistics& into, int sign = 1);

}  // namespace tarvel::library
