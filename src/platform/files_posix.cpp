#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/files.h"

namespace tarvel::platform {
namespace {

// The system takes NUL-terminated names: a name with a NUL in it names no
// file at all rather than a shorter one.
std::optional<std::string> system_name(std::string_view name) {
  if (name.find('\0') != std::string_view::npos) return std::nullopt;
  return std::string(name);
}

int descriptor(FileHandle file) {
  return static_cast<int>(file);
}

}  // namespace

OpenedInput open_input(std::string_view name) {
  const std::optional<std::string> path = system_name(name);
  if (!path) return {InputOpening::kRefused, kNoFile, ENOENT};
  // Non-blocking, so that opening a FIFO without a writer returns at once; it
  // is refused below anyway, its size being unknown.
  const int fd = ::open(path->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {InputOpening::kRefused, kNoFile, errno};
  auto refuse = [fd](InputOpening outcome, int error_number = 0) {
    ::close(fd);
    return OpenedInput{outcome, kNoFile, error_number};
  };
  struct stat status {};
  if (::fstat(fd, &status) != 0) return refuse(InputOpening::kRefused, errno);
  if (S_ISDIR(status.st_mode)) return refuse(InputOpening::kFolder, EISDIR);
  // Only a regular file has a size that says where its data ends: a device
  // such as /dev/zero would be read for ever.
  if (!S_ISREG(status.st_mode)) return refuse(InputOpening::kNotRegular);
  if (::lseek(fd, 0, SEEK_END) < 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
    return refuse(InputOpening::kNotRegular);
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return refuse(InputOpening::kNotRegular);
  }
  return {InputOpening::kRegularFile, fd};
}

FileHandle open_for_reading(std::string_view name) {
  const std::optional<std::string> path = system_name(name);
  if (!path) return kNoFile;
  const int fd = ::open(path->c_str(), O_RDONLY | O_CLOEXEC);
  return fd < 0 ? kNoFile : fd;
}

FileHandle create_for_writing(std::string_view name) {
  const std::optional<std::string> path = system_name(name);
  if (!path) return kNoFile;
  const int fd = ::open(path->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  return fd < 0 ? kNoFile : fd;
}

int last_error_number() {
  return errno;
}

std::size_t read_some(FileHandle file, unsigned char* into, std::size_t size) {
  for (;;) {
    const ssize_t got = ::read(descriptor(file), into, size);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return 0;
  }
}

std::size_t read_at(FileHandle file, unsigned char* into, std::size_t size, std::uint64_t offset) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t part =
        ::pread(descriptor(file), into + got, size - got, static_cast<off_t>(offset + got));
    if (part > 0) {
      got += static_cast<std::size_t>(part);
    } else if (part == 0 || errno != EINTR) {
      break;
    }
  }
  return got;
}

bool seek_to(FileHandle file, std::uint64_t offset) {
  return ::lseek(descriptor(file), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool write_fully(FileHandle file, const void* bytes, std::size_t size) {
  const char* next = static_cast<const char*>(bytes);
  while (size > 0) {
    const ssize_t written = ::write(descriptor(file), next, size);
    if (written <= 0) return false;
    next += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

void close_file(FileHandle file) {
  ::close(descriptor(file));
}

std::optional<FileVersion> regular_file_version(FileHandle file) {
  struct stat status {};
  if (::fstat(descriptor(file), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  return FileVersion{
      static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
      static_cast<std::int64_t>(status.st_size), static_cast<std::int64_t>(status.st_mtim.tv_sec),
      static_cast<std::int64_t>(status.st_mtim.tv_nsec)};
}

}  // namespace tarvel::platform
