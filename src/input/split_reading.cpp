#include "input/split_reading.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "input/input_file.h"
#include "input/sample_rows.h"
#include "platform/waiting.h"
#include "runtime/simd.h"

namespace tarvel {
namespace {

constexpr std::size_t kScanChunk = std::size_t{256} * 1024;

// The raw bytes' line ends: every LF, and the CR LF pairs whose CR the text
// mode drops.
struct LineEndCounts {
  std::uint64_t line_feeds = 0;
  std::uint64_t pairs = 0;
  bool end_mark = false;     // a Ctrl-Z was met
  bool previous_cr = false;  // the last byte counted was a CR
};

// The byte counters of the vector loop below add at most one per block, so
// they are emptied into the totals before they can wrap.
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

// One byte's share of the counts; false at a Ctrl-Z.
bool count_byte(unsigned char byte, LineEndCounts& counts) {
  if (byte == kEndOfDataMark) {
    counts.end_mark = true;
    return false;
  }
  if (byte == kLineFeed) {
    ++counts.line_feeds;
    if (counts.previous_cr) ++counts.pairs;
  }
  counts.previous_cr = byte == kCarriageReturn;
  return true;
}

void count_line_ends(const unsigned char* bytes, std::size_t size, LineEndCounts& counts) {
  if (size == 0) return;
  // The first byte alone, so that every byte the vectors take has the one
  // before it in the buffer: a pair is an LF whose byte before is a CR.
  if (!count_byte(bytes[0], counts)) return;
  const Bytes line_feed = simd::splat<Bytes>(kLineFeed);
  const Bytes carriage_return = simd::splat<Bytes>(kCarriageReturn);
  const Bytes end_mark = simd::splat<Bytes>(kEndOfDataMark);
  std::size_t i = 1;
  while (size - i >= 16) {
    const std::size_t blocks = std::min(kBlocksPerRound, (size - i) / 16);
    Bytes line_feeds{};
    Bytes pairs{};
    Bytes marks{};
    for (std::size_t b = 0; b < blocks; ++b, i += 16) {
      const Bytes v = simd::load<Bytes>(bytes + i);
      const auto lfs = simd::bits_as<Bytes>(v == line_feed);
      const auto cr_before =
          simd::bits_as<Bytes>(simd::load<Bytes>(bytes + i - 1) == carriage_return);
      // A flag is 0xFF, minus one: subtracting it adds one.
      line_feeds -= lfs;
      pairs -= cr_before & lfs;
      marks |= simd::bits_as<Bytes>(v == end_mark);
    }
    if (simd::any(marks)) {
      counts.end_mark = true;
      return;
    }
    counts.line_feeds += sum_of_bytes(line_feeds);
    counts.pairs += sum_of_bytes(pairs);
  }
  counts.previous_cr = bytes[i - 1] == kCarriageReturn;
  for (; i < size; ++i) {
    if (!count_byte(bytes[i], counts)) return;
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

std::optional<SplitPoint> find_split_point(platform::FileHandle file, std::uint64_t from) {
  const std::optional<std::uint64_t> place = find_line_start_after(file, from);
  if (!place) return std::nullopt;
  const std::uint64_t line_start = *place;
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kScanChunk]);
  if (buffer == nullptr) return std::nullopt;
  LineEndCounts counts;
  for (std::uint64_t offset = 0; offset < line_start;) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kScanChunk, line_start - offset));
    const std::size_t got = platform::read_at(file, buffer.get(), want, offset);
    if (got != want) return std::nullopt;
    count_line_ends(buffer.get(), got, counts);
    if (counts.end_mark) return std::nullopt;
    offset += got;
  }
  SplitPoint split;
  split.first_sample = static_cast<std::int64_t>(counts.line_feeds) + 1;
  split.delivered_offset = line_start - counts.pairs;
  split.raw_offset = line_start;
  return split;
}

void SecondHalfReader::start(std::string_view name, platform::FileHandle main,
                             const SplitOptions& options, std::int64_t sample_count,
                             std::int64_t channel_count, SampleTable& table,
                             const std::optional<KnownSplit>& known, const std::stop_token& stop) {
  if (sample_count < 2 || pass_workers(options) < 2) return;
  FileVersion version;
  const platform::FileHandle file = open_for_helper(name, main, options.min_size, version);
  if (file == platform::kNoFile) return;
  const auto file_size = static_cast<std::uint64_t>(version.size);
  std::optional<SplitPoint> known_place;
  if (known && known->version == version) known_place = known->place;
  if (!thread_.start(
          [this, file, known_place, file_size, sample_count, channel_count, &table, stop] {
            run(file, known_place, file_size, sample_count, channel_count, table, stop);
          })) {
    platform::close_file(file);
    return;
  }
  if (options.wait_for_place)
    while (!place_sought_.load(std::memory_order_acquire))
      platform::wait_while_equal(place_sought_, false);
}

void SecondHalfReader::run(platform::FileHandle handle,
                           const std::optional<SplitPoint>& known_place, std::uint64_t file_size,
                           std::int64_t sample_count, std::int64_t channel_count,
                           SampleTable& table, const std::stop_token& stop) {
  // Whatever comes of it, the search for the place is over when this block
  // is left.
  struct PlaceSought {
    std::atomic<bool>& flag;
    ~PlaceSought() {
      flag.store(true, std::memory_order_release);
      platform::wake_all(flag);
    }
  };
  InputFile file;
  {
    PlaceSought sought{place_sought_};
    const std::optional<SplitPoint> split =
        known_place ? known_place : find_split_point(handle, file_size / 2);
    if (!split || split->first_sample > sample_count ||
        !platform::seek_to(handle, split->raw_offset)) {
      platform::close_file(handle);
      return;
    }
    if (open_detached_input(file, handle) != kNoError) return;
    file.stop = stop;
    start_offset_ = split->delivered_offset;
    // Claim the place, then make sure the main thread has not set out to
    // read it already; a claim it may have seen is withdrawn by giving up,
    // which finish reports.
    first_sample_.store(split->first_sample, std::memory_order_seq_cst);
    if (main_reach_.load(std::memory_order_seq_cst) >= split->first_sample) {
      first_sample_.store(0, std::memory_order_relaxed);
      close_file(file);
      return;
    }
  }

  NumericReader reader;
  begin_numeric_read(reader, file);
  std::int64_t samples = first_sample_.load(std::memory_order_relaxed) - 1;
  while (samples < sample_count && !detail::sample_data_ended(file)) {
    if (stop_.load(std::memory_order_relaxed)) {
      close_file(file);
      return;
    }
    ++samples;
    detail::read_sample_row(reader, samples, channel_count, table);
  }
  close_file(file);
  last_sample_ = samples;
}

std::int64_t SecondHalfReader::look(std::int64_t reach) {
  main_reach_.store(reach, std::memory_order_seq_cst);
  return first_sample_.load(std::memory_order_seq_cst);
}

std::int64_t SecondHalfReader::finish() {
  thread_.join();
  first_sample_.store(0, std::memory_order_relaxed);
  return last_sample_;
}

void SecondHalfReader::cancel() {
  stop_.store(true, std::memory_order_relaxed);
  thread_.join();
  const std::int64_t first = first_sample_.exchange(0, std::memory_order_relaxed);
  if (first != 0) first_row_written_ = first;
  last_sample_ = -1;
}

}  // namespace tarvel
