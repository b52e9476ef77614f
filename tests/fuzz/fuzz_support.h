// Shared by the fuzz targets: the fuzz input as a file the input subsystem can
// open, the read buffer sizes to try, and the report of a divergence.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "input/input_file.h"
#include "support/text_reference.h"

namespace tarvel::fuzz {

using reference::visible;

// Prints what diverged to standard error and traps, so that libFuzzer keeps
// the input as a crash. Never returns.
[[noreturn]] inline void fail(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::fputs("\ndivergence: ", stderr);
  std::vfprintf(stderr, format, arguments);
  std::fputs("\n", stderr);
  va_end(arguments);
  std::fflush(stderr);
  __builtin_trap();
}

// `value` as a hexfloat, so that a last-bit difference shows at once.
inline std::string hex(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%a", value);
  return text;
}

// Bit for bit, except that any NaN matches any NaN (the payload and sign of a
// NaN text are the conversion routine's choice).
inline bool same_bits(double a, double b) {
  if (std::isnan(a) && std::isnan(b)) return true;
  return std::memcmp(&a, &b, sizeof a) == 0;
}
inline bool same_bits(float a, float b) {
  if (std::isnan(a) && std::isnan(b)) return true;
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// An anonymous in-memory file, rewritten for every input and opened by the
// input subsystem through its /proc/self/fd name like any other file.
class MemoryFile {
 public:
  MemoryFile() {
    fd_ = ::memfd_create("tarvel-fuzz-input", MFD_CLOEXEC);
    if (fd_ < 0) fail("memfd_create failed: %s", std::strerror(errno));
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryFile() { ::close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // Replaces the contents with `bytes`.
  void write(std::string_view bytes) {
    if (::ftruncate(fd_, 0) != 0) fail("ftruncate failed: %s", std::strerror(errno));
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t written =
          ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
      if (written <= 0) fail("pwrite failed: %s", std::strerror(errno));
      done += static_cast<std::size_t>(written);
    }
  }

  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

// The read chunk size chosen by one control byte: the sizes that put a refill
// at every small offset and at the piece and field limits, the real one, or
// (for the other byte values) every size from 2 up.
inline std::size_t pick_buffer_size(std::uint8_t selector) {
  static constexpr std::size_t kSizes[] = {kMinInputBufferSize,
                                           3,
                                           4,
                                           5,
                                           7,
                                           8,
                                           16,
                                           64,
                                           67,
                                           68,
                                           69,
                                           509,
                                           510,
                                           511,
                                           512,
                                           513,
                                           1021,
                                           1022,
                                           1023,
                                           1024,
                                           8192,
                                           kInputBufferSize};
  constexpr std::size_t kCount = sizeof kSizes / sizeof kSizes[0];
  if (selector < kCount) return kSizes[selector];
  return kMinInputBufferSize + (selector - kCount);
}

// The fuzz input split into control bytes (zero when the input is shorter)
// and the file bytes after them.
template <std::size_t kControlBytes>
struct SplitInput {
  std::uint8_t control[kControlBytes] = {};
  std::string_view file;

  SplitInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t taken = size < kControlBytes ? size : kControlBytes;
    for (std::size_t i = 0; i < taken; ++i) control[i] = data[i];
    file = std::string_view(reinterpret_cast<const char*>(data) + taken, size - taken);
  }
};

// A small deterministic generator for the order of operations a target
// performs, seeded from control bytes so that libFuzzer can vary it.
class Schedule {
 public:
  explicit Schedule(std::uint32_t seed) : state_(seed * 2654435761u + 0x9e3779b9u) {
    if (state_ == 0) state_ = 1;  // the one state the generator never leaves
  }
  // The next choice in 0..count-1.
  unsigned next(unsigned count) {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_ % count;
  }

 private:
  std::uint32_t state_;
};

}  // namespace tarvel::fuzz
