// Optimum weights, the reference channel, normalisation and the combined
// signal with its mean and SNR.
#pragma once

#include <cstdint>

#include "combine/complex_arrays.h"
#include "combine/sample_blocks.h"
#include "combine/simd_level.h"
#include "runtime/arrays.h"

namespace tarvel {

// The optimum weights w = conj(B m), B the inverse noise covariance (K x K):
// fills w (length K, allocated); a zero sum gives an imaginary part of -0.
// Every stored value, running sums included, is single precision, each
// formula evaluated in extended precision and rounded once when stored; the
// same holds for every function below. Cannot fail; does not allocate.
void compute_optimum_weights(const ComplexVector& m, const ComplexMatrix& B, ComplexVector& w);

// The reference channel: the first channel whose SNR is strictly the greatest
// and above -1000 dB; 1 when none is (NaN never wins).
std::int64_t select_reference_channel(const Array1<float>& snr);

// v = w / w(ref), with v(ref) set to exactly 1 + 0j. Fills v (length K,
// allocated). No guard: w(ref) = 0 makes every other v(k) NaN, and |w(ref)|
// whose square overflows makes every finite other weight 0. Does not allocate.
void normalise_weights(const ComplexVector& w, std::int64_t ref, ComplexVector& v);

// y(n) = sum over k of x(n,k) v(k), the weights not conjugated: fills yr, yi
// (length S, allocated) from xr, xi (S x K). Does not allocate.
void combine_signal(const Array2<float>& xr, const Array2<float>& xi, const ComplexVector& v,
                    Array1<float>& yr, Array1<float>& yi);

// The same evaluated at `level`, which this processor must support, shared
// among `workers` threads (the shared work's worker_count() above); every
// level and every number of workers gives the same bits.
void combine_signal(const Array2<float>& xr, const Array2<float>& xi, const ComplexVector& v,
                    Array1<float>& yr, Array1<float>& yi, detail::SimdLevel level);
void combine_signal(const Array2<float>& xr, const Array2<float>& xi, const ComplexVector& v,
                    Array1<float>& yr, Array1<float>& yi, detail::SimdLevel level, int workers);

// The combined samples of one block of x (`channels` each), as
// combine_signal gives them, into yr and yi (block.count each). May run on
// any thread. Does not allocate.
void combine_block(const SampleBlock& block, std::int64_t channels, const ComplexVector& v,
                   float* yr, float* yi);

// The combined signal's mean ybar, power Pc, noise power N0 and SNR in dB.
struct CombinedStatistics {
  float mean_re = 0;
  float mean_im = 0;
  float power = 0;
  float noise_power = 0;
  float snr = 0;
};

// The combined statistics from the mean ybar = ybr + j ybi and the noise
// power n0 of S samples: the power |ybar|^2 stored in single precision and
// the SNR 10 log10(S power / n0). Does not allocate.
CombinedStatistics combined_statistics_of(float ybr, float ybi, float n0, std::int64_t samples);

// Mean ybar, power |ybar|^2, noise power (the mean of |y(n) - ybar|^2, with
// the deviations, their squares and the partial sum of each step in double
// precision) and SNR 10 log10(S power / noise power) of y (length S >= 1).
// Does not allocate.
CombinedStatistics compute_combined_statistics(const Array1<float>& yr, const Array1<float>& yi);

// The same in two passes over the combined samples in blocks, for a signal
// that is not stored whole: every sample in order to add_to_mean, then
// every sample in order again to add_to_noise_power; then result().
class CombinedStatisticsSums {
 public:
  explicit CombinedStatisticsSums(std::int64_t samples) : samples_(samples) {}
  void add_to_mean(const float* yr, const float* yi, std::int64_t count);
  void add_to_noise_power(const float* yr, const float* yi, std::int64_t count);
  CombinedStatistics result();

 private:
  void end_mean();

  std::int64_t samples_;
  bool mean_ended_ = false;
  float ybr_ = 0;
  float ybi_ = 0;
  float n0_ = 0;
};

}  // namespace tarvel
