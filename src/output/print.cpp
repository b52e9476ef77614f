#include "output/print.h"

#include <cstring>

#include "output/real_format.h"
#include "platform/console.h"
#include "runtime/open_files.h"
#include "runtime/runtime_error.h"

namespace tarvel {
namespace {

constexpr int kZoneWidth = 14;

// Column of each sink, indexed by file number; every sink has width 0
// (unlimited), so the column never wraps.
std::int64_t g_columns[kLastFileNumber + 1];

void advance_column(int file_number, const char* bytes, std::size_t size) {
  for (std::size_t i = size; i > 0; --i) {
    if (bytes[i - 1] == '\r' || bytes[i - 1] == '\n') {
      g_columns[file_number] = static_cast<std::int64_t>(size - i);
      return;
    }
  }
  g_columns[file_number] += static_cast<std::int64_t>(size);
}

// Copies into the file's buffer, writing the buffer out each time it fills;
// an item as large as the buffer goes straight after what is buffered.
bool write_file(OpenFile& file, const char* bytes, std::size_t size) {
  if (size >= file.capacity) return write_past_buffer(file, bytes, size);
  bool stored = true;
  while (size > 0) {
    std::size_t used = file.buffered.load(std::memory_order_relaxed);
    if (used == file.capacity) {
      stored = flush_open_file(file) && stored;
      used = 0;
    }
    std::size_t chunk = file.capacity - used < size ? file.capacity - used : size;
    std::memcpy(file.buffer + used, bytes, chunk);
    // The bytes are in place before the count says so.
    std::atomic_signal_fence(std::memory_order_seq_cst);
    file.buffered.store(used + chunk, std::memory_order_relaxed);
    bytes += chunk;
    size -= chunk;
  }
  if (file.buffered.load(std::memory_order_relaxed) == file.capacity) {
    stored = flush_open_file(file) && stored;
  }
  return stored;
}

// One write to a sink, with the error code and column rules of every print.
void write_item(int file_number, const char* bytes, std::size_t size) {
  set_current_error(kNoError);
  if (file_number == kConsoleFileNumber) {
    if (size == 0) return;
    // A lost console write is not reported.
    platform::write_standard_output(bytes, size);
    advance_column(file_number, bytes, size);
    return;
  }
  if (!is_file_open(file_number)) {
    set_current_error(kIllegalFunctionCall);
    return;
  }
  if (size == 0) return;
  if (!write_file(*open_file_entry(file_number), bytes, size)) {
    set_current_error(kFileIoError);
    return;
  }
  advance_column(file_number, bytes, size);
}

bool has_sink(int file_number) {
  if (file_number == kConsoleFileNumber) return true;
  if (is_file_open(file_number)) return true;
  set_current_error(kIllegalFunctionCall);
  return false;
}

void pad(int file_number) {
  static constexpr char kBlanks[kZoneWidth + 1] = "              ";
  std::int64_t column = g_columns[file_number];
  std::int64_t target = (column / kZoneWidth + 1) * kZoneWidth;
  write_item(file_number, kBlanks, static_cast<std::size_t>(target - column));
}

void mask_action(int file_number, int mask) {
  if ((mask & (PM_LINE_END | PM_LINE_END_ALT)) != 0) {
    write_item(file_number, "\r\n", 2);
  } else if ((mask & PM_PAD) != 0) {
    pad(file_number);
  }
}

void print_real(int file_number, double value, int digits, int mask) {
  if (!has_sink(file_number)) return;
  char text[kRealTextCapacity];
  write_item(file_number, text, format_real(value, digits, true, text));
  mask_action(file_number, mask);
}

}  // namespace

void print_text(int file_number, std::string_view text, int mask) {
  if (!has_sink(file_number)) return;
  write_item(file_number, text.data(), text.size());
  mask_action(file_number, mask);
}

void print_single(int file_number, float value, int mask) {
  print_real(file_number, static_cast<double>(value), kSingleDigits, mask);
}

void print_double(int file_number, double value, int mask) {
  print_real(file_number, value, kDoubleDigits, mask);
}

void print_integer(int file_number, std::int64_t value, int mask) {
  if (!has_sink(file_number)) return;
  char text[32];
  char* end = text;
  // "% d": a blank in front of zero and positive values.
  if (value >= 0) *end++ = ' ';
  std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  if (value < 0) *end++ = '-';
  char digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  while (count > 0) *end++ = digits[--count];
  if ((mask & PM_BLANK_AFTER) != 0) *end++ = ' ';
  if ((mask & (PM_LINE_END | PM_LINE_END_ALT)) != 0) {
    *end++ = '\r';
    *end++ = '\n';
  }
  write_item(file_number, text, static_cast<std::size_t>(end - text));
  if ((mask & PM_PAD) != 0) pad(file_number);
}

void end_line(int file_number, int mask) {
  if (!has_sink(file_number)) return;
  mask_action(file_number, mask);
}

std::int64_t print_column(int file_number) {
  if (file_number < 0 || file_number > kLastFileNumber) return 0;
  return g_columns[file_number];
}

void reset_print_column(int file_number) {
  if (file_number >= 0 && file_number <= kLastFileNumber) g_columns[file_number] = 0;
}

}  // namespace tarvel
