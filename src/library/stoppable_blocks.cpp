#include "library/stoppable_blocks.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <new>

#include "runtime/ordered_blocks.h"

namespace tarvel::library {

bool make_and_use_blocks(std::int64_t block_count, std::int64_t samples_per_block,
                         std::size_t sample_bytes, int workers, const std::stop_token& stop,
                         const SampleBlockMaker& make, const SampleBlockUser& use) {
  std::atomic<bool> stopped{false};
  // A caller's reader may throw on any worker, and so may a use: the first
  // exception ends the making, the blocks already made are passed over, and
  // it is thrown again on the calling thread once every worker is done.
  std::mutex failure_lock;
  std::exception_ptr failure;
  std::atomic<bool> failed{false};
  const auto keep = [&](std::exception_ptr error) {
    const std::lock_guard guard(failure_lock);
    if (!failure) failure = std::move(error);
    failed.store(true, std::memory_order_relaxed);
  };
  std::int64_t next = 0;
  const bool done = produce_in_order(
      block_count, static_cast<std::size_t>(samples_per_block) * sample_bytes,
      [&](std::int64_t block, char* out) -> std::size_t {
        if (failed.load(std::memory_order_relaxed)) return kNoMoreBlocks;
        if (stop.stop_requested()) {
          stopped.store(true, std::memory_order_relaxed);
          return kNoMoreBlocks;
        }
        try {
          return static_cast<std::size_t>(make(block, out)) * sample_bytes;
        } catch (...) {
          keep(std::current_exception());
          return kNoMoreBlocks;
        }
      },
      [&](const char* bytes, std::size_t size) {
        if (failed.load(std::memory_order_relaxed)) return;
        const auto samples = static_cast<std::int64_t>(size / sample_bytes);
        try {
          use(next, bytes, samples);
        } catch (...) {
          keep(std::current_exception());
        }
        next += samples;
      },
      workers);
  if (failure) std::rethrow_exception(failure);
  if (!done) throw std::bad_alloc();
  return !stopped.load(std::memory_order_relaxed);
}

}  // namespace tarvel::library
