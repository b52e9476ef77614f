#include "runtime/signals.h"

#include <signal.h>

#include "runtime/runtime_error.h"

namespace tarvel {
namespace {

struct FatalSignal {
  int number;
  int code;
};

constexpr FatalSignal kFatalSignals[] = {
    {SIGINT, kInterruptedSignal},         {SIGILL, kIllegalInstructionSignal},
    {SIGFPE, kFloatingPointErrorSignal},  {SIGSEGV, kSegmentationViolationSignal},
    {SIGTERM, kTerminationRequestSignal}, {SIGABRT, kAbnormalTerminationSignal},
};

// Large enough for the handler and the report formatting, which use only a
// few hundred bytes of stack.
alignas(16) char g_alternate_stack[64 * 1024];

sigset_t fatal_signal_set() {
  sigset_t set;
  sigemptyset(&set);
  for (const FatalSignal& fatal : kFatalSignals) sigaddset(&set, fatal.number);
  return set;
}

void on_fatal_signal(int signal_number) {
  raise_runtime_error(signal_error_code(signal_number), 0);
}

}  // namespace

int signal_error_code(int signal_number) {
  for (const FatalSignal& fatal : kFatalSignals) {
    if (fatal.number == signal_number) return fatal.code;
  }
  return 0;
}

void install_signal_handlers() {
  stack_t alternate{};
  alternate.ss_sp = g_alternate_stack;
  alternate.ss_size = sizeof g_alternate_stack;
  sigaltstack(&alternate, nullptr);

  struct sigaction action {};
  action.sa_handler = on_fatal_signal;
  action.sa_mask = fatal_signal_set();
  action.sa_flags = SA_ONSTACK;
  for (const FatalSignal& fatal : kFatalSignals) sigaction(fatal.number, &action, nullptr);

  // A console that has gone away (a pipe whose reader quit) makes a console
  // write fail, and a failed console write costs only that write's bytes: it
  // must not kill the run before its output file is complete.
  signal(SIGPIPE, SIG_IGN);

  // A parent may have left some of them blocked; the tool must hear them.
  sigset_t set = fatal_signal_set();
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

void block_fatal_signals() {
  sigset_t set = fatal_signal_set();
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

SignalHold::SignalHold() {
  sigset_t set = fatal_signal_set();
  sigprocmask(SIG_BLOCK, &set, &saved_);
}

SignalHold::~SignalHold() {
  sigprocmask(SIG_SETMASK, &saved_, nullptr);
}

}  // namespace tarvel
