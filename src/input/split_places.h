// Where the pieces of a shared reading of a large input start: line starts
// found by reading the file at explicit offsets, on handles of the pieces'
// own, so the file's position is left to be set again.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "input/split_point.h"

namespace tarvel {

// A file handle of a piece's own for the file `name`, and its version, when
// the file that `main` reads is a regular file of at least `min_size` bytes
// and the name still leads to that same file; kNoFile otherwise.
platform::FileHandle open_for_helper(std::string_view name, platform::FileHandle main,
                                     std::uint64_t min_size, FileVersion& version);

// The first line start after byte `from` of the file open as `file`, at
// least one byte before its end: the offset just after the first LF at or
// after `from`.
std::optional<std::uint64_t> find_line_start_after(platform::FileHandle file, std::uint64_t from);

// The LFs among bytes [from, to) of `file`; none when a Ctrl-Z ends the data
// among them or they cannot all be read.
std::optional<std::uint64_t> count_line_feeds_between(platform::FileHandle file, std::uint64_t from,
                                                      std::uint64_t to);

// The first line start after byte `from`, as above, with its sample number;
// none also when a Ctrl-Z ends the data before it.
std::optional<SplitPoint> find_split_point(platform::FileHandle file, std::uint64_t from);

}  // namespace tarvel
