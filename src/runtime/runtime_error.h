// Run-time error numbers, the abort report and the two ways the process ends.
#pragma once

#include <cstddef>

namespace tarvel {

// The numbered run-time errors. 0 is success; every other number has a fixed
// message and is the exit status of an abort that raises it.
enum RuntimeErrorCode : int {
  kNoError = 0,
  kIllegalFunctionCall = 1,
  kFileNotFound = 2,
  kFileIoError = 3,
  kOutOfMemory = 4,
  kIllegalResume = 5,
  kOutOfBoundsArrayAccess = 6,
  kNullPointerAccess = 7,
  kNoPrivileges = 8,
  kInterruptedSignal = 9,
  kIllegalInstructionSignal = 10,
  kFloatingPointErrorSignal = 11,
  kSegmentationViolationSignal = 12,
  kTerminationRequestSignal = 13,
  kAbnormalTerminationSignal = 14,
  kQuitRequestSignal = 15,
  kReturnWithoutGosub = 16,
  kEndOfFile = 17,
};

// The message of a code 0..17 ("" for 0); nullptr for any other number.
const char* runtime_error_message(int code);

// The outcome of the latest run-time operation (open, close, allocation, print).
// Only the main thread opens, closes, allocates and prints (the threads that
// share the work report to it), so one process-wide value serves as its
// error state.
RuntimeErrorCode current_error();
void set_current_error(RuntimeErrorCode code);

// The module name quoted by every report that names a line.
inline constexpr char kModuleName[] = "tarvel";

// Formats the abort report of `code` into `out` (capacity `capacity` >= 1,
// always NUL-terminated, at most capacity - 1 bytes of text) and returns the
// text length. A `report_line` of 0 or less quotes neither line nor module.
// Async-signal-safe: no allocation, no stdio.
std::size_t format_runtime_error_report(int code, int report_line, const char* module, char* out,
                                        std::size_t capacity);

// Aborts the run: builds the report into the process-wide pending report
// (1023 bytes at most), closes every open numbered file (writing out what is
// buffered), writes the report to standard error and ends the process with
// exit status `code`. Async-signal-safe; never returns.
[[noreturn]] void raise_runtime_error(int code, int report_line);

// Ends the run normally: the same process end without a report.
[[noreturn]] void end_run(int status);

// What ends the process after the open files are closed and the report is
// written; the system's immediate end of the process unless replaced. An in-process harness (a fuzz
// target) replaces it with one that throws, so that a whole run can be driven
// many times in one process. The hook must not return.
using ProcessEndHook = void (*)(int status);
void set_process_end_hook(ProcessEndHook hook);

}  // namespace tarvel
