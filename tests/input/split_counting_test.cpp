#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

#include "input/input_test_files.h"
#include "input/two_pass_reader.h"
#include "support/temp_folder.h"

namespace tarvel {
namespace {

using testing::kNeverSplit;
using testing::kWorkerCounts;
using testing::random_round_file;
using testing::random_sample_file;
using testing::split_among;
using testing::TempFolder;
using testing::visible;

std::int64_t reference_count(const std::string& raw) {
  return static_cast<std::int64_t>(
      testing::reference_lines(testing::reference_delivery(raw)).size());
}

// Pieces fall on missing and extra fields, lone CRs, long lines, NULs and
// Ctrl-Z; whatever the count of threads, the count is the one of a single
// counting from the start.
TEST(SplitCounting, SameCountAsOneCountingFromTheStart) {
  std::mt19937_64 random(20261208);
  int shared_counts = 0;
  for (int round = 0; round < 90; ++round) {
    const std::string raw = random_round_file(random, round).raw;
    TempFolder folder;
    folder.write("data.txt", raw);
    const std::string path = folder.file("data.txt");
    const FirstPass alone = count_lines(path, kNeverSplit);
    ASSERT_EQ(alone.line_count, reference_count(raw)) << visible(raw);
    for (const int workers : kWorkerCounts) {
      const FirstPass shared = count_lines(path, split_among(workers));
      ASSERT_EQ(shared.line_count, alone.line_count) << workers << " " << visible(raw);
      ASSERT_EQ(shared.first_line, alone.first_line) << workers << " " << visible(raw);
      if (workers == 1) {
        EXPECT_FALSE(shared.split.has_value());
      }
      if (shared.split) ++shared_counts;
    }
  }
  EXPECT_GT(shared_counts, 100);
}

// On a regular file every piece is counted by its own thread, and the places
// handed on are its line starts with the lines before them.
TEST(SplitCounting, EveryPieceOfARegularFileCountsWithItsPlace) {
  std::mt19937_64 random(5);
  const std::string raw = random_sample_file(random, 2, 1500, 0);
  TempFolder folder;
  folder.write("data.txt", raw);
  for (const int workers : {2, 7, 16}) {
    const FirstPass pass = count_lines(folder.file("data.txt"), split_among(workers));
    EXPECT_EQ(pass.line_count, 1500);
    ASSERT_TRUE(pass.split.has_value());
    ASSERT_EQ(pass.split->places.size(), static_cast<std::size_t>(workers - 1));
    for (const SplitPoint& place : pass.split->places) {
      EXPECT_EQ(raw[place.raw_offset - 1], '\n');
      EXPECT_EQ(place.first_sample,
                1 + std::count(raw.begin(),
                               raw.begin() + static_cast<std::ptrdiff_t>(place.raw_offset), '\n'));
    }
  }
}

}  // namespace
}  // namespace tarvel
