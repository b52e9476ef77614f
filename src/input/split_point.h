// The places where the pieces of a shared reading of a large input start, and
// the version of the file they were found in.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/files.h"

namespace tarvel {

// A line start: just after an LF, with a byte after it.
struct SplitPoint {
  std::uint64_t raw_offset = 0;   // its place in the file
  std::int64_t first_sample = 0;  // one more than the line ends before it
};

using platform::FileVersion;

// The starts of the pieces after the first that the first pass found and
// counted up to, for the second pass to take again while the file is still at
// that version.
struct KnownSplit {
  std::vector<SplitPoint> places;
  FileVersion version;
};

}  // namespace tarvel
