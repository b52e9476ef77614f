// The place where a helper thread takes over part of the reading of a large
// input, and the version of the file it was found in.
#pragma once

#include <cstdint>

#include "platform/files.h"

namespace tarvel {

// A line start after the middle of the file.
struct SplitPoint {
  std::int64_t first_sample = 0;       // one more than the line ends before it
  std::uint64_t delivered_offset = 0;  // its place in the delivered stream
  std::uint64_t raw_offset = 0;        // and in the file
};

using platform::FileVersion;

// A place the first pass found and used, for the second pass to take again
// while the file is still at that version.
struct KnownSplit {
  SplitPoint place;
  FileVersion version;
};

}  // namespace tarvel
