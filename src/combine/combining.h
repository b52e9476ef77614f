// Optimum weights, the reference channel, normalisation and the combined
// signal with its mean and SNR.
#pragma once

#include <cstdint>

#include "combine/complex_arrays.h"
#include "runtime/arrays.h"

namespace tarvel {

// w = conj(B m): fills w (length K, allocated). Does not allocate.
void compute_optimum_weights(const ComplexVector& m, const ComplexMatrix& B, ComplexVector& w);

// The first channel whose SNR is strictly the greatest above -1000 dB; 1 when
// none is (NaN never wins).
std::int64_t select_reference_channel(const Array1<float>& snr);

// v = w / w(ref), with v(ref) set to exactly 1 + 0j. Fills v (length K,
// allocated); no guard against w(ref) = 0. Does not allocate.
void normalise_weights(const ComplexVector& w, std::int64_t ref, ComplexVector& v);

// y(n) = sum over k of x(n,k) v(k): fills yr, yi (length S, allocated). Does
// not allocate.
void combine_signal(const Array2<float>& xr, const Array2<float>& xi, const ComplexVector& v,
                    Array1<float>& yr, Array1<float>& yi);

// The combined signal's mean ybar, power Pc, noise power N0 and SNR in dB.
struct CombinedStatistics {
  float mean_re = 0;
  float mean_im = 0;
  float power = 0;
  float noise_power = 0;
  float snr = 0;
};

// Mean, power, noise power (deviations in double precision) and SNR of y.
CombinedStatistics compute_combined_statistics(const Array1<float>& yr, const Array1<float>& yi);

}  // namespace tarvel
