#include "runtime/ordered_blocks.h"

#include <atomic>
#include <memory>
#include <new>

#include "runtime/helper_thread.h"

namespace tarvel {
namespace {

constexpr std::int64_t kFree = -1;

// A buffer the helper fills and the calling thread empties; `held` is the
// number of the block in it, or kFree.
struct Slot {
  std::atomic<std::int64_t> held{kFree};
  std::unique_ptr<char[]> bytes;
  std::size_t size = 0;
};

// Waits until `slot` holds `wanted`.
void wait_for(const Slot& slot, std::int64_t wanted) {
  for (std::int64_t seen = slot.held.load(std::memory_order_acquire); seen != wanted;
       seen = slot.held.load(std::memory_order_acquire)) {
    slot.held.wait(seen, std::memory_order_acquire);
  }
}

void set(Slot& slot, std::int64_t value) {
  slot.held.store(value, std::memory_order_release);
  slot.held.notify_one();
}

}  // namespace

bool produce_in_order(std::int64_t block_count, std::size_t block_capacity, const BlockMaker& make,
                      const BlockConsumer& consume) {
  std::unique_ptr<char[]> own(new (std::nothrow) char[block_capacity]);
  if (own == nullptr) return false;
  Slot slots[2];
  bool shared = block_count > 1;
  for (Slot& slot : slots) {
    if (shared) slot.bytes.reset(new (std::nothrow) char[block_capacity]);
    shared = shared && slot.bytes != nullptr;
  }

  // Odd block b goes through slot (b / 2) % 2, so the helper can work two
  // blocks ahead of the consumer.
  HelperThread helper;
  shared = shared && helper.start([&] {
    for (std::int64_t block = 1; block < block_count; block += 2) {
      Slot& slot = slots[(block / 2) % 2];
      wait_for(slot, kFree);
      slot.size = make(block, slot.bytes.get());
      set(slot, block);
    }
  });
  for (std::int64_t block = 0; block < block_count; ++block) {
    if (!shared || block % 2 == 0) {
      consume(own.get(), make(block, own.get()));
      continue;
    }
    Slot& slot = slots[(block / 2) % 2];
    wait_for(slot, block);
    consume(slot.bytes.get(), slot.size);
    set(slot, kFree);
  }
  helper.join();
  return true;
}

}  // namespace tarvel
