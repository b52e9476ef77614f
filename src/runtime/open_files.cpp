#include "runtime/open_files.h"

#include <cstdlib>

#include "runtime/signal_errors.h"

namespace tarvel {
namespace {

OpenFile g_open_files[kLastFileNumber + 1];

}  // namespace

OpenFile* open_file_entry(int file_number) {
  if (file_number < kFirstFileNumber || file_number > kLastFileNumber) return nullptr;
  return &g_open_files[file_number];
}

bool is_file_open(int file_number) {
  const OpenFile* file = open_file_entry(file_number);
  return file != nullptr && file->handle != platform::kNoFile;
}

RuntimeErrorCode register_open_file(int file_number, platform::FileHandle handle,
                                    std::size_t buffer_capacity) {
  OpenFile* file = open_file_entry(file_number);
  if (file == nullptr || file->handle != platform::kNoFile) return kIllegalFunctionCall;
  if (buffer_capacity != 0 && file->capacity < buffer_capacity) {
    char* buffer = static_cast<char*>(std::realloc(file->buffer, buffer_capacity));
    if (buffer == nullptr) return kOutOfMemory;
    file->buffer = buffer;
    file->capacity = buffer_capacity;
  }
  file->buffered.store(0, std::memory_order_relaxed);
  file->write_failed = false;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  file->handle = handle;
  return kNoError;
}

bool flush_open_file(OpenFile& file) {
  std::size_t pending = file.buffered.load(std::memory_order_relaxed);
  if (pending == 0) return true;
  SignalHold hold;
  bool written = platform::write_fully(file.handle, file.buffer, pending);
  file.buffered.store(0, std::memory_order_relaxed);
  if (!written) file.write_failed = true;
  return written;
}

bool write_past_buffer(OpenFile& file, const char* bytes, std::size_t size) {
  SignalHold hold;
  bool written = platform::write_fully(file.handle, file.buffer,
                                       file.buffered.load(std::memory_order_relaxed));
  file.buffered.store(0, std::memory_order_relaxed);
  written = written && platform::write_fully(file.handle, bytes, size);
  if (!written) file.write_failed = true;
  return written;
}

RuntimeErrorCode close_file(int file_number) {
  if (!is_file_open(file_number)) return kIllegalFunctionCall;
  OpenFile& file = *open_file_entry(file_number);
  flush_open_file(file);
  bool failed = file.write_failed;
  {
    SignalHold hold;
    platform::close_file(file.handle);
    file.handle = platform::kNoFile;
  }
  file.write_failed = false;
  return failed ? kFileIoError : kNoError;
}

void close_all_open_files() {
  for (int number = kFirstFileNumber; number <= kLastFileNumber; ++number) {
    OpenFile& file = g_open_files[number];
    if (file.handle == platform::kNoFile) continue;
    std::size_t pending = file.buffered.load(std::memory_order_relaxed);
    if (pending > 0) platform::write_fully(file.handle, file.buffer, pending);
    file.buffered.store(0, std::memory_order_relaxed);
    platform::close_file(file.handle);
    file.handle = platform::kNoFile;
  }
}

}  // namespace tarvel
