// A second thread for work the run shares out. It takes no asynchronous
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

// Runs part(0) on the calling thread and part(1) on a helper thread at the
// same time, or both in turn on the calling thread when no helper can be
// had; returns when both are done. The parts must not write the same data.
void run_in_two_parts(const std::function<void(int part)>& part);

}  // namespace tarvel
