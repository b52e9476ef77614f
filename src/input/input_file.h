// An input file opened for reading as a text-mode byte stream: CR LF arrives
// as LF, a lone CR as CR, and a Ctrl-Z byte ends the data. The file is read in
// large chunks into a buffer of its own and translated there in place, so the
// readers above take bytes straight out of the buffer window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stop_token>
#include <string_view>

#include "platform/files.h"
#include "runtime/runtime_error.h"

namespace tarvel {

// The chunk size of every read of an input file. Large, so that a pass over
// a big file costs few system calls; nothing observable depends on it.
inline constexpr std::size_t kInputBufferSize = std::size_t{256} * 1024;

// The smallest buffer a test may ask for: a CR held back at the end of one
// chunk needs room beside at least one new byte.
inline constexpr std::size_t kMinInputBufferSize = 2;

inline constexpr unsigned char kLineFeed = 0x0A;
inline constexpr unsigned char kCarriageReturn = 0x0D;
inline constexpr unsigned char kEndOfDataMark = 0x1A;  // Ctrl-Z

// No place: the value of raw_mark and marked_offset when there is none.
inline constexpr std::uint64_t kNoMark = ~std::uint64_t{0};

// The value a byte request yields when no byte is left.
inline constexpr int kNoByte = -1;

struct InputFile {
  struct FreeDeleter {
    void operator()(unsigned char* p) const { std::free(p); }
  };

  // The file number while open (registered in the process-wide open-file
  // table, which closes the file at process end); 0 while closed.
  int file_number = 0;
  platform::FileHandle handle = platform::kNoFile;
  // Open outside the table, for a helper thread's own reading (the table is
  // the main thread's alone).
  bool detached = false;
  std::unique_ptr<unsigned char, FreeDeleter> buffer;
  std::size_t capacity = 0;
  // The delivered bytes not yet taken: [next, end) inside the buffer, already
  // translated to text mode.
  const unsigned char* next = nullptr;
  const unsigned char* end = nullptr;
  // How many bytes were delivered before the window's first one.
  std::uint64_t window_offset = 0;
  // How many bytes of the file the reads have taken so far.
  std::uint64_t raw_offset = 0;
  // A place in the file just after an LF, not read yet, whose offset in the
  // delivered stream is wanted: once a refill has delivered the bytes before
  // it, `marked_offset` holds that offset (it stays kNoMark when the data ends
  // before, or the byte before it is no LF after all).
  std::uint64_t raw_mark = kNoMark;
  std::uint64_t marked_offset = kNoMark;
  // A CR that was the last byte of a chunk waits here for the first byte of
  // the next one, which decides whether it is half of a CR LF pair.
  bool cr_held_back = false;
  // The raw file has nothing more to give: it ended, a read failed, or a
  // Ctrl-Z was met. The window may still hold bytes. A closed file has none.
  bool source_exhausted = true;
  // Sticky: a byte request has met the end of the data. No read happens
  // after this, even if the file grows.
  bool data_ended = true;
  // A caller's stop: once it is requested, the data ends at the next refill,
  // and the caller, who looks at it afterwards, throws the reading away.
  std::stop_token stop;
  // Why the latest open failed, as an error number of <cerrno> (0 when the
  // system gave none), for a caller that reports it.
  int open_error_number = 0;
};

// Opens `name` for reading as `file`, under `file_number` of the open-file
// table (0: outside it, for a caller that is not the tool), reading chunks of `buffer_size` bytes
// (at least kMinInputBufferSize; smaller values are raised to it). Returns 0; 1 when the name is
// empty, `file` is already open, the number is outside 1..255 or already open, or the input is no
// regular file, so that its size says nothing of where its data ends (a pipe, FIFO, terminal,
// device such as /dev/zero, or socket); 2 when the name holds a NUL byte, cannot be opened or is a
// folder; 4 when the buffer cannot be had. Never blocks on a FIFO. Allocates the buffer once per
// open; on failure `file` stays closed.
RuntimeErrorCode open_for_input(InputFile& file, std::string_view name, int file_number,
                                std::size_t buffer_size = kInputBufferSize);

// Opens `file` on the system's file `handle`, which it then owns, outside the
// open-file table, reading from the handle's current position; the bytes
// before it count as not there. For a helper thread: touches no shared state.
// Returns 0, or 4 when the buffer cannot be had (`handle` is closed then).
RuntimeErrorCode open_detached_input(InputFile& file, platform::FileHandle handle,
                                     std::size_t buffer_size = kInputBufferSize);

// Closes `file`, frees its buffer and forgets any byte not yet taken. Returns
// 0, or 1 when it is not open. Never allocates.
RuntimeErrorCode close_file(InputFile& file);

// True when `file` is open, in the open-file table or detached.
bool is_open(const InputFile& file);

// Fills the empty window of `file` with the next translated bytes. Returns
// false, and marks the data as ended for good, when no byte is left (end of
// file, a read error or a Ctrl-Z). Only for the readers' refill paths: call it
// only when `file.next == file.end`. Never allocates.
bool refill(InputFile& file);

// The next delivered byte (0..255), or kNoByte at the end of the data. Never
// allocates.
inline int take_byte(InputFile& file) {
  if (file.next == file.end && !refill(file)) return kNoByte;
  return *file.next++;
}

// Delivers the byte just taken again before any other. Valid only right after
// a take_byte that returned a byte, and at most once per take: the byte then
// still sits in the window just before `next` (refills happen only when the
// window is empty, so a take never moves it), which makes this un-read behave
// like a put-back store of one byte.
inline void put_back(InputFile& file) {
  --file.next;
}

// True when the file is not open or no further byte can be delivered. Takes
// no byte: when the window is empty it refills it, so the bytes found stay
// for the next read. Never allocates.
bool at_end_of_file(InputFile& file);

// How many bytes `file` has delivered so far: the offset, in the translated
// stream, of the next byte it delivers.
inline std::uint64_t delivered_offset(const InputFile& file) {
  return file.window_offset + static_cast<std::uint64_t>(file.next - file.buffer.get());
}

}  // namespace tarvel
