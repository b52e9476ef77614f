#include "input/split_places.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "input/input_file.h"
#include "runtime/simd.h"

namespace tarvel {
namespace {

constexpr std::size_t kScanChunk = std::size_t{256} * 1024;

// The raw bytes' line ends before a place: its sample number is one more.
struct LineFeedCount {
  std::uint64_t line_feeds = 0;
  bool end_mark = false;  // a Ctrl-Z was met: the data ends before the place
};

// The byte counters of the vector loop below add at most one per block, so
// they are emptied into the total before they can wrap.
constexpr std::size_t kBlocksPerRound = 255;

using Bytes = simd::Vec<std::uint8_t, 16>;

std::uint64_t sum_of_bytes(Bytes counters) {
  using Words = simd::Vec<std::uint64_t, 2>;
  constexpr std::uint64_t kEvenBytes = 0x00FF00FF00FF00FF;
  const auto words = simd::bits_as<Words>(counters);
  // Byte pairs into 16-bit sums (at most 510), then the four of a word into
  // its top 16 bits by one multiplication.
  const Words pairs = (words & kEvenBytes) + ((words >> 8) & kEvenBytes);
  const Words sums = (pairs * 0x0001000100010001) >> 48;
  return sums[0] + sums[1];
}

void count_line_feeds(const unsigned char* bytes, std::size_t size, LineFeedCount& count) {
  const Bytes line_feed = simd::splat<Bytes>(kLineFeed);
  const Bytes end_mark = simd::splat<Bytes>(kEndOfDataMark);
  std::size_t i = 0;
  while (size - i >= 16) {
    const std::size_t blocks = std::min(kBlocksPerRound, (size - i) / 16);
    Bytes line_feeds{};
    Bytes marks{};
    for (std::size_t b = 0; b < blocks; ++b, i += 16) {
      const Bytes v = simd::load<Bytes>(bytes + i);
      // A flag is 0xFF, minus one: subtracting it adds one.
      line_feeds -= simd::bits_as<Bytes>(v == line_feed);
      marks |= simd::bits_as<Bytes>(v == end_mark);
    }
    if (simd::any(marks)) {
      count.end_mark = true;
      return;
    }
    count.line_feeds += sum_of_bytes(line_feeds);
  }
  for (; i < size; ++i) {
    if (bytes[i] == kEndOfDataMark) {
      count.end_mark = true;
      return;
    }
    if (bytes[i] == kLineFeed) ++count.line_feeds;
  }
}

}  // namespace

platform::FileHandle open_for_helper(std::string_view name, platform::FileHandle main,
                                     std::uint64_t min_size, FileVersion& version) {
  const std::optional<FileVersion> main_version = platform::regular_file_version(main);
  if (!main_version || static_cast<std::uint64_t>(main_version->size) < min_size) {
    return platform::kNoFile;
  }
  const platform::FileHandle file = platform::open_for_reading(name);
  if (file == platform::kNoFile) return platform::kNoFile;
  const std::optional<FileVersion> helper_version = platform::regular_file_version(file);
  if (!helper_version || !platform::same_file(*helper_version, *main_version)) {
    platform::close_file(file);
    return platform::kNoFile;
  }
  version = *helper_version;
  return file;
}

std::optional<std::uint64_t> find_line_start_after(platform::FileHandle file, std::uint64_t from) {
  // Runs on a helper thread, where nothing may throw: no buffer, no place.
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kScanChunk]);
  if (buffer == nullptr) return std::nullopt;
  std::uint64_t line_start = 0;
  for (std::uint64_t offset = from; line_start == 0;) {
    const std::size_t got = platform::read_at(file, buffer.get(), kScanChunk, offset);
    if (got == 0) return std::nullopt;
    if (const void* lf = std::memchr(buffer.get(), kLineFeed, got)) {
      line_start =
          offset +
          static_cast<std::uint64_t>(static_cast<const unsigned char*>(lf) - buffer.get()) + 1;
    }
    offset += got;
  }
  unsigned char after = 0;
  if (platform::read_at(file, &after, 1, line_start) != 1) return std::nullopt;
  return line_start;
}

std::optional<std::uint64_t> count_line_feeds_between(platform::FileHandle file, std::uint64_t from,
                                                      std::uint64_t to) {
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kScanChunk]);
  if (buffer == nullptr) return std::nullopt;
  LineFeedCount count;
  for (std::uint64_t offset = from; offset < to;) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kScanChunk, to - offset));
    const std::size_t got = platform::read_at(file, buffer.get(), want, offset);
    if (got != want) return std::nullopt;
    count_line_feeds(buffer.get(), got, count);
    if (count.end_mark) return std::nullopt;
    offset += got;
  }
  return count.line_feeds;
}

std::optional<SplitPoint> find_split_point(platform::FileHandle file, std::uint64_t from) {
  const std::optional<std::uint64_t> place = find_line_start_after(file, from);
  if (!place) return std::nullopt;
  const std::optional<std::uint64_t> line_feeds = count_line_feeds_between(file, 0, *place);
  if (!line_feeds) return std::nullopt;
  return SplitPoint{*place, static_cast<std::int64_t>(*line_feeds) + 1};
}

}  // namespace tarvel
