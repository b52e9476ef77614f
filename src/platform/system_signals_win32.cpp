#include <windows.h>

#include <csignal>

#include "platform/system_signals.h"

namespace tarvel::platform {
namespace {

constexpr int kFatalSignals[] = {SIGINT, SIGILL, SIGFPE, SIGSEGV, SIGTERM, SIGABRT};

FatalSignalHandler g_handler = nullptr;
LPTOP_LEVEL_EXCEPTION_FILTER g_previous_filter = nullptr;

// Windows delivers Ctrl-C on a thread of its own, concurrently with the
// main thread, where POSIX interrupts the main thread. A hold is therefore a
// lock that the handling takes before it ends the process: it waits while
// the main thread holds signals off, and a thread that has begun to end the
// process keeps it for good. Recursive, so that an exception raised while
// the same thread holds it still ends the process.
CRITICAL_SECTION g_signal_lock;
INIT_ONCE g_signal_lock_once = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK initialise_lock(PINIT_ONCE, PVOID, PVOID*) {
  ::InitializeCriticalSection(&g_signal_lock);
  return TRUE;
}

CRITICAL_SECTION& signal_lock() {
  ::InitOnceExecuteOnce(&g_signal_lock_once, initialise_lock, nullptr, nullptr);
  return g_signal_lock;
}

void deliver(int signal_number) {
  ::EnterCriticalSection(&signal_lock());
  if (g_handler != nullptr) g_handler(signal_number);
  ::LeaveCriticalSection(&signal_lock());
}

// How many holds the calling thread is in, and a signal that raise() sent
// meanwhile. raise() runs the handler at once on the raising thread, so a
// hold cannot stop it at the lock: the signal waits here instead, until the
// last hold ends, as a blocked signal waits on POSIX.
thread_local int t_hold_depth = 0;
thread_local int t_pending_signal = 0;

void on_c_runtime_signal(int signal_number) {
  if (t_hold_depth > 0) {
    t_pending_signal = signal_number;
    // The C runtime has reset the signal to its default on the way here.
    std::signal(signal_number, on_c_runtime_signal);
    return;
  }
  deliver(signal_number);
}

BOOL WINAPI on_console_control(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  deliver(SIGINT);
  return TRUE;
}

// The processor exceptions that nothing else handled: an access violation
// or a stack overflow is SIGSEGV, the arithmetic faults SIGFPE; any other
// goes to the filter installed before.
LONG WINAPI on_unhandled_exception(EXCEPTION_POINTERS* exception) {
  switch (exception->ExceptionRecord->ExceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_STACK_OVERFLOW:
      deliver(SIGSEGV);
      break;
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
      deliver(SIGFPE);
      break;
    default:
      break;
  }
  if (g_previous_filter != nullptr) return g_previous_filter(exception);
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

void install_fatal_signal_handler(FatalSignalHandler handler) {
  signal_lock();
  g_handler = handler;
  // What raise() and abort() deliver.
  for (int number : kFatalSignals) std::signal(number, on_c_runtime_signal);
  // Room on the stack for the handler after a stack overflow.
  ULONG guarantee = 64 * 1024;
  ::SetThreadStackGuarantee(&guarantee);
  g_previous_filter = ::SetUnhandledExceptionFilter(on_unhandled_exception);
  // Last, so that it runs before the C runtime's own console handler.
  ::SetConsoleCtrlHandler(on_console_control, TRUE);
}

void block_fatal_signals() {
  ::EnterCriticalSection(&signal_lock());
  ++t_hold_depth;
}

FatalSignalHold::FatalSignalHold() {
  ::EnterCriticalSection(&signal_lock());
  ++t_hold_depth;
}

FatalSignalHold::~FatalSignalHold() {
  --t_hold_depth;
  ::LeaveCriticalSection(&signal_lock());
  if (t_hold_depth == 0 && t_pending_signal != 0) {
    const int pending = t_pending_signal;
    t_pending_signal = 0;
    deliver(pending);
  }
}

// Console control events come on their own thread whatever the mask, and
// the C runtime's signals are synchronous: nothing to hold off.
AllSignalsHold::AllSignalsHold() {}

AllSignalsHold::~AllSignalsHold() {}

void end_process_now(int status) {
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
  ::ExitProcess(static_cast<UINT>(status));
}

}  // namespace tarvel::platform
