#include "input/input_file.h"

#include <cstring>
#include <memory>

#include "runtime/open_files.h"

namespace tarvel {
namespace {

// Turns every CR LF of `bytes[0, size)` into LF, in place, and returns the new
// size. A CR as the very last byte is dropped and reported through
// `held_back` when `more_may_follow`, since only the next chunk can tell
// whether it pairs with an LF; otherwise it stays as a lone CR.
std::size_t translate_line_ends(unsigned char* bytes, std::size_t size, bool more_may_follow,
                                bool& held_back) {
  held_back = false;
  unsigned char* const limit = bytes + size;
  auto* in = static_cast<unsigned char*>(std::memchr(bytes, kCarriageReturn, size));
  if (in == nullptr) return size;
  unsigned char* out = in;
  while (in != limit) {
    // `in` is at a CR here.
    if (in + 1 == limit) {
      ++in;
      if (more_may_follow) {
        held_back = true;
      } else {
        *out++ = kCarriageReturn;
      }
      break;
    }
    if (in[1] == kLineFeed) {
      *out++ = kLineFeed;
      in += 2;
    } else {
      *out++ = kCarriageReturn;
      ++in;
    }
    auto* next_cr = static_cast<unsigned char*>(
        std::memchr(in, kCarriageReturn, static_cast<std::size_t>(limit - in)));
    if (next_cr == nullptr) next_cr = limit;
    std::size_t run = static_cast<std::size_t>(next_cr - in);
    std::memmove(out, in, run);
    out += run;
    in = next_cr;
  }
  return static_cast<std::size_t>(out - bytes);
}

void reset(InputFile& file) {
  file.file_number = 0;
  file.handle = platform::kNoFile;
  file.detached = false;
  file.buffer.reset();
  file.capacity = 0;
  file.next = nullptr;
  file.end = nullptr;
  file.window_offset = 0;
  file.raw_offset = 0;
  file.raw_mark = kNoMark;
  file.marked_offset = kNoMark;
  file.cr_held_back = false;
  file.source_exhausted = true;
  file.data_ended = true;
  file.stop = {};
}

// A read buffer of at least kMinInputBufferSize bytes; `size` is raised to
// the size it has. Null when there is no memory.
std::unique_ptr<unsigned char, InputFile::FreeDeleter> allocate_buffer(std::size_t& size) {
  if (size < kMinInputBufferSize) size = kMinInputBufferSize;
  return std::unique_ptr<unsigned char, InputFile::FreeDeleter>(
      static_cast<unsigned char*>(std::malloc(size)));
}

// `file` open on `handle` with an empty window in `buffer`, nothing read yet.
void start_reading(InputFile& file, platform::FileHandle handle,
                   std::unique_ptr<unsigned char, InputFile::FreeDeleter> buffer,
                   std::size_t capacity) {
  reset(file);
  file.handle = handle;
  file.next = buffer.get();
  file.end = buffer.get();
  file.buffer = std::move(buffer);
  file.capacity = capacity;
  file.source_exhausted = false;
  file.data_ended = false;
}

}  // namespace

RuntimeErrorCode open_for_input(InputFile& file, std::string_view name, int file_number,
                                std::size_t buffer_size) {
  if (name.empty() || is_open(file)) return kIllegalFunctionCall;
  const bool in_table = file_number != 0;
  if (in_table && (open_file_entry(file_number) == nullptr || is_file_open(file_number))) {
    return kIllegalFunctionCall;
  }
  const platform::OpenedInput opened = platform::open_input(name);
  file.open_error_number = opened.error_number;
  switch (opened.outcome) {
    case platform::InputOpening::kRegularFile:
      break;
    case platform::InputOpening::kRefused:
    case platform::InputOpening::kFolder:
      return kFileNotFound;
    case platform::InputOpening::kNotRegular:
      return kIllegalFunctionCall;
  }
  const platform::FileHandle handle = opened.file;
  auto refuse = [handle](RuntimeErrorCode code) {
    platform::close_file(handle);
    return code;
  };

  std::unique_ptr<unsigned char, InputFile::FreeDeleter> buffer = allocate_buffer(buffer_size);
  if (buffer == nullptr) return refuse(kOutOfMemory);
  if (!in_table) {
    start_reading(file, handle, std::move(buffer), buffer_size);
    file.detached = true;
    return kNoError;
  }
  if (RuntimeErrorCode code = register_open_file(file_number, handle, 0); code != kNoError) {
    return refuse(code);
  }
  start_reading(file, handle, std::move(buffer), buffer_size);
  file.file_number = file_number;
  return kNoError;
}

RuntimeErrorCode open_detached_input(InputFile& file, platform::FileHandle handle,
                                     std::size_t buffer_size) {
  std::unique_ptr<unsigned char, InputFile::FreeDeleter> buffer = allocate_buffer(buffer_size);
  if (buffer == nullptr) {
    platform::close_file(handle);
    return kOutOfMemory;
  }
  start_reading(file, handle, std::move(buffer), buffer_size);
  file.detached = true;
  return kNoError;
}

bool is_open(const InputFile& file) {
  if (file.detached) return file.handle != platform::kNoFile;
  const OpenFile* entry = open_file_entry(file.file_number);
  return entry != nullptr && entry->handle != platform::kNoFile && entry->handle == file.handle;
}

RuntimeErrorCode close_file(InputFile& file) {
  if (!is_open(file)) return kIllegalFunctionCall;
  // Closing an open file always succeeds; an input file has nothing to write.
  if (file.detached) {
    platform::close_file(file.handle);
  } else {
    close_file(file.file_number);
  }
  reset(file);
  return kNoError;
}

bool refill(InputFile& file) {
  if (file.data_ended) return false;
  if (file.stop.stop_requested()) {
    file.source_exhausted = true;
    file.data_ended = true;
    return false;
  }
  unsigned char* const buffer = file.buffer.get();
  // A window may come out empty (a chunk that was one held-back CR, or that
  // began with Ctrl-Z), so keep going until a byte is there or none is left.
  for (;;) {
    if (file.source_exhausted) {
      file.data_ended = true;
      return false;
    }
    // The last byte delivered so far, for a mark at the very start of the
    // chunk.
    const int previous_byte = file.end != buffer ? file.end[-1] : kNoByte;
    std::size_t size = 0;
    if (file.cr_held_back) {
      buffer[size++] = kCarriageReturn;
      file.cr_held_back = false;
    }
    const std::size_t raw_start = size;
    const std::uint64_t chunk_offset = file.raw_offset;
    const std::size_t got = platform::read_some(file.handle, buffer + size, file.capacity - size);
    file.raw_offset += got;
    if (got == 0) file.source_exhausted = true;
    // Ctrl-Z ends the data: it and everything after it are never delivered.
    if (const void* mark = std::memchr(buffer + size, kEndOfDataMark, got)) {
      size = static_cast<std::size_t>(static_cast<const unsigned char*>(mark) - buffer);
      file.source_exhausted = true;
    } else {
      size += got;
    }
    const std::uint64_t delivered_before =
        file.window_offset + static_cast<std::uint64_t>(file.end - buffer);
    if (file.raw_mark >= chunk_offset && file.raw_mark - chunk_offset <= size - raw_start &&
        file.raw_mark - chunk_offset < got) {
      // The mark lies in this chunk's data: the bytes before it, which end in
      // an LF, are translated apart from the rest, so the mark's delivered
      // offset is their translated size. No CR LF pair spans the mark.
      const std::size_t at = raw_start + static_cast<std::size_t>(file.raw_mark - chunk_offset);
      const int before_mark = at > 0 ? buffer[at - 1] : previous_byte;
      if (before_mark == kLineFeed) {
        bool held_back = false;
        const std::size_t head = translate_line_ends(buffer, at, true, held_back);
        const std::size_t tail =
            translate_line_ends(buffer + at, size - at, !file.source_exhausted, file.cr_held_back);
        std::memmove(buffer + head, buffer + at, tail);
        size = head + tail;
        file.marked_offset = delivered_before + head;
      } else {
        size = translate_line_ends(buffer, size, !file.source_exhausted, file.cr_held_back);
      }
      file.raw_mark = kNoMark;
    } else {
      size = translate_line_ends(buffer, size, !file.source_exhausted, file.cr_held_back);
    }
    if (size > 0) {
      file.window_offset = delivered_before;
      file.next = buffer;
      file.end = buffer + size;
      return true;
    }
  }
}

bool at_end_of_file(InputFile& file) {
  if (!is_open(file)) return true;
  if (file.next != file.end) return false;
  return !refill(file);
}

}  // namespace tarvel
