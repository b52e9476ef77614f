#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "platform/system_signals.h"

namespace tarvel::platform {
namespace {

constexpr int kFatalSignals[] = {SIGINT, SIGILL, SIGFPE, SIGSEGV, SIGTERM, SIGABRT};

// Large enough for the handler and the report formatting, which use only a
// few hundred bytes of stack.
alignas(16) char g_alternate_stack[64 * 1024];

sigset_t fatal_signal_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int number : kFatalSignals) sigaddset(&set, number);
  return set;
}

sigset_t& saved_mask(unsigned char* storage) {
  static_assert(sizeof(sigset_t) <= sizeof(FatalSignalHold) && alignof(sigset_t) <= 8,
                "the saved signal mask must fit its storage");
  return *reinterpret_cast<sigset_t*>(storage);
}

}  // namespace

void install_fatal_signal_handler(FatalSignalHandler handler) {
  stack_t alternate{};
  alternate.ss_sp = g_alternate_stack;
  alternate.ss_size = sizeof g_alternate_stack;
  sigaltstack(&alternate, nullptr);

  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_mask = fatal_signal_set();
  action.sa_flags = SA_ONSTACK;
  for (int number : kFatalSignals) sigaction(number, &action, nullptr);

  signal(SIGPIPE, SIG_IGN);

  // A parent may have left some of them blocked; the process must hear them.
  sigset_t set = fatal_signal_set();
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

void block_fatal_signals() {
  sigset_t set = fatal_signal_set();
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

FatalSignalHold::FatalSignalHold() {
  sigset_t set = fatal_signal_set();
  sigprocmask(SIG_BLOCK, &set, &saved_mask(saved_));
}

FatalSignalHold::~FatalSignalHold() {
  sigprocmask(SIG_SETMASK, &saved_mask(saved_), nullptr);
}

AllSignalsHold::AllSignalsHold() {
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &saved_mask(saved_));
}

AllSignalsHold::~AllSignalsHold() {
  pthread_sigmask(SIG_SETMASK, &saved_mask(saved_), nullptr);
}

void end_process_now(int status) {
  ::_exit(status);
}

}  // namespace tarvel::platform
