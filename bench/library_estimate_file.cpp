// The library's estimate over a raw capture of interleaved complex64 samples
// (as bench/write_capture writes them), read in place from a memory mapping:
// the estimate's working memory does not grow with S, so a capture far larger
// than the process may allocate is estimated whole. Prints the report, then
// the process's peak resident memory and, at the end, how much of what is
// resident is the mapped file (page cache, shared and reclaimable) and how
// much the process's own memory.
//
//   library_estimate_file FILE CHANNELS [--read]
//
// With --read the file is read into memory allocated for it instead, the way
// a caller without a mapping would have to: that needs the whole file's size
// in the process's own memory. Exits 0 with the report; 1 when the file
// cannot be opened, mapped or read, 4 when its memory cannot be allocated,
// and the Error's code when the estimate fails.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tarvel/tarvel.h"

namespace {

// The lines of /proc/self/status that split the resident memory.
void print_resident_parts() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return;
  char line[256];
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, "VmHWM:", 6) == 0 || std::strncmp(line, "VmRSS:", 6) == 0 ||
        std::strncmp(line, "RssAnon:", 8) == 0 || std::strncmp(line, "RssFile:", 8) == 0) {
      std::fputs(line, stdout);
    }
  }
  std::fclose(status);
}

// Reads all `size` bytes of `fd` into `out`; false on a read error.
bool read_all(int fd, char* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(fd, out + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bool read_into_memory = argc == 4 && std::strcmp(argv[3], "--read") == 0;
  if ((argc != 3 && !read_into_memory) || std::atoll(argv[2]) < 1) {
    std::fprintf(stderr, "usage: %s FILE CHANNELS [--read]\n", argv[0]);
    return 2;
  }
  const char* name = argv[1];
  const std::int64_t channels = std::atoll(argv[2]);
  const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    std::fprintf(stderr, "%s: %s\n", name, std::strerror(errno));
    return 1;
  }
  const std::size_t size = static_cast<std::size_t>(info.st_size);
  const std::int64_t samples =
      static_cast<std::int64_t>(size / sizeof(std::complex<float>)) / channels;
  std::printf("%s: %zu bytes, %lld samples of %lld channels, %s\n", name, size,
              static_cast<long long>(samples), static_cast<long long>(channels),
              read_into_memory ? "read into memory" : "mapped");
  std::fflush(stdout);

  const void* data = nullptr;
  if (read_into_memory) {
    void* memory = std::malloc(size);
    if (memory == nullptr) {
      std::fprintf(stderr, "%s: no memory for its %zu bytes\n", name, size);
      return 4;
    }
    if (!read_all(fd, static_cast<char*>(memory), size)) {
      std::fprintf(stderr, "%s: read failed: %s\n", name, std::strerror(errno));
      return 1;
    }
    data = memory;
  } else {
    data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (data == MAP_FAILED) {
      std::fprintf(stderr, "%s: mmap failed: %s\n", name, std::strerror(errno));
      return 1;
    }
    // Each pass reads the capture from start to end.
    ::madvise(const_cast<void*>(data), size, MADV_SEQUENTIAL);
  }
  ::close(fd);

  try {
    const tarvel::SampleView x{static_cast<const std::complex<float>*>(data), samples, channels,
                               channels, 1};
    const std::string text = tarvel::report(tarvel::estimate(x));
    std::fwrite(text.data(), 1, text.size(), stdout);
  } catch (const tarvel::Error& error) {
    std::fprintf(stderr, "%s: %s\n", name, error.what());
    return error.code();
  }
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("peak resident memory (getrusage): %ld KiB\n", usage.ru_maxrss);
  print_resident_parts();
  return 0;
}
