#include "input/line_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "runtime/simd.h"

namespace tarvel {
namespace {

enum class PieceEnd { kNothingRead, kLineEnds, kLineGoesOn };

constexpr std::uint64_t kNoStop = ~std::uint64_t{0};

// Takes one piece: bytes up to and including the first LF, at most
// kLinePieceSize of them, fewer when the data ends. The piece may span a
// refill, so its last nonzero byte is tracked segment by segment. When `text`
// is given, the piece's share of the line is appended to it.
//
// A piece costs one memchr for the LF, and the backward look for its last
// nonzero byte stops at once on the LF that ends an ordinary line. No CR needs
// to be searched for: a CR can end a line only as the last nonzero byte of a
// piece without an LF.
PieceEnd take_piece(InputFile& file, std::string* text) {
  std::size_t room = kLinePieceSize;
  bool read_any = false;
  unsigned char last_nonzero = 0;
  const std::size_t piece_start = text != nullptr ? text->size() : 0;
  // The text length through the piece's last nonzero byte so far.
  std::size_t through_last_nonzero = piece_start;
  while (room > 0) {
    if (file.next == file.end && !refill(file)) break;
    const unsigned char* from = file.next;
    const std::size_t available = std::min(room, static_cast<std::size_t>(file.end - from));
    const void* line_feed = std::memchr(from, kLineFeed, available);
    const std::size_t taken =
        line_feed != nullptr
            ? static_cast<std::size_t>(static_cast<const unsigned char*>(line_feed) - from) + 1
            : available;
    const unsigned char* after_nonzero = from + taken;
    while (after_nonzero != from && after_nonzero[-1] == 0) --after_nonzero;
    if (text != nullptr) text->append(reinterpret_cast<const char*>(from), taken);
    if (after_nonzero != from) {
      last_nonzero = after_nonzero[-1];
      if (text != nullptr) {
        through_last_nonzero =
            text->size() - taken + static_cast<std::size_t>(after_nonzero - from);
      }
    }
    file.next += taken;
    room -= taken;
    read_any = true;
    if (line_feed != nullptr) break;
  }
  if (!read_any) return PieceEnd::kNothingRead;

  if (last_nonzero == kLineFeed) {
    if (text != nullptr) {
      std::size_t size = through_last_nonzero - 1;
      // The CR of a CR CR LF: text mode made it CR LF, and the line drops it.
      if (size > piece_start && static_cast<unsigned char>((*text)[size - 1]) == kCarriageReturn) {
        --size;
      }
      text->resize(size);
    }
    return PieceEnd::kLineEnds;
  }
  if (last_nonzero == kCarriageReturn) {
    if (text != nullptr) text->resize(through_last_nonzero - 1);
    return PieceEnd::kLineEnds;
  }
  // NUL bytes after the last nonzero byte are not part of the line.
  if (text != nullptr) text->resize(through_last_nonzero);
  return PieceEnd::kLineGoesOn;
}

}  // namespace

void read_line(InputFile& file, std::string& line) {
  line.clear();
  while (take_piece(file, &line) == PieceEnd::kLineGoesOn) {
  }
}

void skip_line(InputFile& file) {
  while (take_piece(file, nullptr) == PieceEnd::kLineGoesOn) {
  }
}

namespace {

using Bytes = simd::Vec<std::uint8_t, 16>;

// The LFs among the 16 bytes at `block`, one bit each.
std::uint32_t line_feed_mask16(const unsigned char* block) {
  return simd::byte_mask(
      simd::bits_as<Bytes>(simd::load<Bytes>(block) == simd::splat<Bytes>(kLineFeed)));
}

// The LFs among the 64 bytes at `block`, one bit each.
std::uint64_t line_feed_mask(const unsigned char* block) {
  std::uint64_t mask = 0;
  for (int part = 0; part < 4; ++part) {
    mask |= static_cast<std::uint64_t>(line_feed_mask16(block + 16 * part)) << (16 * part);
  }
  return mask;
}

// Counts the ordinary lines from `next` on: a line counts when its LF lies
// within its first kLinePieceSize bytes. Stops at the start of the first line
// that is not ordinary or that reaches into the last sixteen bytes before
// `end`, and returns that start.
//
// The LFs are found from masks, 64 bytes at a time: all LFs of a block but
// the first end lines shorter than the block, so only the first need be
// checked against the piece size, and a block counts its LFs at once.
const unsigned char* count_ordinary_lines(const unsigned char* next, const unsigned char* end,
                                          std::int64_t& count) {
  static_assert(kLinePieceSize > 64);
  const unsigned char* line_start = next;
  const unsigned char* block = next;
  for (; end - block >= 64; block += 64) {
    const std::uint64_t mask = line_feed_mask(block);
    if (mask == 0) {
      if (static_cast<std::size_t>(block + 64 - line_start) > kLinePieceSize) return line_start;
      continue;
    }
    if (static_cast<std::size_t>(block + std::countr_zero(mask) - line_start) >= kLinePieceSize) {
      return line_start;
    }
    count += std::popcount(mask);
    line_start = block + 64 - std::countl_zero(mask);
  }
  for (; end - block >= 16; block += 16) {
    std::uint32_t mask = line_feed_mask16(block);
    while (mask != 0) {
      const unsigned char* lf = block + std::countr_zero(mask);
      if (static_cast<std::size_t>(lf - line_start) >= kLinePieceSize) return line_start;
      ++count;
      line_start = lf + 1;
      mask &= mask - 1;
    }
    if (static_cast<std::size_t>(block + 16 - line_start) > kLinePieceSize) return line_start;
  }
  return line_start;
}

}  // namespace

std::int64_t count_remaining_lines(InputFile& file, const std::atomic<std::uint64_t>* stop) {
  std::int64_t count = 0;
  for (;;) {
    // Here the window starts at a line start.
    const std::uint64_t stop_offset = std::min(
        stop != nullptr ? stop->load(std::memory_order_acquire) : kNoStop, file.marked_offset);
    const std::uint64_t offset = delivered_offset(file);
    if (offset >= stop_offset) return count;
    if (file.next == file.end) {
      if (!refill(file)) return count;
      continue;
    }
    // The lines are counted up to the window end, or up to the stop offset
    // when it falls inside the window; a line that runs past that end is
    // skipped whole below.
    const unsigned char* end = file.end;
    if (stop_offset - offset < static_cast<std::uint64_t>(end - file.next)) {
      end = file.next + (stop_offset - offset);
    }
    // A line whose LF lies within its first kLinePieceSize bytes ends there,
    // whatever CR and NUL bytes it holds: that LF ends its first piece and is
    // the piece's last nonzero byte. Such lines, the ordinary ones, are
    // counted a block at a time; the rest of the window goes one memchr per
    // line.
    const unsigned char* next = count_ordinary_lines(file.next, end, count);
    while (next != end) {
      const std::size_t window = std::min(kLinePieceSize, static_cast<std::size_t>(end - next));
      const void* line_feed = std::memchr(next, kLineFeed, window);
      if (line_feed == nullptr) break;
      next = static_cast<const unsigned char*>(line_feed) + 1;
      ++count;
    }
    file.next = next;
    if (next == end) continue;
    // A longer line, or one that runs past the end: piece by piece.
    skip_line(file);
    ++count;
  }
}

}  // namespace tarvel
