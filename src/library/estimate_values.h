// The estimate's arrays as the public Estimate holds them: 0-based complex
// values, matrices row-major.
#pragma once

#include <complex>
#include <vector>

#include "combine/complex_arrays.h"
#include "combine/estimation.h"
#include "combine/exact_statistics.h"
#include "tarvel/tarvel.h"

namespace tarvel::library {

std::vector<std::complex<float>> complex_values(const ComplexVector& v);
std::vector<std::complex<float>> complex_values(const ComplexMatrix& m);

// The estimate of the samples an accumulator's exact sums hold, which must
// be at least one. Throws Error 1 for none, 4 when an array cannot be had,
// 9 when `stop` is requested.
Estimate estimate_exactly(const ExactStatistics& sums, const std::stop_token& stop);

}  // namespace tarvel::library
