// Blocks of bytes made on several threads and used in order on one: the
// calling thread and the helper threads take the next block to make as they
// come free, each into a buffer of a small ring, while the calling thread
// hands every block to the consumer in order whenever the next one is ready.
// The calling thread also consumes, so sharing the making as it goes keeps
// every thread busy; the bytes are the same as making every block on one
// thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace tarvel {

// Makes block `block` (0-based) into `out`, at most the capacity given to
// produce_in_order, and returns its size. Called from any of the threads, so
// it may only read shared data.
using BlockMaker = std::function<std::size_t(std::int64_t block, char* out)>;

// What a BlockMaker returns to end the work early: neither this block nor
// any later one is consumed, and the threads stop making them.
inline constexpr std::size_t kNoMoreBlocks = ~std::size_t{0};

// Takes the bytes of the next block, always on the calling thread.
using BlockConsumer = std::function<void(const char* bytes, std::size_t size)>;

// Makes blocks 0 to `block_count` - 1 on `workers` threads, the calling one
// included (worker_count()'s when not given), and consumes them in order;
// makes them all on the calling thread when there is one worker, or no
// helper thread or memory for a second buffer is to be had. The ring holds a
// few buffers more than the workers. False, having done nothing, when not
// even one buffer can be had.
bool produce_in_order(std::int64_t block_count, std::size_t block_capacity, const BlockMaker& make,
                      const BlockConsumer& consume);
bool produce_in_order(std::int64_t block_count, std::size_t block_capacity, const BlockMaker& make,
                      const BlockConsumer& consume, int workers);

}  // namespace tarvel
