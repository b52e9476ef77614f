// A library call run on a worker thread while the calling thread, which holds
// the interpreter, waits in short slices and looks for Ctrl-C between them.
#pragma once

#include <pybind11/pybind11.h>

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <utility>

namespace tarvel::python {

// Runs call(stop_token) on a new thread with the GIL released and returns its
// result, or rethrows what it threw. Every 50 ms the calling thread takes the
// GIL just long enough to run Python's signal handlers; when one raises
// (KeyboardInterrupt on Ctrl-C) the call is asked to stop, is waited for, and
// that exception is raised, with `code` 9 (the tool's status for an
// interrupted run) on a KeyboardInterrupt. `call` and the threads it starts
// may take the GIL for a moment (a reader casting a block with numpy).
template <typename Call>
auto call_interruptibly(Call&& call) -> decltype(call(std::stop_token{})) {
  using Result = decltype(call(std::stop_token{}));
  std::stop_source stop;
  std::optional<Result> result;
  std::exception_ptr failure;
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  bool signalled = false;
  {
    pybind11::gil_scoped_release release;
    std::thread worker([&] {
      try {
        result.emplace(call(stop.get_token()));
      } catch (...) {
        failure = std::current_exception();
      }
      std::lock_guard guard(lock);
      done = true;
      finished.notify_one();
    });
    std::unique_lock waiting(lock);
    while (!finished.wait_for(waiting, std::chrono::milliseconds(50), [&] { return done; })) {
      waiting.unlock();
      {
        pybind11::gil_scoped_acquire gil;
        // The exception a handler raises stays set on this thread for below.
        signalled = PyErr_CheckSignals() != 0;
      }
      waiting.lock();
      if (signalled) {
        stop.request_stop();
        finished.wait(waiting, [&] { return done; });
        break;
      }
    }
    waiting.unlock();
    worker.join();
  }
  if (signalled) {
    pybind11::error_already_set raised;
    if (raised.matches(PyExc_KeyboardInterrupt)) raised.value().attr("code") = 9;
    throw raised;
  }
  if (failure) std::rethrow_exception(failure);
  return std::move(*result);
}

}  // namespace tarvel::python
