// The fatal signals and their run-time error codes.
#pragma once

#include "platform/system_signals.h"

namespace tarvel {

// Installs one handler for SIGINT, SIGILL, SIGFPE, SIGSEGV, SIGTERM and
// SIGABRT (and what the system reports as them) that aborts the run with
// codes 9, 10, 11, 12, 13 and 14 and report line 0. A stack overflow still
// reports, and a console write to a pipe nobody reads fails quietly instead
// of ending the run. Call once, before anything else can fail.
void install_signal_handlers();

// The run-time error code of a fatal signal, or 0 for any other signal.
int signal_error_code(int signal_number);

// Holds the six fatal signals off for good (used when the process starts to
// end, so that the end sequence runs once).
void block_fatal_signals();

// Holds the six fatal signals off for its lifetime; a signal that arrives
// meanwhile is delivered when it ends. Used around updates that a handler must
// never see half done.
using SignalHold = platform::FatalSignalHold;

}  // namespace tarvel
