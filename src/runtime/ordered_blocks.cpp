#include "runtime/ordered_blocks.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>

#include "platform/waiting.h"
#include "runtime/helper_thread.h"

namespace tarvel {
namespace {

// Enough buffers for each helper to run a few blocks ahead of the consumer.
constexpr std::int64_t kSpareBuffers = 4;

constexpr std::int64_t kNoBlock = -1;

// A buffer of the ring; `ready` is the number of the block made in it, whose
// bytes are in place once the number is.
struct Slot {
  std::atomic<std::int64_t> ready{kNoBlock};
  std::unique_ptr<char[]> bytes;
  std::size_t size = 0;
};

// Waits until `value` is at least `wanted`.
void wait_until_at_least(const std::atomic<std::int64_t>& value, std::int64_t wanted) {
  for (std::int64_t seen = value.load(std::memory_order_acquire); seen < wanted;
       seen = value.load(std::memory_order_acquire)) {
    platform::wait_while_equal(value, seen);
  }
}

void publish(std::atomic<std::int64_t>& value, std::int64_t number) {
  value.store(number, std::memory_order_release);
  platform::wake_all(value);
}

}  // namespace

bool produce_in_order(std::int64_t block_count, std::size_t block_capacity, const BlockMaker& make,
                      const BlockConsumer& consume) {
  return produce_in_order(block_count, block_capacity, make, consume, worker_count());
}

bool produce_in_order(std::int64_t block_count, std::size_t block_capacity, const BlockMaker& make,
                      const BlockConsumer& consume, int workers) {
  workers = std::clamp(workers, 1, kMaxWorkers);
  const std::int64_t ring_size = workers == 1 ? 1 : workers + kSpareBuffers;
  std::unique_ptr<Slot[]> slots(new (std::nothrow) Slot[static_cast<std::size_t>(ring_size)]);
  if (slots == nullptr) return false;
  std::int64_t ring = 0;
  while (ring < ring_size && ring < block_count) {
    slots[ring].bytes.reset(new (std::nothrow) char[block_capacity]);
    if (slots[ring].bytes == nullptr) break;
    ++ring;
  }
  if (ring == 0 && block_count > 0) return false;

  // Block b is made in slot b % ring, which is free once block b - ring has
  // been consumed.
  std::atomic<std::int64_t> next_to_make{0};
  std::atomic<std::int64_t> consumed{0};
  // Set once a block has ended the work: no block is claimed after it.
  std::atomic<bool> ended{false};
  auto make_into_slot = [&](std::int64_t block) {
    Slot& slot = slots[block % ring];
    slot.size = make(block, slot.bytes.get());
    if (slot.size == kNoMoreBlocks) ended.store(true, std::memory_order_relaxed);
    publish(slot.ready, block);
  };

  // Fewer helpers than blocks ahead of the consumer, so none waits long.
  HelperThread helpers[kMaxWorkers];
  const std::int64_t helper_count = std::min<std::int64_t>(workers - 1, ring - 1);
  for (std::int64_t h = 0; h < helper_count; ++h) {
    helpers[h].start([&] {
      for (std::int64_t block = next_to_make.fetch_add(1);
           block < block_count && !ended.load(std::memory_order_relaxed);
           block = next_to_make.fetch_add(1)) {
        wait_until_at_least(consumed, block - ring + 1);
        make_into_slot(block);
      }
    });
  }

  for (std::int64_t next = 0; next < block_count;) {
    Slot& slot = slots[next % ring];
    const std::int64_t ready = slot.ready.load(std::memory_order_acquire);
    if (ready == next) {
      if (slot.size == kNoMoreBlocks) break;
      consume(slot.bytes.get(), slot.size);
      publish(consumed, ++next);
      continue;
    }
    // Make the next unclaimed block if its slot is free; a helper, which
    // claims without looking, waits for its slot instead.
    std::int64_t block = next_to_make.load(std::memory_order_relaxed);
    if (block < block_count && block < next + ring && !ended.load(std::memory_order_relaxed)) {
      if (next_to_make.compare_exchange_weak(block, block + 1, std::memory_order_relaxed)) {
        make_into_slot(block);
      }
      continue;
    }
    // Block `next` is claimed, and not by this thread: a helper is making it.
    platform::wait_while_equal(slot.ready, ready);
  }
  // A helper that claimed a block past the end waits for its slot: free
  // every slot.
  publish(consumed, block_count);
  for (HelperThread& helper : helpers) helper.join();
  return true;
}

}  // namespace tarvel
