#include <algorithm>
#include <functional>
#include <new>
#include <vector>

#include "library/estimate_values.h"
#include "library/failure.h"
#include "library/sample_view_blocks.h"
#include "library/stoppable_blocks.h"
#include "runtime/fp_environment.h"

namespace tarvel {
namespace library {
namespace {

void require(RuntimeErrorCode code) {
  if (code != kNoError) fail(code, "no room for the estimate's vectors and matrices");
}

void set_combined(const CombinedStatistics& combined, Estimate& out) {
  out.combined_signal = {combined.mean_re, combined.mean_im};
  out.combined_snr_db = combined.snr;
}

// `count` combined samples from sample `first` (0-based) on.
using CombinedBlockUse =
    std::function<void(std::int64_t first, const float* yr, const float* yi, std::int64_t count)>;

// Combines x block by block, each block copied and combined on whichever of
// the workers comes free, and hands the combined blocks to `use` in order on
// the calling thread. With `y`, each block is also stored there, interleaved,
// by the thread that made it. False when x's stop was requested before the
// end.
bool for_each_combined_block(const SampleViewBlocks& x, const ComplexVector& v,
                             std::complex<float>* y, const CombinedBlockUse& use) {
  const std::int64_t samples = x.samples();
  const std::int64_t k_count = x.channels();
  const std::int64_t block = x.block_samples();
  // A block's room: its combined parts, then its samples'.
  const std::size_t sample_bytes = 2 * sizeof(float) + x.room_per_sample();
  return make_and_use_blocks((samples + block - 1) / block, block, sample_bytes, x.stop(),
                             [&](std::int64_t b, char* out) {
                               const std::int64_t first = b * block;
                               const std::int64_t n = std::min(block, samples - first);
                               auto* yr = reinterpret_cast<float*>(out);
                               combine_block(
                                   x.fill_block(first, n, reinterpret_cast<char*>(yr + 2 * n)),
                                   k_count, v, yr, yr + n);
                               if (y != nullptr) {
                                 for (std::int64_t i = 0; i < n; ++i)
                                   y[first + i] = {yr[i], yr[n + i]};
                               }
                               return n;
                             },
                             [&](std::int64_t first, const char* bytes, std::int64_t n) {
                               const auto* yr = reinterpret_cast<const float*>(bytes);
                               use(first, yr, yr + n, n);
                             });
}

// Hands the combined samples stored in y to `use` in order, in blocks
// split into real and imaginary parts on every worker. False when `stop` was
// requested before the end.
bool for_each_stored_block(std::span<const std::complex<float>> y, const std::stop_token& stop,
                           const CombinedBlockUse& use) {
  constexpr std::int64_t kBlock = 8192;
  const auto samples = static_cast<std::int64_t>(y.size());
  return make_and_use_blocks((samples + kBlock - 1) / kBlock, kBlock, 2 * sizeof(float), stop,
                             [&](std::int64_t b, char* out) {
                               const std::int64_t first = b * kBlock;
                               const std::int64_t n = std::min(kBlock, samples - first);
                               auto* yr = reinterpret_cast<float*>(out);
                               for (std::int64_t i = 0; i < n; ++i) {
                                 yr[i] = y[static_cast<std::size_t>(first + i)].real();
                                 yr[n + i] = y[static_cast<std::size_t>(first + i)].imag();
                               }
                               return n;
                             },
                             [&](std::int64_t first, const char* bytes, std::int64_t n) {
                               const auto* yr = reinterpret_cast<const float*>(bytes);
                               use(first, yr, yr + n, n);
                             });
}

// The combined signal's mean and SNR, in two passes: the first over x sums
// the mean as the combined blocks arrive (and stores them in `y`, when
// given), the second the noise power around it, over y when it holds them,
// else over x again.
CombinedStatistics combined_statistics(const SampleViewBlocks& x, const ComplexVector& v,
                                       std::span<std::complex<float>> y) {
  CombinedStatisticsSums sums(x.samples());
  const auto add_to_mean = [&](std::int64_t, const float* yr, const float* yi, std::int64_t count) {
    sums.add_to_mean(yr, yi, count);
  };
  const auto add_to_noise_power = [&](std::int64_t, const float* yr, const float* yi,
                                      std::int64_t count) {
    sums.add_to_noise_power(yr, yi, count);
  };
  if (!for_each_combined_block(x, v, y.data(), add_to_mean) ||
      !(y.empty() ? for_each_combined_block(x, v, nullptr, add_to_noise_power)
                  : for_each_stored_block(y, x.stop(), add_to_noise_power))) {
    fail_stopped();
  }
  return sums.result();
}

}  // namespace

std::vector<std::complex<float>> complex_values(const ComplexVector& v) {
  std::vector<std::complex<float>> values(static_cast<std::size_t>(v.re.size()));
  for (std::int64_t k = 1; k <= v.re.size(); ++k) {
    values[static_cast<std::size_t>(k - 1)] = {v.re(k), v.im(k)};
  }
  return values;
}

std::vector<std::complex<float>> complex_values(const ComplexMatrix& m) {
  const std::int64_t rows = m.re.rows();
  const std::int64_t columns = m.re.columns();
  std::vector<std::complex<float>> values(static_cast<std::size_t>(rows * columns));
  for (std::int64_t i = 0; i < rows * columns; ++i) {
    values[static_cast<std::size_t>(i)] = {m.re.row(1)[i], m.im.row(1)[i]};
  }
  return values;
}

void estimate_weights(const SampleBlocks& x, const std::stop_token& stop, EstimateArrays& arrays,
                      Estimate& out) {
  require(allocate_statistics(arrays, x.samples(), x.channels()));
  if (!compute_statistics(x, arrays)) fail_stopped();
  require(allocate_snr(arrays));
  compute_snr(arrays);
  out.signals = complex_values(arrays.means);
  out.snr_db.assign(arrays.snr.data(), arrays.snr.data() + arrays.snr.size());
  // Before the inversion, which uses the covariance up.
  out.covariance = complex_values(arrays.covariance);
  require(allocate_inverse_and_weights(arrays));
  if (!invert_covariance(arrays, stop)) fail_stopped();
  compute_weights(arrays);
  out.inverse = complex_values(arrays.inverse);
  out.weights = complex_values(arrays.weights);
  out.normalized_weights = complex_values(arrays.normalised);
  out.reference = arrays.reference - 1;
}

}  // namespace library

SampleView view(const TextSamples& samples) noexcept {
  return {samples.samples.data(), samples.sample_count, samples.channel_count,
          samples.channel_count, 1};
}

namespace library {
namespace {

Estimate estimate_blocks(const SampleViewBlocks& blocks, const std::stop_token& stop) {
  FloatingPointScope environment;
  EstimateArrays arrays;
  Estimate out{};
  estimate_weights(blocks, stop, arrays, out);
  // The combined signal is made twice, block by block, rather than kept.
  set_combined(combined_statistics(blocks, arrays.normalised, {}), out);
  return out;
}

Estimate combine_blocks(const SampleViewBlocks& blocks, std::span<std::complex<float>> y,
                        const std::stop_token& stop) {
  if (static_cast<std::int64_t>(y.size()) != blocks.samples()) {
    fail(1, "the combined signal's room holds " + std::to_string(y.size()) +
                " values, not one per sample (" + std::to_string(blocks.samples()) + ")");
  }
  FloatingPointScope environment;
  EstimateArrays arrays;
  Estimate out{};
  estimate_weights(blocks, stop, arrays, out);
  set_combined(combined_statistics(blocks, arrays.normalised, y), out);
  return out;
}

}  // namespace
}  // namespace library

Estimate estimate(const SampleView& x, std::stop_token stop) {
  return library::with_errors([&] {
    library::check_view(x);
    return library::estimate_blocks(library::SampleViewBlocks(x, stop), stop);
  });
}

Estimate combine(const SampleView& x, std::span<std::complex<float>> y, std::stop_token stop) {
  return library::with_errors([&] {
    library::check_view(x);
    return library::combine_blocks(library::SampleViewBlocks(x, stop), y, stop);
  });
}

Estimate estimate(std::int64_t samples, std::int64_t channels, const SampleReader& read,
                  std::stop_token stop) {
  return library::with_errors([&] {
    library::check_counts(samples, channels);
    return library::estimate_blocks(library::SampleViewBlocks(samples, channels, read, stop), stop);
  });
}

Estimate combine(std::int64_t samples, std::int64_t channels, const SampleReader& read,
                 std::span<std::complex<float>> y, std::stop_token stop) {
  return library::with_errors([&] {
    library::check_counts(samples, channels);
    return library::combine_blocks(library::SampleViewBlocks(samples, channels, read, stop), y,
                                   stop);
  });
}

}  // namespace tarvel
