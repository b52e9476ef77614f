#include <atomic>
#include <vector>

#include "library/estimate_values.h"
#include "library/failure.h"
#include "library/sample_view_blocks.h"
#include "runtime/fp_environment.h"
#include "runtime/helper_thread.h"

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

// The combined samples of a block into y, interleaved.
void store(std::span<std::complex<float>> y, std::int64_t first, const float* yr, const float* yi,
           std::int64_t count) {
  std::complex<float>* out = y.data() + first;
  for (std::int64_t n = 0; n < count; ++n) out[n] = {yr[n], yi[n]};
}

// Combines all of x into y, in two halves on two threads when that pays.
void combine_into(const SampleBlocks& x, const ComplexVector& v, std::span<std::complex<float>> y) {
  const std::int64_t samples = x.samples();
  const auto combine_part = [&](std::int64_t first, std::int64_t count) {
    return combine_in_blocks(
        x, v, first, count, [&](std::int64_t at, const float* yr, const float* yi, std::int64_t n) {
          store(y, at, yr, yi, n);
        });
  };
  if (!combining_is_shared(samples, x.channels())) {
    if (!combine_part(0, samples)) fail_stopped();
    return;
  }
  // Each part reports how it ended: an exception must not leave a thread.
  enum Outcome { kDone, kStopped, kNoMemory };
  std::atomic<int> outcomes[2] = {kDone, kDone};
  const std::int64_t half = samples / 2;
  run_in_two_parts([&](int part) {
    try {
      const bool done = part == 0 ? combine_part(0, half) : combine_part(half, samples - half);
      outcomes[part] = done ? kDone : kStopped;
    } catch (const std::bad_alloc&) {
      outcomes[part] = kNoMemory;
    }
  });
  if (outcomes[0] == kNoMemory || outcomes[1] == kNoMemory) throw std::bad_alloc();
  if (outcomes[0] == kStopped || outcomes[1] == kStopped) fail_stopped();
}

// The mean and SNR of the combined samples in y.
CombinedStatistics combined_statistics(std::span<const std::complex<float>> y,
                                       const std::stop_token& stop) {
  constexpr std::int64_t kChunk = 4096;
  float yr[kChunk];
  float yi[kChunk];
  const std::int64_t samples = static_cast<std::int64_t>(y.size());
  CombinedStatisticsSums sums(samples);
  for (int pass = 0; pass < 2; ++pass) {
    for (std::int64_t first = 0; first < samples; first += kChunk) {
      if (stop.stop_requested()) fail_stopped();
      const std::int64_t count = std::min(kChunk, samples - first);
      for (std::int64_t n = 0; n < count; ++n) {
        yr[n] = y[static_cast<std::size_t>(first + n)].real();
        yi[n] = y[static_cast<std::size_t>(first + n)].imag();
      }
      if (pass == 0) {
        sums.add_to_mean(yr, yi, count);
      } else {
        sums.add_to_noise_power(yr, yi, count);
      }
    }
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

void fail_stopped() {
  fail(9, "the call was stopped before it ended");
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

Estimate estimate(const SampleView& x, std::stop_token stop) {
  return library::with_errors([&] {
    library::check_view(x);
    FloatingPointScope environment;
    const library::SampleViewBlocks blocks(x, stop);
    EstimateArrays arrays;
    Estimate out{};
    library::estimate_weights(blocks, stop, arrays, out);
    // The combined signal is made twice, block by block, rather than kept:
    // once for its mean, once for its noise power around that mean.
    CombinedStatisticsSums sums(x.samples);
    const auto pass = [&](bool mean) {
      return combine_in_blocks(
          blocks, arrays.normalised, 0, x.samples,
          [&](std::int64_t, const float* yr, const float* yi, std::int64_t count) {
            if (mean) {
              sums.add_to_mean(yr, yi, count);
            } else {
              sums.add_to_noise_power(yr, yi, count);
            }
          });
    };
    if (!pass(true) || !pass(false)) library::fail_stopped();
    library::set_combined(sums.result(), out);
    return out;
  });
}

Estimate combine(const SampleView& x, std::span<std::complex<float>> y, std::stop_token stop) {
  return library::with_errors([&] {
    library::check_view(x);
    if (static_cast<std::int64_t>(y.size()) != x.samples) {
      library::fail(1, "the combined signal's room holds " + std::to_string(y.size()) +
                           " values, not one per sample (" + std::to_string(x.samples) + ")");
    }
    FloatingPointScope environment;
    const library::SampleViewBlocks blocks(x, stop);
    EstimateArrays arrays;
    Estimate out{};
    library::estimate_weights(blocks, stop, arrays, out);
    library::combine_into(blocks, arrays.normalised, y);
    library::set_combined(library::combined_statistics(y, stop), out);
    return out;
  });
}

}  // namespace tarvel
