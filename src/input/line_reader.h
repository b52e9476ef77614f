// Whole-line reading. A line is assembled from pieces of at most 511 bytes;
// within a piece an LF ends the line, and otherwise only the last nonzero byte
// of the piece decides: a CR there ends the line, anything else (or a piece of
// NUL bytes only) lets it go on. So a lone CR inside a line is text, and NUL
// bytes at the end of a piece are dropped.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "input/input_file.h"

namespace tarvel {

// The most bytes one piece of a line takes from the stream.
inline constexpr std::size_t kLinePieceSize = 511;

// Replaces `line` with the next line of `file`, without its terminator (an LF
// with one CR of its piece directly before it, or a CR that is the last
// nonzero byte of its piece). Gives the empty string at the end of the data.
// Never fails; allocates only when `line` must grow.
void read_line(InputFile& file, std::string& line);

// Consumes exactly the bytes that read_line would consume, keeping none of
// them. Never fails; never allocates.
void skip_line(InputFile& file);

// Skips every line left in `file` and returns how many there were: the
// number of skip_line calls made while at_end_of_file is false. Returns
// early at the first line start whose delivered offset is at least the
// file's marked offset, or the one `stop` holds, which another thread may
// lower at any time (it is read again at least once per buffer of input).
// Never fails; never allocates.
std::int64_t count_remaining_lines(InputFile& file,
                                   const std::atomic<std::uint64_t>* stop = nullptr);

}  // namespace tarvel
