// Estimates that follow the channel: one per block of samples, and the
// weights of each applied to its own block.
#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "library/estimate_values.h"
#include "library/exact_accumulation.h"
#include "library/failure.h"
#include "library/sample_view_blocks.h"
#include "runtime/fp_environment.h"
#include "runtime/helper_thread.h"

namespace tarvel {
namespace {

void check_blocks(std::int64_t samples, std::int64_t block, std::int64_t hop) {
  if (block < 1)
    library::fail(Failure::illegal_function_call,
                  "the block must hold at least 1 sample, not " + std::to_string(block));
  if (hop < 1)
    library::fail(Failure::illegal_function_call,
                  "the hop must be at least 1 sample, not " + std::to_string(hop));
  if (block > samples) {
    library::fail(Failure::illegal_function_call, "the block of " + std::to_string(block) +
                                                      " samples is longer than the " +
                                                      std::to_string(samples) + " samples");
  }
}

void check_room(std::span<std::complex<float>> y, std::int64_t samples) {
  if (y.data() == nullptr || static_cast<std::int64_t>(y.size()) != samples) {
    library::fail(Failure::illegal_function_call,
                  "the combined signal's room holds " + std::to_string(y.size()) +
                      " values, not one per sample (" + std::to_string(samples) + ")");
  }
}

ComplexVector weight_vector(std::span<const std::complex<float>> w) {
  ComplexVector v;
  const auto k = static_cast<std::int64_t>(w.size());
  if (v.re.allocate(k) != kNoError || v.im.allocate(k) != kNoError) throw std::bad_alloc();
  for (std::int64_t i = 0; i < k; ++i) {
    v.re(i + 1) = w[static_cast<std::size_t>(i)].real();
    v.im(i + 1) = w[static_cast<std::size_t>(i)].imag();
  }
  return v;
}

// x's samples [first, first + count) combined with w into y from `first` on.
void apply_range(const Samples& x, std::int64_t first, std::int64_t count,
                 std::span<const std::complex<float>> w, std::complex<float>* y,
                 const std::stop_token& stop) {
  const library::SampleViewBlocks range(x, worker_count(), stop, first, count);
  if (!library::store_combined(range, weight_vector(w), y + first)) library::fail_stopped();
}

std::vector<Estimate> block_estimates(const Samples& x, std::int64_t block, std::int64_t hop,
                                      const Options& options, const std::stop_token& stop) {
  library::check_options(options);
  library::check_samples(x, options.arithmetic);
  check_blocks(x.samples(), block, hop);
  const int workers = library::workers_of(options);
  const std::int64_t count = (x.samples() - block) / hop + 1;
  std::vector<Estimate> out;
  out.reserve(static_cast<std::size_t>(count));
  if (options.arithmetic == Arithmetic::command) {
    for (std::int64_t i = 0; i < count; ++i) {
      const library::SampleViewBlocks window(x, workers, stop, i * hop, block);
      out.push_back(library::estimate_over(window, options, {}, stop));
    }
    return out;
  }
  // Each worker takes a run of consecutive windows, whose exact sums follow
  // them: the samples that enter are added, those that leave taken out, each
  // read once on the way in and once on the way out.
  out.resize(static_cast<std::size_t>(count));
  const int parts = static_cast<int>(std::min<std::int64_t>(workers, count));
  std::mutex failure_lock;
  std::exception_ptr failure;
  std::atomic<bool> failed{false};
  FloatingPointScope environment;
  run_in_parts(parts, [&](int part) {
    try {
      ExactStatistics window(x.channels());
      std::int64_t from = 0;
      std::int64_t to = 0;  // the window's sums hold samples [from, to)
      const auto add = [&](std::int64_t first, std::int64_t last, int sign) {
        if (first < last) {
          library::add_exactly(library::SampleViewBlocks(x, 1, stop, first, last - first), window,
                               sign);
        }
      };
      for (std::int64_t i = count * part / parts;
           i < count * (part + 1) / parts && !failed.load(std::memory_order_relaxed); ++i) {
        const std::int64_t start = i * hop;
        if (start >= to) {
          window = ExactStatistics(x.channels());
          from = to = start;
        }
        add(to, start + block, 1);
        to = start + block;
        add(from, start, -1);
        from = start;
        out[static_cast<std::size_t>(i)] = library::estimate_exactly(window, options.loading, stop);
      }
    } catch (...) {
      const std::lock_guard guard(failure_lock);
      if (!failure) failure = std::current_exception();
      failed.store(true, std::memory_order_relaxed);
    }
  });
  if (failure) std::rethrow_exception(failure);
  return out;
}

}  // namespace

std::vector<Estimate> estimate_blocks(const Samples& x, std::int64_t block, std::int64_t hop,
                                      const Options& options, std::stop_token stop) {
  return library::with_errors([&] { return block_estimates(x, block, hop, options, stop); });
}

void apply(const Samples& x, std::span<const std::complex<float>> weights,
           std::span<std::complex<float>> y, std::stop_token stop) {
  library::with_errors([&] {
    library::check_samples(x, Arithmetic::exact);
    if (static_cast<std::int64_t>(weights.size()) != x.channels()) {
      library::fail(Failure::illegal_function_call, "there are " + std::to_string(weights.size()) +
                                                        " weights for " +
                                                        std::to_string(x.channels()) + " channels");
    }
    check_room(library::room_for(y), x.samples());
    library::check_apart(x, y);
    FloatingPointScope environment;
    apply_range(x, 0, x.samples(), weights, y.data(), stop);
    return true;
  });
}

std::vector<Estimate> combine_blocks(const Samples& x, std::int64_t block,
                                     std::span<std::complex<float>> y, const Options& options,
                                     std::stop_token stop) {
  return library::with_errors([&] {
    library::check_samples(x, options.arithmetic);
    check_room(library::room_for(y), x.samples());
    library::check_apart(x, y);
    std::vector<Estimate> estimates = block_estimates(x, block, block, options, stop);
    FloatingPointScope environment;
    const auto count = static_cast<std::int64_t>(estimates.size());
    for (std::int64_t i = 0; i < count; ++i) {
      // The samples after the last whole block take its weights.
      const std::int64_t first = i * block;
      const std::int64_t last = i + 1 == count ? x.samples() : first + block;
      apply_range(x, first, last - first, estimates[static_cast<std::size_t>(i)].normalized_weights,
                  y.data(), stop);
    }
    return estimates;
  });
}

}  // namespace tarvel
