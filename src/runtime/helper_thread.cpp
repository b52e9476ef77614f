#include "runtime/helper_thread.h"

#include <exception>

#include "platform/signals.h"
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

void run_in_two_parts(const std::function<void(int part)>& part) {
  HelperThread helper;
  const bool shared = helper.start([&part] { part(1); });
  part(0);
  if (!shared) part(1);
  helper.join();
}

}  // namespace tarvel
