// Channel means, noise covariance and per-channel SNR.
#pragma once

#include <cstdint>

#include "combine/complex_arrays.h"
#include "combine/sample_blocks.h"
#include "combine/simd_level.h"
#include "runtime/arrays.h"

namespace tarvel {

// Fills the channel means m (length K) and the noise covariance R (K x K,
// R(k,l) the mean of (x(n,k) - m(k)) conj(x(n,l) - m(l))) from the samples
// xr, xi (S x K, S >= 1, K >= 1). m and R must be allocated; every element is
// overwritten. Every stored value, running sums included, is single precision,
// each formula evaluated in extended precision and rounded once when stored;
// the diagonal's imaginary parts are exactly 0. No guards: infinities and NaN
// propagate. Cannot fail; does not allocate.
void compute_means_and_covariance(const Array2<float>& xr, const Array2<float>& xi,
                                  ComplexVector& m, ComplexMatrix& R);

// The same with the covariance sums evaluated at `level`, which this
// processor must support; every level gives the same bits.
void compute_means_and_covariance(const Array2<float>& xr, const Array2<float>& xi,
                                  ComplexVector& m, ComplexMatrix& R, detail::SimdLevel level);

// The same over samples handed on in blocks, in two passes (the means, then
// the covariance sums): the bits do not depend on the blocks. Returns false,
// with m and R unfinished, when `x` stopped before its last block.
bool compute_means_and_covariance(const SampleBlocks& x, ComplexVector& m, ComplexMatrix& R,
                                  detail::SimdLevel level);

// Fills snr (length K, allocated) with 10 log10(S |m(k)|^2 / |R(k,k)|) in dB,
// S = sample_count, under the same arithmetic model: +infinity for zero noise,
// NaN for zero noise and zero mean, -infinity for zero mean. Cannot fail; does
// not allocate.
void compute_channel_snr(const ComplexVector& m, const ComplexMatrix& R, std::int64_t sample_count,
                         Array1<float>& snr);

}  // namespace tarvel
