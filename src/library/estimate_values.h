// The estimate's arrays as the public Estimate holds them: 0-based complex
// values, matrices row-major.
#pragma once

#include <complex>
#include <span>
#include <stop_token>
#include <vector>

#include "combine/complex_arrays.h"
#include "combine/estimation.h"
#include "combine/exact_statistics.h"
#include "tarvel/tarvel.h"

namespace tarvel::library {

std::vector<std::complex<float>> complex_values(const ComplexVector& v);
std::vector<std::complex<float>> complex_values(const ComplexMatrix& m);

class SampleViewBlocks;

// The estimate of `blocks` in the arithmetic of `options`, the combined
// samples stored in y when its data is not null (y must then hold one per
// sample). Throws as tarvel::combine.
Estimate estimate_over(const SampleViewBlocks& blocks, const Options& options,
                       std::span<std::complex<float>> y, const std::stop_token& stop);

// y itself, or an empty room with data when y has none: combine's y, which
// must be checked even when empty.
std::span<std::complex<float>> room_for(std::span<std::complex<float>> y);

// The estimate of the samples an accumulator's exact sums hold, which must
// be at least one. Throws Error 1 for none, 4 when an array cannot be had,
// 9 when `stop` is requested.
// With `loading`, the diagonal loading of Options.
Estimate estimate_exactly(const ExactStatistics& sums, float loading, const std::stop_token& stop);

// Combines x's samples with the weights v by the command's per-sample
// formula into y (one per sample of x), on x's workers. False when x's stop
// was requested before the end.
bool store_combined(const SampleViewBlocks& x, const ComplexVector& v, std::complex<float>* y);

}  // namespace tarvel::library
