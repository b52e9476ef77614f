#include "library/exact_accumulation.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <limits>
#include <mutex>
#include <vector>

#include "library/failure.h"
#include "runtime/helper_thread.h"

namespace tarvel::library {
namespace {

// Samples per block a worker takes at a time: about 2^23 channel pairs, a
// few milliseconds of work, so that a stop is seen soon and the workers
// share the end evenly; at least 64, so that the block's own sums pay off.
std::int64_t exact_block_samples(std::int64_t channels) {
  const std::int64_t pairs = channels * (channels + 1) / 2;
  return std::clamp<std::int64_t>((std::int64_t{1} << 23) / pairs, 64, 4096);
}

}  // namespace

void add_exactly(const SampleViewBlocks& x, ExactStatistics& into, int sign) {
  const std::int64_t samples = x.samples();
  if (samples == 0) return;
  if (sign > 0 && samples > std::numeric_limits<std::int64_t>::max() - into.samples()) {
    fail(Failure::illegal_function_call,
         "the accumulator would hold more than 9223372036854775807 samples");
  }
  const std::int64_t block = std::min(samples, exact_block_samples(x.channels()));
  const std::int64_t blocks = (samples - 1) / block + 1;
  const int parts = static_cast<int>(std::min<std::int64_t>(x.workers(), blocks));
  // Every worker's sums and room, had before any thread starts.
  std::vector<ExactStatistics> sums(static_cast<std::size_t>(parts), ExactStatistics(x.channels()));
  std::vector<std::vector<char>> rooms(
      static_cast<std::size_t>(parts),
      std::vector<char>(static_cast<std::size_t>(block) * x.room_per_sample()));
  const detail::SimdLevel level = detail::best_simd_level();
  std::atomic<std::int64_t> next{0};
  std::atomic<bool> stopped{false};
  // A caller's reader may throw on any worker: the first exception ends
  // every worker's loop and is thrown again here, on the calling thread.
  std::mutex failure_lock;
  std::exception_ptr failure;
  run_in_parts(parts, [&](int part) {
    ExactStatistics& own = sums[static_cast<std::size_t>(part)];
    char* room = rooms[static_cast<std::size_t>(part)].data();
    try {
      while (!stopped.load(std::memory_order_relaxed)) {
        if (x.stop().stop_requested()) {
          stopped.store(true, std::memory_order_relaxed);
          return;
        }
        const std::int64_t b = next.fetch_add(1, std::memory_order_relaxed);
        if (b >= blocks) return;
        const std::int64_t first = b * block;
        own.add(x.fill_block(first, std::min(block, samples - first), room), level, sign);
      }
    } catch (...) {
      const std::lock_guard guard(failure_lock);
      if (!failure) failure = std::current_exception();
      stopped.store(true, std::memory_order_relaxed);
    }
  });
  if (failure) std::rethrow_exception(failure);
  if (stopped.load(std::memory_order_relaxed)) fail_stopped();
  for (const ExactStatistics& own : sums) into.merge(own);
}

}  // namespace tarvel::library
