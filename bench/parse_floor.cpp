// The floor the tool is measured against: map the file and convert every
// blank-separated field with std::from_chars, summing them, nothing else.
//
//   parse_floor FILE
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  int fd = ::open(argv[1], O_RDONLY);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) return 1;
  const std::size_t size = static_cast<std::size_t>(info.st_size);
  const char* data =
      size == 0 ? nullptr
                : static_cast<const char*>(::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0));
  double sum = 0;
  long long fields = 0;
  const char* p = data;
  const char* end = data + size;
  while (p < end) {
    while (p < end && (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t')) ++p;
    if (p == end) break;
    double value = 0;
    auto result = std::from_chars(p, end, value);
    if (result.ptr == p) {
      ++p;
      continue;
    }
    sum += value;
    ++fields;
    p = result.ptr;
  }
  std::printf("%lld fields, sum %.17g\n", fields, sum);
  return 0;
}
