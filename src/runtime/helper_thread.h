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

}  // namespace tarvel
