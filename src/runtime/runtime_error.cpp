#include "runtime/runtime_error.h"

#include "platform/console.h"
#include "platform/system_signals.h"
#include "runtime/open_files.h"
#include "runtime/signal_errors.h"

namespace tarvel {
namespace {

constexpr const char* kMessages[] = {
    "",
    "illegal function call",
    "file not found",
    "file I/O error",
    "out of memory",
    "illegal resume",
    "out of bounds array access",
    "null pointer access",
    "no privileges",
    "\"interrupted\" signal",
    "\"illegal instruction\" signal",
    "\"floating point error\" signal",
    "\"segmentation violation\" signal",
    "\"termination request\" signal",
    "\"abnormal termination\" signal",
    "\"quit request\" signal",
    "return without gosub",
    "end of file",
};

RuntimeErrorCode g_current_error = kNoError;
ProcessEndHook g_process_end_hook = nullptr;

// The pending report lives in static storage so that a signal handler can
// build it without allocating.
constexpr std::size_t kReportCapacity = 1024;
char g_pending_report[kReportCapacity];
std::size_t g_pending_report_size = 0;

// Appends to a bounded buffer, silently cutting at the capacity.
class BoundedText {
 public:
  BoundedText(char* out, std::size_t capacity) : out_(out), limit_(capacity - 1) {}

  void append(const char* text) {
    for (; *text != '\0' && size_ < limit_; ++text) out_[size_++] = *text;
  }

  void append_decimal(int value) {
    char digits[12];
    int count = 0;
    // Work in unsigned so that the most negative int has a magnitude.
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : value;
    do {
      digits[count++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) append("-");
    while (count > 0 && size_ < limit_) out_[size_++] = digits[--count];
  }

  std::size_t finish() {
    out_[size_] = '\0';
    return size_;
  }

 private:
  char* out_;
  std::size_t limit_;
  std::size_t size_ = 0;
};

[[noreturn]] void end_process(int status) {
  // From here on the process ends exactly once: a signal arriving now must not
  // start a second end sequence.
  block_fatal_signals();
  close_all_open_files();
  if (g_pending_report_size > 0) {
    platform::write_standard_error(g_pending_report, g_pending_report_size);
  }
  if (g_process_end_hook != nullptr) {
    g_pending_report_size = 0;
    g_process_end_hook(status);
  }
  platform::end_process_now(status);
}

}  // namespace

const char* runtime_error_message(int code) {
  if (code < 0 || code > 17) return nullptr;
  return kMessages[code];
}

RuntimeErrorCode current_error() {
  return g_current_error;
}
void set_current_error(RuntimeErrorCode code) {
  g_current_error = code;
}

std::size_t format_runtime_error_report(int code, int report_line, const char* module, char* out,
                                        std::size_t capacity) {
  BoundedText text(out, capacity);
  text.append("\nAborting due to runtime error ");
  text.append_decimal(code);
  if (const char* message = runtime_error_message(code)) {
    text.append(" (");
    text.append(message);
    text.append(")");
  }
  if (report_line > 0) {
    text.append(" at line ");
    text.append_decimal(report_line);
    text.append(" of ");
    text.append(module);
    text.append("()\n\n");
  } else {
    text.append("\n\n");
  }
  return text.finish();
}

void raise_runtime_error(int code, int report_line) {
  block_fatal_signals();
  g_pending_report_size = format_runtime_error_report(code, report_line, kModuleName,
                                                      g_pending_report, kReportCapacity);
  end_process(code);
}

void end_run(int status) {
  end_process(status);
}

void set_process_end_hook(ProcessEndHook hook) {
  g_process_end_hook = hook;
}

}  // namespace tarvel
