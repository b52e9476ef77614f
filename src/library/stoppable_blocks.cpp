#include "library/stoppable_blocks.h"

#include <atomic>
#include <new>

#include "runtime/ordered_blocks.h"

namespace tarvel::library {

bool make_and_use_blocks(std::int64_t block_count, std::int64_t samples_per_block,
                         std::size_t sample_bytes, int workers, const std::stop_token& stop,
                         const SampleBlockMaker& make, const SampleBlockUser& use) {
  std::atomic<bool> stopped{false};
  std::int64_t next = 0;
  const bool done = produce_in_order(
      block_count, static_cast<std::size_t>(samples_per_block) * sample_bytes,
      [&](std::int64_t block, char* out) -> std::size_t {
        if (stop.stop_requested()) {
          stopped.store(true, std::memory_order_relaxed);
          return kNoMoreBlocks;
        }
        return static_cast<std::size_t>(make(block, out)) * sample_bytes;
      },
      [&](const char* bytes, std::size_t size) {
        const auto samples = static_cast<std::int64_t>(size / sample_bytes);
        use(next, bytes, samples);
        next += samples;
      },
      workers);
  if (!done) throw std::bad_alloc();
  return !stopped.load(std::memory_order_relaxed);
}

}  // namespace tarvel::library
