#include "library/stoppable_blocks.h"

#include <new>

#include "runtime/ordered_blocks.h"

namespace tarvel::library {

bool make_and_use_blocks(std::int64_t block_count, std::int64_t samples_per_block,
                         std::size_t sample_bytes, const std::stop_token& stop,
                         const SampleBlockMaker& make, const SampleBlockUser& use) {
  bool stopped = false;
  std::int64_t next = 0;
  const bool done = produce_in_order(
      block_count, static_cast<std::size_t>(samples_per_block) * sample_bytes,
      [&](std::int64_t block, char* out) -> std::size_t {
        // A block made after the stop is empty, and so is every later one.
        if (stop.stop_requested()) return 0;
        return static_cast<std::size_t>(make(block, out)) * sample_bytes;
      },
      [&](const char* bytes, std::size_t size) {
        if (stopped || size == 0) {
          stopped = true;
          return;
        }
        const auto samples = static_cast<std::int64_t>(size / sample_bytes);
        use(next, bytes, samples);
        next += samples;
      });
  if (!done) throw std::bad_alloc();
  return !stopped;
}

}  // namespace tarvel::library
