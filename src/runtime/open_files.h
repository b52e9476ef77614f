// The process-wide table of open numbered files (1..255). Each entry holds the
// system's file and, for output files, the bytes accepted but not yet written, so
// that the process end (normal, abort or signal) can write them out and close
// every file without knowing which subsystem opened it.
#pragma once

#include <atomic>
#include <cstddef>

#include "platform/files.h"
#include "runtime/runtime_error.h"

namespace tarvel {

inline constexpr int kFirstFileNumber = 1;
inline constexpr int kLastFileNumber = 255;
inline constexpr int kConsoleFileNumber = 0;

struct OpenFile {
  platform::FileHandle handle = platform::kNoFile;
  // Output files only: a buffer owned by the table entry, its capacity and the
  // number of bytes in it that have not reached the file yet. `buffered` is
  // published after the bytes are in place, so a signal handler never writes
  // a half-copied item.
  char* buffer = nullptr;
  std::size_t capacity = 0;
  std::atomic<std::size_t> buffered{0};
  // Set once any write to the file stored fewer bytes than asked.
  bool write_failed = false;
};

// The entry of `file_number`, or nullptr outside 1..255. Never allocates.
OpenFile* open_file_entry(int file_number);

// True when `file_number` is 1..255 and has an open file.
bool is_file_open(int file_number);

// Records `handle` as the open file `file_number`, with an output buffer of
// `buffer_capacity` bytes when that is not 0 (the buffer is allocated once per
// entry and kept). Returns 1 when the number is outside 1..255 or already
// open, 4 when the buffer cannot be had; the caller keeps `handle` then.
RuntimeErrorCode register_open_file(int file_number, platform::FileHandle handle,
                                    std::size_t buffer_capacity);

// Writes the buffered bytes of an output file to the file, retrying
// partial writes, with the fatal signals held off so that an abort arriving
// meanwhile neither loses nor repeats a byte. Returns false on a write failure
// (and marks the file); the unwritten bytes are dropped.
bool flush_open_file(OpenFile& file);

// Writes the buffered bytes of an output file and then `bytes` straight to
// the file, in order, under the same rules as flush_open_file: for
// items at least as large as the buffer, which copying would only delay.
bool write_past_buffer(OpenFile& file, const char* bytes, std::size_t size);

// Closes `file_number`: writes out its buffer, closes the file and frees
// the entry. Returns 1 when the number is not open, 3 when any write to the
// file failed (including this final one), else 0.
RuntimeErrorCode close_file(int file_number);

// Writes out and closes every open file. Async-signal-safe: only the
// platform's write_fully and close_file on state that the main flow publishes in a consistent
// order.
void close_all_open_files();

}  // namespace tarvel
