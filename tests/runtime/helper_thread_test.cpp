#include "runtime/helper_thread.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace tarvel {
namespace {

// Part 0 on the calling thread, part 1 on another one, at the same time:
// part 0 waits (ten seconds at most) for part 1 to have started.
TEST(RunInTwoParts, RunsEachPartOnceAndBothAtOnce) {
  const std::thread::id caller = std::this_thread::get_id();
  std::atomic<int> runs[2] = {0, 0};
  std::atomic<bool> second_started{false};
  std::atomic<bool> second_on_caller{true};
  bool saw_second_running = false;
  run_in_two_parts([&](int part) {
    runs[part]++;
    if (part == 1) {
      second_on_caller = std::this_thread::get_id() == caller;
      second_started = true;
      return;
    }
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!second_started && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    saw_second_running = second_started;
  });
  EXPECT_EQ(runs[0].load(), 1);
  EXPECT_EQ(runs[1].load(), 1);
  EXPECT_TRUE(saw_second_running);
  EXPECT_FALSE(second_on_caller.load());
}

#ifndef _WIN32
// The helper takes no asynchronous signal: they stay with the main thread.
// (Windows has no signal masks: Ctrl-C comes on a thread of its own.)
TEST(HelperThread, StartsWithEverySignalBlocked) {
  std::atomic<int> blocked{-1};
  HelperThread helper;
  ASSERT_TRUE(helper.start([&] {
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    blocked = sigismember(&mask, SIGINT) == 1 && sigismember(&mask, SIGTERM) == 1 ? 1 : 0;
  }));
  helper.join();
  EXPECT_EQ(blocked.load(), 1);
}
#endif

}  // namespace
}  // namespace tarvel
