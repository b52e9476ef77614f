#include "input/split_counting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>

#include "input/input_test_files.h"
#include "input/line_reader.h"
#include "input/split_reading.h"
#include "input/two_pass_reader.h"
#include "support/temp_folder.h"

namespace tarvel {
namespace {

using testing::kAlwaysSplit;
using testing::kNeverSplit;
using testing::random_round_file;
using testing::random_sample_file;
using testing::TempFolder;
using testing::visible;

std::int64_t reference_count(const std::string& raw) {
  return static_cast<std::int64_t>(
      testing::reference_lines(testing::reference_delivery(raw)).size());
}

TEST(SplitCounting, SameCountAsOneCountingFromTheStart) {
  std::mt19937_64 random(20261208);
  int shared_counts = 0;
  for (int round = 0; round < 400; ++round) {
    const std::string raw = random_round_file(random, round).raw;
    TempFolder folder;
    folder.write("data.txt", raw);
    const std::string path = folder.file("data.txt");
    const FirstPass alone = count_lines(path, kNeverSplit);
    ASSERT_EQ(alone.line_count, reference_count(raw)) << visible(raw);
    // Chunks small enough that the helper's place lies ahead of the first.
    const SplitOptions split{0, false, 1 + random() % 64};
    const FirstPass shared = count_lines(path, split);
    ASSERT_EQ(shared.line_count, alone.line_count) << visible(raw);
    ASSERT_EQ(shared.first_line, alone.first_line) << visible(raw);
    if (shared.split) ++shared_counts;
  }
  EXPECT_GT(shared_counts, 100);
}

// The helper's place is the first line start after the middle; a main
// thread that marks it stops there, having counted the lines before it, and
// the helper counts exactly the lines after it.
TEST(SplitCounting, HelperCountsTheLinesAfterItsPlace) {
  std::mt19937_64 random(5);
  for (const int oddity : {0, 30}) {
    std::string raw = random_sample_file(random, 2, 1500, oddity);
    raw.erase(std::remove(raw.begin(), raw.end(), '\x1a'), raw.end());
    const std::size_t middle_lf = raw.find('\n', raw.size() / 2);
    ASSERT_NE(middle_lf, std::string::npos);
    const std::string delivered = testing::reference_delivery(raw);
    const std::size_t place_in_delivered =
        testing::reference_delivery(raw.substr(0, middle_lf + 1)).size();
    const std::int64_t lines_after =
        static_cast<std::int64_t>(testing::reference_lines(delivered, place_in_delivered).size());

    testing::OpenedBytes opened(raw);
    SecondHalfCounter helper;
    helper.start(opened.path(), opened.file().handle, kAlwaysSplit);
    const std::optional<std::uint64_t> place = helper.raw_place();
    ASSERT_TRUE(place.has_value());
    EXPECT_EQ(*place, middle_lf + 1);
    opened.file().raw_mark = *place;
    const std::int64_t before = count_remaining_lines(opened.file());
    EXPECT_EQ(opened.file().marked_offset, place_in_delivered);
    EXPECT_EQ(delivered_offset(opened.file()), place_in_delivered);
    EXPECT_EQ(before, reference_count(raw) - lines_after);
    EXPECT_EQ(helper.lines_from_place(true), lines_after);
  }
}

// A main thread that did not stop at the place gets no count.
TEST(SplitCounting, NoCountForAMainThreadThatDidNotStopAtThePlace) {
  std::mt19937_64 random(9);
  const std::string raw = random_sample_file(random, 1, 1000, 0);
  testing::OpenedBytes opened(raw);
  SecondHalfCounter helper;
  helper.start(opened.path(), opened.file().handle, kAlwaysSplit);
  EXPECT_TRUE(helper.raw_place().has_value());
  EXPECT_EQ(count_remaining_lines(opened.file()), 1000);
  EXPECT_EQ(helper.lines_from_place(false), -1);
}

// No helper for a file below the size, and no place without a line start
// after the middle.
TEST(SplitCounting, NoPlaceForSmallFilesOrWithoutALineStartAfterTheMiddle) {
  {
    testing::OpenedBytes small("1 2 3\n4 5 6\n");
    SecondHalfCounter unused;
    unused.start(small.path(), small.file().handle, kNeverSplit);
    EXPECT_FALSE(unused.raw_place().has_value());
  }
  const std::string one_long_line = std::string(3000, '1') + "\n";
  testing::OpenedBytes long_line(one_long_line);
  SecondHalfCounter helper;
  helper.start(long_line.path(), long_line.file().handle, kAlwaysSplit);
  EXPECT_FALSE(helper.raw_place().has_value());
  EXPECT_EQ(helper.lines_from_place(false), -1);
}

}  // namespace
}  // namespace tarvel
