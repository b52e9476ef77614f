// The fatal signals of standard C (SIGINT, SIGILL, SIGFPE, SIGSEGV, SIGTERM
// and SIGABRT, numbered as <csignal> numbers them) and the processor
// exceptions the system reports as them, and the end of the process.
#pragma once

#include <cstdint>

namespace tarvel::platform {

// Receives the number of the fatal signal; it must end the process.
using FatalSignalHandler = void (*)(int signal_number);

// Installs `handler` for the six fatal signals, run where a stack overflow
// still leaves it room. On POSIX: an alternate signal stack, every other
// fatal signal held off while it runs, the six unblocked, and SIGPIPE ignored
// so that a write to a pipe nobody reads fails instead of ending the process.
// On Windows: Ctrl-C and Ctrl-Break arrive as SIGINT on a thread of their
// own, and unhandled access violations, stack overflows and arithmetic
// exceptions as SIGSEGV and SIGFPE. Call once, at start-up.
void install_fatal_signal_handler(FatalSignalHandler handler);

// Holds the fatal signals off for good on the calling thread: once the
// process starts to end, the end runs once.
void block_fatal_signals();

// Holds the fatal signals off for its lifetime; one that arrives meanwhile is
// delivered when it ends. Never allocates.
class FatalSignalHold {
 public:
  FatalSignalHold();
  ~FatalSignalHold();
  FatalSignalHold(const FatalSignalHold&) = delete;
  FatalSignalHold& operator=(const FatalSignalHold&) = delete;

 private:
  // The signal mask to restore, in the system's own layout.
  alignas(8) unsigned char saved_[128];
};

// Holds every asynchronous signal off on the calling thread for its
// lifetime. A thread started meanwhile inherits the hold for good, so that
// such signals always reach the thread that started the process.
class AllSignalsHold {
 public:
  AllSignalsHold();
  ~AllSignalsHold();
  AllSignalsHold(const AllSignalsHold&) = delete;
  AllSignalsHold& operator=(const AllSignalsHold&) = delete;

 private:
  alignas(8) unsigned char saved_[128];
};

// Ends the process at once with `status`: no destructors, no buffered
// output of the C library. Safe in a signal handler.
[[noreturn]] void end_process_now(int status);

}  // namespace tarvel::platform
