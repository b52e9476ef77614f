// A helper thread for work the run shares out. It takes no asynchronous
// signal, so a SIGINT or SIGTERM is always handled on the main thread, whose
// end sequence the handler is written for; and it computes in the same
// floating-point environment as the main thread.
#pragma once

#include <functional>
#include <thread>

namespace tarvel {

class HelperThread {
 public:
  HelperThread() = default;
  ~HelperThread() { join(); }
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;

  // Starts `work` on a new thread. False, with nothing started, when the
  // system has no thread to give: the caller then does the work itself.
  bool start(std::function<void()> work);

  // Waits for the work to end; does nothing when none was started.
  void join();

 private:
  std::thread thread_;
};

// The most threads any shared work uses.
inline constexpr int kMaxWorkers = 64;

// The threads that shared work may use, the calling one included: the
// processors this process may run on, at most kMaxWorkers, at least 1.
// Asks the system on every call, unless a count is forced.
int worker_count();

// For tests and benchmarks only, the one way to choose the workers other
// than the machine's: every later worker_count() gives `workers` (clamped to
// 1..kMaxWorkers); 0 gives the machine's count back. Process-wide.
void force_worker_count(int workers);

// Runs part(0) .. part(parts - 1) at the same time: part(0) on the calling
// thread, each other one on a helper thread of its own, or on the calling
// thread after part(0) when no helper can be had; returns when all are done.
// The parts must not write the same data.
void run_in_parts(int parts, const std::function<void(int part)>& part);

}  // namespace tarvel
