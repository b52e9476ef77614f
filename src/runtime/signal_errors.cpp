#include "runtime/signal_errors.h"

#include <csignal>

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
  platform::install_fatal_signal_handler(on_fatal_signal);
}

void block_fatal_signals() {
  platform::block_fatal_signals();
}

}  // namespace tarvel
