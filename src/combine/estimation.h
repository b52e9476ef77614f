// The estimate's steps in their fixed order, over arrays that each step
// allocates when it first needs them: the tool runs them with its report
// printed in between, the library one after the other.
#pragma once

#include <cstdint>
#include <stop_token>

#include "combine/combining.h"
#include "combine/complex_arrays.h"
#include "combine/sample_blocks.h"
#include "runtime/arrays.h"
#include "runtime/runtime_error.h"

namespace tarvel {

struct EstimateArrays {
  std::int64_t sample_count = 0;
  std::int64_t channel_count = 0;
  ComplexVector means;
  ComplexMatrix covariance;
  Array1<float> snr;
  ComplexMatrix inverse;
  ComplexVector weights;
  ComplexVector normalised;
  std::int64_t reference = 0;  // 1-based
};

// Each allocation returns 0, or the code of the first of its arrays that
// cannot be had (Array1::allocate); the arrays are zero-filled.

// The means and the covariance.
RuntimeErrorCode allocate_statistics(EstimateArrays& e, std::int64_t sample_count,
                                     std::int64_t channel_count);
// The means and the covariance of x (compute_means_and_covariance); false
// when x stopped.
bool compute_statistics(const SampleBlocks& x, EstimateArrays& e);

// The per-channel SNR.
RuntimeErrorCode allocate_snr(EstimateArrays& e);
void compute_snr(EstimateArrays& e);

// Diagonal loading: adds loading·trace(R)/K to each diagonal element of the
// covariance, the trace summed in channel order in extended precision and
// each element rounded once; 0 leaves it as it is.
void load_diagonal(EstimateArrays& e, float loading);

// The inverse and the weight vectors.
RuntimeErrorCode allocate_inverse_and_weights(EstimateArrays& e);
// The inverse of the covariance, which the inversion uses up: it is left
// reduced to the identity. False when `stop` was requested.
bool invert_covariance(EstimateArrays& e, const std::stop_token& stop = {});
// The optimum weights, the reference channel and the normalised weights.
void compute_weights(EstimateArrays& e);

}  // namespace tarvel
