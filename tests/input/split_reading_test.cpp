#include "input/split_reading.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "input/input_test_files.h"
#include "input/two_pass_reader.h"
#include "runtime/open_files.h"
#include "support/temp_folder.h"

namespace tarvel {
namespace {

using testing::kAlwaysSplit;
using testing::kNeverSplit;
using testing::kSmallChunks;
using testing::random_round_file;
using testing::random_sample_file;
using testing::TempFolder;
using testing::visible;

std::optional<SplitPoint> split_of(const std::string& raw, std::uint64_t from) {
  TempFolder folder;
  folder.write("data.txt", raw);
  const platform::FileHandle file = platform::open_for_reading(folder.file("data.txt"));
  EXPECT_NE(file, platform::kNoFile);
  std::optional<SplitPoint> split = find_split_point(file, from);
  platform::close_file(file);
  return split;
}

TEST(FindSplitPoint, LineStartAfterTheOffsetWithItsSampleAndDeliveredPlace) {
  struct Row {
    std::string raw;
    std::uint64_t from;
    bool found;
    std::int64_t first_sample;
    std::uint64_t delivered_offset;
    std::uint64_t raw_offset;
  };
  const std::string long_line(40, 'x');
  const Row rows[] = {
      {"a\nb\nc\n", 0, true, 2, 2, 2},
      {"a\nb\nc\n", 1, true, 2, 2, 2},
      {"a\nb\nc\n", 2, true, 3, 4, 4},
      // The last line end has nothing after it.
      {"a\nb\nc\n", 4, false, 0, 0, 0},
      {"a\nbc", 3, false, 0, 0, 0},
      // CR LF pairs lose their CR in the delivered stream; a lone CR stays.
      {"a\r\nb\r\nc\r\n", 3, true, 3, 4, 6},
      {"a\rb\r\nc\n", 2, true, 2, 4, 5},
      {"\r\r\n\r\nx", 2, true, 2, 2, 3},
      {"\r\r\n\r\nx", 3, true, 3, 3, 5},
      // Pairs and line ends past a 16-byte block and across its boundary.
      {long_line.substr(0, 15) + "\r\n" + long_line + "\r\n" + "tail", 18, true, 3, 57, 59},
      // A Ctrl-Z before the line start ends the data there; one after it is
      // the helper's own to meet.
      {"a\n\x1a\nb\nc", 3, false, 0, 0, 0},
      {"a\nb\n\x1a", 1, true, 2, 2, 2},
  };
  for (const Row& row : rows) {
    const std::optional<SplitPoint> split = split_of(row.raw, row.from);
    ASSERT_EQ(split.has_value(), row.found) << visible(row.raw) << " from " << row.from;
    if (!split) continue;
    EXPECT_EQ(split->first_sample, row.first_sample) << visible(row.raw);
    EXPECT_EQ(split->delivered_offset, row.delivered_offset) << visible(row.raw);
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
    std::int64_t line_feeds = 0;
    std::uint64_t pairs = 0;
    std::size_t line_start = raw.find('\n', from);
    if (line_start == std::string::npos || line_start + 1 == raw.size()) continue;
    ++line_start;
    for (std::size_t i = 0; i < line_start; ++i) {
      if (raw[i] != '\n') continue;
      ++line_feeds;
      if (i > 0 && raw[i - 1] == '\r') ++pairs;
    }
    const std::optional<SplitPoint> split = split_of(raw, from);
    ASSERT_TRUE(split.has_value());
    EXPECT_EQ(split->first_sample, line_feeds + 1);
    EXPECT_EQ(split->delivered_offset, line_start - pairs);
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

TEST(SplitReading, SameSamplesAsOneReadingFromTheStart) {
  std::mt19937_64 random(20261207);
  int regular_files = 0;
  int known_places = 0;
  for (int round = 0; round < 400; ++round) {
    const auto [channels, raw, regular] = random_round_file(random, round);
    TempFolder folder;
    folder.write("data.txt", raw);
    const std::string path = folder.file("data.txt");
    const FirstPass pass = count_lines(path);
    // S as counted, and sometimes more or fewer, as when the file changes.
    const std::int64_t sample_count =
        std::max<std::int64_t>(1, pass.line_count + static_cast<std::int64_t>(random() % 5) - 2);
    const Samples alone = read_with(path, sample_count, channels, kNeverSplit);
    const Samples shared = read_with(path, sample_count, channels, kAlwaysSplit);
    ASSERT_EQ(shared.read, alone.read) << visible(raw);
    ASSERT_EQ(shared.bits, alone.bits) << visible(raw);
    // Starting at the place the first pass found, when it shared its count.
    const FirstPass shared_pass = count_lines(path, kSmallChunks);
    if (shared_pass.split) ++known_places;
    const Samples known = read_with(path, sample_count, channels, kAlwaysSplit, shared_pass.split);
    ASSERT_EQ(known.read, alone.read) << visible(raw);
    ASSERT_EQ(known.bits, alone.bits) << visible(raw);
    if (regular) ++regular_files;
  }
  EXPECT_GT(regular_files, 100);
  EXPECT_GT(known_places, 100);
}

// On a regular file the helper does read the second half, and its rows are
// the ones a reading from the start gives.
TEST(SplitReading, HelperReadsTheSecondHalfOfARegularFile) {
  std::mt19937_64 random(7);
  for (const int channels : {1, 3}) {
    const std::string raw = random_sample_file(random, channels, 2000, 0);
    TempFolder folder;
    folder.write("data.txt", raw);
    const std::string path = folder.file("data.txt");
    const Samples alone = read_with(path, 2000, channels, kNeverSplit);

    SampleTable table;
    ASSERT_EQ(allocate_sample_table(table, 2000, channels), kNoError);
    const platform::FileHandle main_fd = platform::open_for_reading(path);
    ASSERT_NE(main_fd, platform::kNoFile);
    SecondHalfReader helper;
    helper.start(path, main_fd, kAlwaysSplit, 2000, channels, table);
    const std::int64_t last = helper.finish();
    platform::close_file(main_fd);
    EXPECT_EQ(last, 2000);
    const std::optional<SplitPoint> split = split_of(raw, raw.size() / 2);
    ASSERT_TRUE(split.has_value());
    EXPECT_GT(split->first_sample, 900);
    EXPECT_LT(split->first_sample, 1100);
    const std::size_t per_sample = 1 + 2 * static_cast<std::size_t>(channels);
    for (std::int64_t n = split->first_sample; n <= 2000; ++n) {
      const std::size_t at = static_cast<std::size_t>(n - 1) * per_sample;
      double t = table.t(n);
      std::uint64_t bits = 0;
      std::memcpy(&bits, &t, sizeof bits);
      ASSERT_EQ(bits, alone.bits[at]) << "sample " << n;
      ASSERT_EQ(table.xr(n, channels),
                std::bit_cast<float>(static_cast<std::uint32_t>(alone.bits[at + per_sample - 2])))
          << "sample " << n;
    }
  }
}

// A place known from the first pass is taken while the file is at the same
// version, and looked for again otherwise.
TEST(SplitReading, HelperTakesAKnownPlaceOnlyInTheSameVersionOfTheFile) {
  std::mt19937_64 random(13);
  const std::string raw = random_sample_file(random, 1, 1000, 0);
  TempFolder folder;
  folder.write("data.txt", raw);
  const std::string path = folder.file("data.txt");
  const FirstPass pass = count_lines(path, kSmallChunks);
  ASSERT_TRUE(pass.split.has_value());
  const std::optional<SplitPoint> middle = split_of(raw, raw.size() / 2);
  ASSERT_TRUE(middle.has_value());
  EXPECT_EQ(pass.split->place.first_sample, middle->first_sample);
  // Another place, a quarter into the file: it shows which one is taken.
  const std::optional<SplitPoint> quarter = split_of(raw, raw.size() / 4);
  ASSERT_TRUE(quarter.has_value());

  for (const bool same_version : {true, false}) {
    KnownSplit known{*quarter, pass.split->version};
    if (!same_version) ++known.version.modified_nanoseconds;
    SampleTable table;
    ASSERT_EQ(allocate_sample_table(table, 1000, 1), kNoError);
    const platform::FileHandle main_fd = platform::open_for_reading(path);
    ASSERT_NE(main_fd, platform::kNoFile);
    SecondHalfReader helper;
    helper.start(path, main_fd, kAlwaysSplit, 1000, 1, table, known);
    EXPECT_EQ(helper.look(1), same_version ? quarter->first_sample : middle->first_sample);
    EXPECT_EQ(helper.finish(), 1000);
    platform::close_file(main_fd);
  }
}

// A main thread that has already set out to read past the helper's place
// keeps it: the helper gives its place up and writes no row.
TEST(SplitReading, HelperGivesUpAPlaceTheMainThreadReachedFirst) {
  std::mt19937_64 random(11);
  const std::string raw = random_sample_file(random, 2, 1000, 0);
  TempFolder folder;
  folder.write("data.txt", raw);
  const std::string path = folder.file("data.txt");
  SampleTable table;
  ASSERT_EQ(allocate_sample_table(table, 1000, 2), kNoError);
  const platform::FileHandle main_fd = platform::open_for_reading(path);
  ASSERT_NE(main_fd, platform::kNoFile);
  SecondHalfReader helper;
  EXPECT_EQ(helper.look(1000), 0);
  helper.start(path, main_fd, kAlwaysSplit, 1000, 2, table);
  EXPECT_EQ(helper.look(1000), 0);
  EXPECT_EQ(helper.finish(), -1);
  platform::close_file(main_fd);
  for (std::int64_t n = 1; n <= 1000; ++n) ASSERT_EQ(table.t(n), 0.0) << "sample " << n;
}

}  // namespace
}  // namespace tarvel
