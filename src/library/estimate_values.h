// The estimate's arrays as the public Estimate holds them: 0-based complex
// values, matrices row-major.
#pragma once

#include <complex>
#include <vector>

#include "combine/complex_arrays.h"
#include "combine/estimation.h"
#include "tarvel/tarvel.h"

namespace tarvel::library {

std::vector<std::complex<float>> complex_values(const ComplexVector& v);
std::vector<std::complex<float>> complex_values(const ComplexMatrix& m);

// The steps of the estimate up to the normalised weights, over x, into
// `arrays` and `out` (all but the combined signal's mean and SNR). Throws
// Error 4 when an array cannot be had, 9 when `stop` is requested.
void estimate_weights(const SampleBlocks& x, const std::stop_token& stop, EstimateArrays& arrays,
                      Estimate& out);

}  // namespace tarvel::library
