#include "input/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "runtime/open_files.h"

namespace tarvel {
namespace {

// One read(2), retried when a signal interrupts it. A failure counts as the
// end of the data, so it returns 0 then.
std::size_t read_chunk(int fd, unsigned char* into, std::size_t size) {
  for (;;) {
    ssize_t got = ::read(fd, into, size);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return 0;
  }
}

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
  file.fd = -1;
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
}

// A read buffer of at least kMinInputBufferSize bytes; `size` is raised to
// the size it has. Null when there is no memory.
std::unique_ptr<unsigned char, InputFile::FreeDeleter> allocate_buffer(std::size_t& size) {
  if (size < kMinInputBufferSize) size = kMinInputBufferSize;
  return std::unique_ptr<unsigned char, InputFile::FreeDeleter>(
      static_cast<unsigned char*>(std::malloc(size)));
}

// `file` open on `fd` with an empty window in `buffer`, nothing read yet.
void start_reading(InputFile& file, int fd,
                   std::unique_ptr<unsigned char, InputFile::FreeDeleter> buffer,
                   std::size_t capacity) {
  reset(file);
  file.fd = fd;
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
  if (open_file_entry(file_number) == nullptr || is_file_open(file_number)) {
    return kIllegalFunctionCall;
  }
  // The system takes NUL-terminated names: a name with a NUL in it names no
  // file at all rather than a shorter one.
  if (name.find('\0') != std::string_view::npos) return kFileNotFound;
  const std::string path(name);

  // Non-blocking, so that opening a FIFO without a writer returns at once; it
  // is refused below anyway, its size being unknown.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return kFileNotFound;
  auto refuse = [fd](RuntimeErrorCode code) {
    ::close(fd);
    return code;
  };
  struct stat status {};
  if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) return refuse(kFileNotFound);
  if (::lseek(fd, 0, SEEK_END) < 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
    return refuse(kIllegalFunctionCall);
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return refuse(kIllegalFunctionCall);
  }

  std::unique_ptr<unsigned char, InputFile::FreeDeleter> buffer = allocate_buffer(buffer_size);
  if (buffer == nullptr) return refuse(kOutOfMemory);
  if (RuntimeErrorCode code = register_open_file(file_number, fd, 0); code != kNoError) {
    return refuse(code);
  }
  start_reading(file, fd, std::move(buffer), buffer_size);
  file.file_number = file_number;
  return kNoError;
}

RuntimeErrorCode open_detached_input(InputFile& file, int fd, std::size_t buffer_size) {
  std::unique_ptr<unsigned char, InputFile::FreeDeleter> buffer = allocate_buffer(buffer_size);
  if (buffer == nullptr) {
    ::close(fd);
    return kOutOfMemory;
  }
  start_reading(file, fd, std::move(buffer), buffer_size);
  file.detached = true;
  return kNoError;
}

bool is_open(const InputFile& file) {
  if (file.detached) return file.fd >= 0;
  const OpenFile* entry = open_file_entry(file.file_number);
  return entry != nullptr && entry->fd >= 0 && entry->fd == file.fd;
}

RuntimeErrorCode close_file(InputFile& file) {
  if (!is_open(file)) return kIllegalFunctionCall;
  // Closing an open file always succeeds; an input file has nothing to write.
  if (file.detached) {
    ::close(file.fd);
  } else {
    close_file(file.file_number);
  }
  reset(file);
  return kNoError;
}

bool refill(InputFile& file) {
  if (file.data_ended) return false;
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
    const std::size_t got = read_chunk(file.fd, buffer + size, file.capacity - size);
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
