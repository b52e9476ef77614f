#include "runtime/helper_thread.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

namespace tarvel {
namespace {

// Part 0 on the calling thread, every other part on a thread of its own, all
// at the same time: part 0 waits (ten seconds at most) for the others to
// have started.
TEST(RunInParts, RunsEachPartOnceAndAllAtOnce) {
  for (const int parts : {1, 2, 3, 7, 16}) {
    SCOPED_TRACE(parts);
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> runs[16] = {};
    std::atomic<int> others_started{0};
    std::atomic<int> others_on_caller{0};
    bool saw_others_running = false;
    run_in_parts(parts, [&](int part) {
      runs[part]++;
      if (part != 0) {
        if (std::this_thread::get_id() == caller) others_on_caller++;
        others_started++;
        return;
      }
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (others_started < parts - 1 && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
      saw_others_running = others_started == parts - 1;
    });
    for (int part = 0; part < 16; ++part) EXPECT_EQ(runs[part].load(), part < parts ? 1 : 0);
    EXPECT_TRUE(saw_others_running);
    EXPECT_EQ(others_on_caller.load(), 0);
  }
}

TEST(WorkerCount, IsTheProcessorsThisProcessMayUseUpTo64UnlessForced) {
  const int machine = worker_count();
  EXPECT_GE(machine, 1);
  EXPECT_LE(machine, kMaxWorkers);
  for (const auto& [forced, expected] : {std::pair{7, 7}, {1, 1}, {100, kMaxWorkers}}) {
    force_worker_count(forced);
    EXPECT_EQ(worker_count(), expected) << forced;
  }
  force_worker_count(0);
  EXPECT_EQ(worker_count(), machine);
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
