// The place where a helper thread takes over part of the reading of a large
// input, and the version of the file it was found in.
#pragma once

#include <sys/stat.h>

#include <cstdint>

namespace tarvel {

// A line start after the middle of the file.
struct SplitPoint {
  std::int64_t first_sample = 0;       // one more than the line ends before it
  std::uint64_t delivered_offset = 0;  // its place in the delivered stream
  std::uint64_t raw_offset = 0;        // and in the file
};

// What tells one state of a file from another: any write changes the
// modification time.
struct FileVersion {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modified_seconds = 0;
  std::int64_t modified_nanoseconds = 0;

  bool operator==(const FileVersion&) const = default;
};

inline FileVersion version_of(const struct stat& status) {
  return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
          static_cast<std::int64_t>(status.st_size),
          static_cast<std::int64_t>(status.st_mtim.tv_sec),
          static_cast<std::int64_t>(status.st_mtim.tv_nsec)};
}

// A place the first pass found and used, for the second pass to take again
// while the file is still at that version.
struct KnownSplit {
  SplitPoint place;
  FileVersion version;
};

}  // namespace tarvel
