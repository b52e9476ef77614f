#include "runtime/helper_thread.h"

#include <algorithm>
#include <atomic>
#include <exception>

#include "platform/processors.h"
#include "platform/system_signals.h"
#include "runtime/fp_environment.h"

namespace tarvel {

bool HelperThread::start(std::function<void()> work) {
  if (thread_.joinable()) return false;
  // The helper inherits the hold for good, so it takes no asynchronous signal.
  platform::AllSignalsHold hold;
  bool started = true;
  try {
    thread_ = std::thread([work = std::move(work)] {
      set_floating_point_environment();
      work();
    });
  } catch (const std::exception&) {
    started = false;
  }
  return started;
}

void HelperThread::join() {
  if (thread_.joinable()) thread_.join();
}

namespace {

// The count force_worker_count set, 0 for none.
std::atomic<int> g_forced_workers{0};

}  // namespace

int worker_count() {
  const int forced = g_forced_workers.load(std::memory_order_relaxed);
  return std::clamp(forced > 0 ? forced : platform::available_processors(), 1, kMaxWorkers);
}

void force_worker_count(int workers) {
  g_forced_workers.store(workers < 0 ? 0 : workers, std::memory_order_relaxed);
}

void run_in_parts(int parts, const std::function<void(int part)>& part) {
  HelperThread helpers[kMaxWorkers];
  bool started[kMaxWorkers] = {};
  for (int p = 1; p < parts && p < kMaxWorkers; ++p) {
    started[p] = helpers[p].start([&part, p] { part(p); });
  }
  part(0);
  for (int p = 1; p < parts; ++p) {
    if (p >= kMaxWorkers || !started[p]) part(p);
  }
  for (HelperThread& helper : helpers) helper.join();
}

}  // namespace tarvel
