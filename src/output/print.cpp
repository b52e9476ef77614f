#include "output/print.h"

#include <cstring>

#include "platform/console.h"
#include "runtime/open_files.h"
#include "runtime/runtime_error.h"

namespace tarvel {
namespace {

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
    return;
  }
  if (!is_file_open(file_number)) {
    set_current_error(kIllegalFunctionCall);
    return;
  }
  if (size == 0) return;
  if (!write_file(*open_file_entry(file_number), bytes, size)) {
    set_current_error(kFileIoError);
  }
}

}  // namespace

void print_text(int file_number, std::string_view text) {
  write_item(file_number, text.data(), text.size());
}

void print_line(int file_number, std::string_view text) {
  print_text(file_number, text);
  if (current_error() == kIllegalFunctionCall) return;
  write_item(file_number, "\r\n", 2);
}

}  // namespace tarvel
