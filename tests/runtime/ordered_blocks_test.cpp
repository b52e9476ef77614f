#include "runtime/ordered_blocks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tarvel {
namespace {

// Block b: its number, then a run of letters whose length varies with b, up
// to the whole capacity, so that blocks differ in size and content.
std::string block_text(std::int64_t block, std::size_t capacity) {
  std::string text = std::to_string(block) + ":";
  const std::size_t length = static_cast<std::size_t>(block * 7919) % capacity;
  while (text.size() < length) text += static_cast<char>('a' + block % 26);
  text.resize(std::min(text.size(), capacity));
  return text;
}

TEST(ProduceInOrder, ConsumesEveryBlockOnceInOrderOnTheCallingThread) {
  constexpr std::size_t kCapacity = 5000;
  for (const int workers : {1, 2, 3, 7, 16})
    for (const std::int64_t block_count : {0, 1, 2, 3, 4, 5, 1000}) {
      SCOPED_TRACE(std::to_string(workers) + " workers");
      std::vector<std::atomic<int>> made(static_cast<std::size_t>(block_count));
      std::mutex lock;
      std::set<std::thread::id> makers;
      std::string consumed;
      std::string expected;
      bool consumed_elsewhere = false;
      const std::thread::id caller = std::this_thread::get_id();
      for (std::int64_t b = 0; b < block_count; ++b) expected += block_text(b, kCapacity);

      const bool done = produce_in_order(
          block_count, kCapacity,
          [&](std::int64_t block, char* out) {
            made[static_cast<std::size_t>(block)]++;
            {
              std::lock_guard<std::mutex> guard(lock);
              makers.insert(std::this_thread::get_id());
            }
            const std::string text = block_text(block, kCapacity);
            std::memcpy(out, text.data(), text.size());
            return text.size();
          },
          [&](const char* bytes, std::size_t size) {
            if (std::this_thread::get_id() != caller) consumed_elsewhere = true;
            consumed.append(bytes, size);
          },
          workers);

      ASSERT_TRUE(done);
      EXPECT_EQ(consumed, expected) << block_count << " blocks";
      EXPECT_FALSE(consumed_elsewhere);
      for (std::int64_t b = 0; b < block_count; ++b) {
        EXPECT_EQ(made[static_cast<std::size_t>(b)].load(), 1) << "block " << b;
      }
      EXPECT_LE(makers.size(), static_cast<std::size_t>(workers));
    }
}

// A block that ends the work early: every block before it is consumed, in
// order, and none from it on, on any number of workers.
TEST(ProduceInOrder, ABlockCanEndTheWorkEarly) {
  constexpr std::size_t kCapacity = 100;
  constexpr std::int64_t kEnd = 500;
  std::string expected;
  for (std::int64_t b = 0; b < kEnd; ++b) expected += block_text(b, kCapacity);
  for (const int workers : {1, 2, 3, 7, 16}) {
    std::string consumed;
    const bool done = produce_in_order(
        1'000'000'000, kCapacity,
        [&](std::int64_t block, char* out) -> std::size_t {
          if (block >= kEnd) return kNoMoreBlocks;
          const std::string text = block_text(block, kCapacity);
          std::memcpy(out, text.data(), text.size());
          return text.size();
        },
        [&](const char* bytes, std::size_t size) { consumed.append(bytes, size); }, workers);
    ASSERT_TRUE(done);
    EXPECT_EQ(consumed, expected) << workers << " workers";
  }
}

// The calling thread, held up making a block, leaves the next ones to the
// helper and still consumes every block in order afterwards.
TEST(ProduceInOrder, TheHelperMakesBlocksWhileTheCallingThreadIsBusy) {
  constexpr std::size_t kCapacity = 64;
  constexpr std::int64_t kBlocks = 200;
  const std::thread::id caller = std::this_thread::get_id();
  std::atomic<int> made_by_helper{0};
  std::atomic<bool> caller_waited{false};
  std::string consumed;
  std::string expected;
  for (std::int64_t b = 0; b < kBlocks; ++b) expected += block_text(b, kCapacity);

  const bool done = produce_in_order(
      kBlocks, kCapacity,
      [&](std::int64_t block, char* out) {
        if (std::this_thread::get_id() == caller) {
          // The first block the calling thread makes waits for the helper
          // to make one (or for ten seconds, and the test fails).
          if (!caller_waited.exchange(true)) {
            const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (made_by_helper.load() == 0 && std::chrono::steady_clock::now() < give_up) {
              std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
          }
        } else {
          made_by_helper++;
        }
        const std::string text = block_text(block, kCapacity);
        std::memcpy(out, text.data(), text.size());
        return text.size();
      },
      [&](const char* bytes, std::size_t size) { consumed.append(bytes, size); });

  ASSERT_TRUE(done);
  EXPECT_EQ(consumed, expected);
  EXPECT_GT(made_by_helper.load(), 0);
}

}  // namespace
}  // namespace tarvel
