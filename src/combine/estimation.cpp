#include "combine/estimation.h"

#include "combine/channel_statistics.h"
#include "combine/extended.h"
#include "combine/matrix_inversion.h"

namespace tarvel {
namespace {

RuntimeErrorCode allocate_vector(ComplexVector& v, std::int64_t size) {
  if (RuntimeErrorCode code = v.re.allocate(size); code != kNoError) return code;
  return v.im.allocate(size);
}

RuntimeErrorCode allocate_matrix(ComplexMatrix& m, std::int64_t order) {
  if (RuntimeErrorCode code = m.re.allocate(order, order); code != kNoError) return code;
  return m.im.allocate(order, order);
}

}  // namespace

RuntimeErrorCode allocate_statistics(EstimateArrays& e, std::int64_t sample_count,
                                     std::int64_t channel_count) {
  e.sample_count = sample_count;
  e.channel_count = channel_count;
  if (RuntimeErrorCode code = allocate_vector(e.means, channel_count); code != kNoError) {
    return code;
  }
  return allocate_matrix(e.covariance, channel_count);
}

bool compute_statistics(const SampleBlocks& x, EstimateArrays& e) {
  return compute_means_and_covariance(x, e.means, e.covariance, detail::best_simd_level());
}

RuntimeErrorCode allocate_snr(EstimateArrays& e) {
  return e.snr.allocate(e.channel_count);
}

void compute_snr(EstimateArrays& e) {
  compute_channel_snr(e.means, e.covariance, e.sample_count, e.snr);
}

void load_diagonal(EstimateArrays& e, float loading) {
  if (loading == 0) return;
  const std::int64_t k_count = e.channel_count;
  Extended trace = 0;
  for (std::int64_t k = 1; k <= k_count; ++k) trace = trace + Extended{e.covariance.re(k, k)};
  const Extended k = k_count;  // exact
  const Extended load = Extended{loading} * (trace / k);
  for (std::int64_t k = 1; k <= k_count; ++k) {
    e.covariance.re(k, k) = static_cast<float>(Extended{e.covariance.re(k, k)} + load);
  }
}

RuntimeErrorCode allocate_inverse_and_weights(EstimateArrays& e) {
  if (RuntimeErrorCode code = allocate_matrix(e.inverse, e.channel_count); code != kNoError) {
    return code;
  }
  if (RuntimeErrorCode code = allocate_vector(e.weights, e.channel_count); code != kNoError) {
    return code;
  }
  return allocate_vector(e.normalised, e.channel_count);
}

bool invert_covariance(EstimateArrays& e, const std::stop_token& stop) {
  if (!invert_complex_matrix(e.covariance.re, e.covariance.im, e.inverse.re, e.inverse.im,
                             e.channel_count, stop)) {
    return false;
  }
  // The inverse of a Hermitian matrix has a real diagonal; what is left there
  // is rounding residue.
  for (std::int64_t k = 1; k <= e.channel_count; ++k) e.inverse.im(k, k) = 0;
  return true;
}

void compute_weights(EstimateArrays& e) {
  compute_optimum_weights(e.means, e.inverse, e.weights);
  e.reference = select_reference_channel(e.snr);
  normalise_weights(e.weights, e.reference, e.normalised);
}

}  // namespace tarvel
