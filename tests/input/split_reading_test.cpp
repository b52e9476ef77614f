#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "input/input_test_files.h"
#include "input/split_places.h"
#include "input/two_pass_reader.h"
#include "runtime/open_files.h"
#include "support/temp_folder.h"

namespace tarvel::testing {
namespace {

std::optional<SplitPoint> split_of(const std::string& raw, std::uint64_t from) {
  const SampleFile data(raw);
  const platform::FileHandle file = platform::open_for_reading(data.path());
  EXPECT_NE(file, platform::kNoFile);
  std::optional<SplitPoint> split = find_split_point(file, from);
  platform::close_file(file);
  return split;
}

TEST(FindSplitPoint, LineStartAfterTheOffsetWithItsSampleNumber) {
  struct Row {
    std::string raw;
    std::uint64_t from;
    bool found;
    std::int64_t first_sample;
    std::uint64_t raw_offset;
  };
  const std::string long_line(40, 'x');
  const Row rows[] = {
      {"a\nb\nc\n", 0, true, 2, 2},
      {"a\nb\nc\n", 1, true, 2, 2},
      {"a\nb\nc\n", 2, true, 3, 4},
      // The last line end has nothing after it.
      {"a\nb\nc\n", 4, false, 0, 0},
      {"a\nbc", 3, false, 0, 0},
      // CR LF pairs and lone CRs: only the LFs number the samples.
      {"a\r\nb\r\nc\r\n", 3, true, 3, 6},
      {"a\rb\r\nc\n", 2, true, 2, 5},
      {"\r\r\n\r\nx", 2, true, 2, 3},
      {"\r\r\n\r\nx", 3, true, 3, 5},
      // Pairs and line ends past a 16-byte block and across its boundary.
      {long_line.substr(0, 15) + "\r\n" + long_line + "\r\n" + "tail", 18, true, 3, 59},
      // A Ctrl-Z before the line start ends the data there; one after it is
      // the piece's own to meet.
      {"a\n\x1a\nb\nc", 3, false, 0, 0},
      {"a\nb\n\x1a", 1, true, 2, 2},
  };
  for (const Row& row : rows) {
    const std::optional<SplitPoint> split = split_of(row.raw, row.from);
    ASSERT_EQ(split.has_value(), row.found) << visible(row.raw) << " from " << row.from;
    if (!split) continue;
    EXPECT_EQ(split->first_sample, row.first_sample) << visible(row.raw);
    EXPECT_EQ(split->raw_offset, row.raw_offset) << visible(row.raw);
  }
}

// Over several read chunks and many vector rounds, against a byte-by-byte
// count of the same line ends.
TEST(FindSplitPoint, CountsLikeTheByteByByteRulesOnLargeFiles) {
  std::mt19937_64 random(99);
  for (int round = 0; round < 6; ++round) {
    std::string raw(700000 + random() % 5000, 'a');
    // Line ends, CRs and pairs everywhere, rarer in some files than others.
    const std::uint64_t density = 4 + random() % 200;
    for (char& byte : raw) {
      const std::uint64_t roll = random() % density;
      byte = roll == 0 ? '\n' : roll == 1 ? '\r' : 'a';
    }
    const std::uint64_t from = random() % raw.size();
    std::size_t line_start = raw.find('\n', from);
    if (line_start == std::string::npos || line_start + 1 == raw.size()) continue;
    ++line_start;
    const auto line_feeds =
        std::count(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(line_start), '\n');
    const std::optional<SplitPoint> split = split_of(raw, from);
    ASSERT_TRUE(split.has_value());
    EXPECT_EQ(split->first_sample, line_feeds + 1);
    EXPECT_EQ(split->raw_offset, line_start);
    // A Ctrl-Z before the place, anywhere, leaves no place.
    raw[random() % line_start] = '\x1a';
    EXPECT_FALSE(split_of(raw, from).has_value());
  }
}

struct Samples {
  std::int64_t read = 0;
  std::vector<std::uint64_t> bits;  // t, then xr and xi of every channel, per sample
};

Samples read_with(const std::string& path, std::int64_t sample_count, std::int64_t channel_count,
                  const SplitOptions& split,
                  const std::optional<KnownSplit>& known = std::nullopt) {
  SampleTable table;
  EXPECT_EQ(allocate_sample_table(table, sample_count, channel_count), kNoError);
  Samples samples;
  samples.read = read_samples(path, sample_count, channel_count, table, split, known);
  EXPECT_FALSE(is_file_open(kInputFileNumber));
  for (std::int64_t n = 1; n <= sample_count; ++n) {
    double t = table.t(n);
    std::uint64_t bits = 0;
    std::memcpy(&bits, &t, sizeof bits);
    samples.bits.push_back(bits);
    for (std::int64_t k = 1; k <= channel_count; ++k) {
      std::uint32_t re = 0;
      std::uint32_t im = 0;
      std::memcpy(&re, &table.xr(n, k), sizeof re);
      std::memcpy(&im, &table.xi(n, k), sizeof im);
      samples.bits.push_back(re);
      samples.bits.push_back(im);
    }
  }
  return samples;
}

// Pieces fall on missing and extra fields, lone CRs, long lines, NULs and
// Ctrl-Z; whatever the count of threads, and whether the places come from the
// first pass or are looked for again, the samples are the ones of a single
// reading from the start.
TEST(SplitReading, SameSamplesAsOneReadingFromTheStart) {
  int regular_files = 0;
  const int known_places =
      count_round_files(20261207, [&](const CountedFile& counted, std::mt19937_64& random) {
        const std::string path = counted.file.path();
        const int channels = counted.round.channels;
        // S as counted, and sometimes more or fewer, as when the file changes.
        const std::int64_t sample_count = std::max<std::int64_t>(
            1, counted.alone.line_count + static_cast<std::int64_t>(random() % 5) - 2);
        const Samples alone = read_with(path, sample_count, channels, kNeverSplit);
        for (const auto& [workers, shared_pass] : counted.shared) {
          const Samples shared = read_with(path, sample_count, channels, split_among(workers));
          ASSERT_EQ(shared.read, alone.read) << workers << " threads";
          ASSERT_EQ(shared.bits, alone.bits) << workers << " threads";
          const Samples known =
              read_with(path, sample_count, channels, split_among(workers), shared_pass.split);
          ASSERT_EQ(known.read, alone.read) << workers << " threads, known places";
          ASSERT_EQ(known.bits, alone.bits) << workers << " threads, known places";
        }
        if (counted.round.regular) ++regular_files;
      });
  EXPECT_GT(regular_files, 25);
  EXPECT_GT(known_places, 100);
}

// Places that are wrong for the file (a sample number off by one, a place
// inside a line, a version of the file that is gone) give their pieces up
// and leave no row of theirs behind; and on a regular file the places of
// the first pass are taken.
TEST(SplitReading, WrongPlacesGiveTheSameSamples) {
  std::mt19937_64 random(7);
  const SampleFile file(random_sample_file(random, 3, 2000, 0));
  const std::string path = file.path();
  const Samples alone = read_with(path, 2000, 3, kNeverSplit);
  const FirstPass pass = count_lines(path, split_among(4));
  ASSERT_TRUE(pass.split.has_value());
  ASSERT_EQ(pass.split->places.size(), 3u);
  ASSERT_EQ(read_with(path, 2000, 3, split_among(4), pass.split).bits, alone.bits);
  for (int wrong = 0; wrong < 4; ++wrong) {
    KnownSplit known = *pass.split;
    SplitPoint& place = known.places[static_cast<std::size_t>(wrong % 3)];
    if (wrong == 0) ++place.first_sample;
    if (wrong == 1) --place.first_sample;
    if (wrong == 2) place.raw_offset += 3;
    if (wrong == 3) ++known.version.modified_nanoseconds;
    const Samples shared = read_with(path, 2000, 3, split_among(4), known);
    EXPECT_EQ(shared.read, alone.read) << "wrong place " << wrong;
    EXPECT_EQ(shared.bits, alone.bits) << "wrong place " << wrong;
    // Fewer samples than the file holds: the rows past them stay zero.
    const Samples fewer = read_with(path, 1990, 3, split_among(4), known);
    EXPECT_EQ(fewer.read, 1990);
    EXPECT_TRUE(std::equal(fewer.bits.begin(), fewer.bits.end(), alone.bits.begin()));
  }
}

}  // namespace
}  // namespace tarvel::testing
