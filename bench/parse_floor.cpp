// The floor the tool is measured against: map the file and convert every
// blank-separated field with std::from_chars, summing them, nothing else;
// with --threads 2, the same on two threads, the file split at the first
// line end after its middle.
//
//   parse_floor [--threads 2] FILE
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

struct Sums {
  double sum = 0;
  long long fields = 0;
};

Sums parse(const char* p, const char* end) {
  Sums sums;
  while (p < end) {
    while (p < end && (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t')) ++p;
    if (p == end) break;
    double value = 0;
    auto result = std::from_chars(p, end, value);
    if (result.ptr == p) {
      ++p;
      continue;
    }
    sums.sum += value;
    ++sums.fields;
    p = result.ptr;
  }
  return sums;
}

}  // namespace

int main(int argc, char** argv) {
  const bool two_threads =
      argc == 4 && std::strcmp(argv[1], "--threads") == 0 && std::strcmp(argv[2], "2") == 0;
  if (argc != 2 && !two_threads) {
    std::fprintf(stderr, "usage: %s [--threads 2] FILE\n", argv[0]);
    return 2;
  }
  int fd = ::open(argv[argc - 1], O_RDONLY);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) return 1;
  const std::size_t size = static_cast<std::size_t>(info.st_size);
  const char* data =
      size == 0 ? nullptr
                : static_cast<const char*>(::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0));
  const char* end = data + size;
  Sums sums;
  if (two_threads) {
    const char* middle = data + size / 2;
    while (middle < end && *middle != '\n') ++middle;
    if (middle < end) ++middle;
    Sums second;
    std::thread helper([&] { second = parse(middle, end); });
    sums = parse(data, middle);
    helper.join();
    sums.sum += second.sum;
    sums.fields += second.fields;
  } else {
    sums = parse(data, end);
  }
  std::printf("%lld fields, sum %.17g\n", sums.fields, sums.sum);
  return 0;
}
