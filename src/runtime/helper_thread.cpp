#include "runtime/helper_thread.h"

#include <signal.h>

#include <exception>

#include "runtime/fp_environment.h"

namespace tarvel {

bool HelperThread::start(std::function<void()> work) {
  if (thread_.joinable()) return false;
  // A new thread inherits the signal mask of its creator: block everything
  // around the creation, so the helper starts with every signal held off.
  sigset_t all;
  sigset_t saved;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &saved);
  bool started = true;
  try {
    thread_ = std::thread([work = std::move(work)] {
      set_floating_point_environment();
      work();
    });
  } catch (const std::exception&) {
    started = false;
  }
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
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
