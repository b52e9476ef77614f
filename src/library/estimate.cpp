#include <algorithm>
#include <functional>
#include <new>
#include <vector>

#include "library/estimate_values.h"
#include "library/exact_accumulation.h"
#include "library/failure.h"
#include "library/sample_view_blocks.h"
#include "library/stoppable_blocks.h"
#include "runtime/fp_environment.h"

namespace tarvel {
namespace library {
namespace {

// How the sequence of steps takes its sums over the samples: the arithmetic
// is this policy, the steps around it are the same.
class SumsPolicy {
 public:
  virtual ~SumsPolicy() = default;
  // The means and the covariance into `arrays` (allocated).
  virtual void statistics(EstimateArrays& arrays) = 0;
  // The combined signal's statistics for the normalised weights in
  // `arrays`; when y is not empty, the combined samples are stored there.
  virtual CombinedStatistics combined(const EstimateArrays& arrays,
                                      std::span<std::complex<float>> y) = 0;
};

void require(RuntimeErrorCode code) {
  if (code != kNoError) fail(failure_of(code), "no room for the estimate's vectors and matrices");
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
  return make_and_use_blocks(
      (samples + block - 1) / block, block, sample_bytes, x.workers(), x.stop(),
      [&](std::int64_t b, char* out) {
        const std::int64_t first = b * block;
        const std::int64_t n = std::min(block, samples - first);
        auto* yr = reinterpret_cast<float*>(out);
        combine_block(x.fill_block(first, n, reinterpret_cast<char*>(yr + 2 * n)), k_count, v, yr,
                      yr + n);
        if (y != nullptr) {
          for (std::int64_t i = 0; i < n; ++i) y[first + i] = {yr[i], yr[n + i]};
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
bool for_each_stored_block(std::span<const std::complex<float>> y, int workers,
                           const std::stop_token& stop, const CombinedBlockUse& use) {
  constexpr std::int64_t kBlock = 8192;
  const auto samples = static_cast<std::int64_t>(y.size());
  return make_and_use_blocks((samples + kBlock - 1) / kBlock, kBlock, 2 * sizeof(float), workers,
                             stop,
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
                  : for_each_stored_block(y, x.workers(), x.stop(), add_to_noise_power))) {
    fail_stopped();
  }
  return sums.result();
}

// The command's running sums: the statistics in two passes over x, the
// combined signal's in two more (or one more over y when it is stored).
class CommandSums final : public SumsPolicy {
 public:
  explicit CommandSums(const SampleViewBlocks& x) : x_(x) {}

  void statistics(EstimateArrays& arrays) override {
    if (!compute_statistics(x_, arrays)) fail_stopped();
  }
  CombinedStatistics combined(const EstimateArrays& arrays,
                              std::span<std::complex<float>> y) override {
    return combined_statistics(x_, arrays.normalised, y);
  }

 private:
  const SampleViewBlocks& x_;
};

// Exact sums: of x's samples in one pass, or those an accumulator holds;
// the combined signal's statistics come from them, and x is read again only
// to store the combined samples.
class ExactSums final : public SumsPolicy {
 public:
  // Sums x's samples first.
  explicit ExactSums(const SampleViewBlocks& x) : x_(&x), own_(x.channels()), sums_(own_) {
    add_exactly(x, own_);
  }
  explicit ExactSums(const ExactStatistics& sums) : own_(0), sums_(sums) {}

  void statistics(EstimateArrays& arrays) override {
    sums_.means_and_covariance(arrays.means, arrays.covariance);
    // Kept for the combined statistics: the inversion uses the covariance up.
    require(allocate_copy(arrays.means, means_));
    require(allocate_copy(arrays.covariance, covariance_));
  }
  CombinedStatistics combined(const EstimateArrays& arrays,
                              std::span<std::complex<float>> y) override {
    if (!y.empty() && !store_combined(*x_, arrays.normalised, y.data())) fail_stopped();
    return sums_.combined(means_, covariance_, arrays.normalised);
  }

 private:
  static RuntimeErrorCode allocate_copy(const ComplexVector& from, ComplexVector& to) {
    const std::int64_t k = from.re.size();
    if (RuntimeErrorCode code = to.re.allocate(k); code != kNoError) return code;
    if (RuntimeErrorCode code = to.im.allocate(k); code != kNoError) return code;
    std::copy_n(from.re.data(), k, to.re.data());
    std::copy_n(from.im.data(), k, to.im.data());
    return kNoError;
  }
  static RuntimeErrorCode allocate_copy(const ComplexMatrix& from, ComplexMatrix& to) {
    const std::int64_t k = from.re.rows();
    if (RuntimeErrorCode code = to.re.allocate(k, k); code != kNoError) return code;
    if (RuntimeErrorCode code = to.im.allocate(k, k); code != kNoError) return code;
    std::copy_n(from.re.row(1), k * k, to.re.row(1));
    std::copy_n(from.im.row(1), k * k, to.im.row(1));
    return kNoError;
  }

  const SampleViewBlocks* x_ = nullptr;
  ExactStatistics own_;
  const ExactStatistics& sums_;
  ComplexVector means_;
  ComplexMatrix covariance_;
};

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

Estimate estimate_with(SumsPolicy& sums, std::int64_t samples, std::int64_t channels,
                       std::span<std::complex<float>> y, float loading,
                       const std::stop_token& stop) {
  EstimateArrays arrays;
  Estimate out{};
  require(allocate_statistics(arrays, samples, channels));
  sums.statistics(arrays);
  require(allocate_snr(arrays));
  compute_snr(arrays);
  out.signals = complex_values(arrays.means);
  out.snr_db.assign(arrays.snr.data(), arrays.snr.data() + arrays.snr.size());
  // Before the inversion, which uses the covariance up.
  out.covariance = complex_values(arrays.covariance);
  load_diagonal(arrays, loading);
  require(allocate_inverse_and_weights(arrays));
  if (!invert_covariance(arrays, stop)) fail_stopped();
  compute_weights(arrays);
  out.inverse = complex_values(arrays.inverse);
  out.weights = complex_values(arrays.weights);
  out.normalized_weights = complex_values(arrays.normalised);
  out.reference = arrays.reference - 1;
  set_combined(sums.combined(arrays, y), out);
  return out;
}

Estimate estimate_exactly(const ExactStatistics& sums, float loading, const std::stop_token& stop) {
  if (sums.samples() < 1) fail(Failure::illegal_function_call, "the accumulator holds no samples");
  FloatingPointScope environment;
  ExactSums policy(sums);
  return estimate_with(policy, sums.samples(), sums.channels(), {}, loading, stop);
}

bool store_combined(const SampleViewBlocks& x, const ComplexVector& v, std::complex<float>* y) {
  return for_each_combined_block(x, v, y,
                                 [](std::int64_t, const float*, const float*, std::int64_t) {});
}

}  // namespace library

SampleView view(const TextSamples& samples) noexcept {
  return {samples.values.data(), samples.sample_count, samples.channel_count, samples.channel_count,
          1};
}

namespace library {

Estimate estimate_over(const SampleViewBlocks& blocks, const Options& options,
                       std::span<std::complex<float>> y, const std::stop_token& stop) {
  if (y.data() != nullptr && static_cast<std::int64_t>(y.size()) != blocks.samples()) {
    fail(Failure::illegal_function_call,
         "the combined signal's room holds " + std::to_string(y.size()) +
             " values, not one per sample (" + std::to_string(blocks.samples()) + ")");
  }
  FloatingPointScope environment;
  if (options.arithmetic == Arithmetic::command) {
    CommandSums sums(blocks);
    return estimate_with(sums, blocks.samples(), blocks.channels(), y, options.loading, stop);
  }
  ExactSums sums(blocks);
  return estimate_with(sums, blocks.samples(), blocks.channels(), y, options.loading, stop);
}

std::span<std::complex<float>> room_for(std::span<std::complex<float>> y) {
  static std::complex<float> none;
  return y.data() != nullptr ? y : std::span<std::complex<float>>(&none, 0);
}

}  // namespace library

Estimate estimate(const Samples& x, const Options& options, std::stop_token stop) {
  return library::with_errors([&] {
    library::check_options(options);
    library::check_samples(x, options.arithmetic);
    const library::SampleViewBlocks blocks(x, library::workers_of(options), stop);
    return library::estimate_over(blocks, options, {}, stop);
  });
}

Estimate combine(const Samples& x, std::span<std::complex<float>> y, const Options& options,
                 std::stop_token stop) {
  return library::with_errors([&] {
    library::check_options(options);
    library::check_samples(x, options.arithmetic);
    library::check_apart(x, y);
    const library::SampleViewBlocks blocks(x, library::workers_of(options), stop);
    return library::estimate_over(blocks, options, library::room_for(y), stop);
  });
}

Estimate estimate(const SampleView& x, std::stop_token stop) {
  return estimate(Samples(x), Options{}, std::move(stop));
}

Estimate estimate(const SampleView& x, const Options& options, std::stop_token stop) {
  return estimate(Samples(x), options, std::move(stop));
}

Estimate combine(const SampleView& x, std::span<std::complex<float>> y, std::stop_token stop) {
  return combine(Samples(x), y, Options{}, std::move(stop));
}

Estimate combine(const SampleView& x, std::span<std::complex<float>> y, const Options& options,
                 std::stop_token stop) {
  return combine(Samples(x), y, options, std::move(stop));
}

Estimate estimate(std::int64_t samples, std::int64_t channels, const SampleReader& read,
                  std::stop_token stop) {
  return estimate(Samples(samples, channels, read), Options{}, std::move(stop));
}

Estimate estimate(std::int64_t samples, std::int64_t channels, const SampleReader& read,
                  const Options& options, std::stop_token stop) {
  return estimate(Samples(samples, channels, read), options, std::move(stop));
}

Estimate combine(std::int64_t samples, std::int64_t channels, const SampleReader& read,
                 std::span<std::complex<float>> y, std::stop_token stop) {
  return combine(Samples(samples, channels, read), y, Options{}, std::move(stop));
}

Estimate combine(std::int64_t samples, std::int64_t channels, const SampleReader& read,
                 std::span<std::complex<float>> y, const Options& options, std::stop_token stop) {
  return combine(Samples(samples, channels, read), y, options, std::move(stop));
}

}  // namespace tarvel
