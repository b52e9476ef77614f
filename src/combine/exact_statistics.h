// The channel statistics in exact arithmetic: the exact sums of the samples
// and of their pairwise products, from which the means and the covariance
// are formed exactly and rounded once. Sums of any blocks, in any order, on
// any number of threads, merge into the same sums.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "combine/combining.h"
#include "combine/complex_arrays.h"
#include "combine/exact_sum.h"
#include "combine/sample_blocks.h"
#include "combine/simd_level.h"

namespace tarvel {

// The non-finite values a channel's real (bits 0-2) and imaginary (bits 3-5)
// parts hold: kept apart, as IEEE addition gives them whatever the order.
enum NonFinite : std::uint8_t {
  kRealNaN = 1,
  kRealPlusInfinity = 2,
  kRealMinusInfinity = 4,
  kImagNaN = 8,
  kImagPlusInfinity = 16,
  kImagMinusInfinity = 32,
};
inline constexpr std::uint8_t kAllNonFinite = 63;

class ExactStatistics {
 public:
  // Sums of K channels, all zero. Throws std::bad_alloc.
  explicit ExactStatistics(std::int64_t channels);

  std::int64_t channels() const { return channels_; }
  std::int64_t samples() const { return samples_; }

  // Adds a block of samples (any count); the caller keeps the total count
  // within 2^63 - 1. `level` must be supported by this processor. With
  // `sign` -1, takes out samples added before instead, exactly.
  void add(const SampleBlock& block, detail::SimdLevel level, int sign = 1);
  // Adds the sums of another of the same K; the same bound on the count.
  void merge(const ExactStatistics& other);

  // Fills m (K) and R (K x K), allocated: each the exact value rounded once
  // to float. Needs at least one sample. Allocates working integers.
  void means_and_covariance(ComplexVector& m, ComplexMatrix& R) const;

  // The combined signal's mean, its noise power v R conj(v) (each the exact
  // value from the exact sums, rounded once) and the power and SNR from
  // them by the command's formulas, for normalised weights v (K). m and R
  // are means_and_covariance's, for the non-finite case, where the values
  // follow IEEE arithmetic over them instead.
  CombinedStatistics combined(const ComplexVector& m, const ComplexMatrix& R,
                              const ComplexVector& v) const;

  // The state, for carrying it elsewhere. Sums are normalised (see
  // ExactSum::normalize) by normalize(). The pair (k, l), k <= l, has index
  // k·K - k(k-1)/2 + (l - k); its sums are those of x(n,k)·conj(x(n,l)).
  void normalize();
  // Which non-finite values channel k's samples hold (NonFinite bits).
  std::uint8_t non_finite(std::int64_t k) const;
  // As if channel k's samples held one of each value in `flags`.
  void set_non_finite(std::int64_t k, std::uint8_t flags);
  ExactSum& channel_sum(std::int64_t k, int part) {
    return sums_[static_cast<std::size_t>(2 * k + part)];
  }
  ExactSum& pair_sum(std::int64_t pair, int part) {
    return products_[static_cast<std::size_t>(2 * pair + part)];
  }
  const ExactSum& channel_sum(std::int64_t k, int part) const {
    return sums_[static_cast<std::size_t>(2 * k + part)];
  }
  const ExactSum& pair_sum(std::int64_t pair, int part) const {
    return products_[static_cast<std::size_t>(2 * pair + part)];
  }
  void set_samples(std::int64_t samples) { samples_ = samples; }
  std::int64_t pair_count() const { return channels_ * (channels_ + 1) / 2; }

 private:
  void add_split_block(const SampleBlock& block, std::int64_t first, std::int64_t count,
                       detail::SimdLevel level, double sign);
  void add_sample_exactly(const float* xr, const float* xi, double sign);
  void count_adds(std::int64_t adds);

  std::int64_t channels_;
  std::int64_t samples_ = 0;
  // How many of each non-finite value (bit i of NonFinite at [i]) each
  // channel's samples hold, so that taking samples out takes them out too.
  std::vector<std::array<std::int64_t, 6>> non_finite_;
  std::vector<ExactSum> sums_;      // 2K: each channel's real and imaginary sum
  std::vector<ExactSum> products_;  // 2 per pair
  // Adds since the sums were last normalised, at most.
  std::int64_t pending_adds_ = 0;
  // A block's split parts: hr, hi, lr, li of every channel, and per channel
  // whether any part is not zero and whether any lo part is not zero.
  std::vector<double> split_;
  std::vector<std::uint8_t> nonzero_, has_lo_;
};

}  // namespace tarvel
