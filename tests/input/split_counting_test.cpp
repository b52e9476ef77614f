#include "input/split_counting.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

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

using testing::random_sample_file;
using testing::TempFolder;
using testing::visible;

constexpr SplitOptions kNeverSplit{std::numeric_limits<std::uint64_t>::max(), false};
constexpr SplitOptions kAlwaysSplit{0, true};

std::int64_t reference_count(const std::string& raw) {
  return static_cast<std::int64_t>(
      testing::reference_lines(testing::reference_delivery(raw)).size());
}

TEST(SplitCounting, SameCountAsOneCountingFromTheStart) {
  std::mt19937_64 random(20261208);
  for (int round = 0; round < 400; ++round) {
    const int channels = 1 + round % 4;
    const int lines = 1 + static_cast<int>(random() % 60);
    const int oddity = round % 3 == 0 ? 0 : static_cast<int>(random() % 40);
    const std::string raw = random_sample_file(random, channels, lines, oddity);
    TempFolder folder;
    folder.write("data.txt", raw);
    const std::string path = folder.file("data.txt");
    const FirstPass alone = count_lines(path, kNeverSplit);
    const FirstPass shared = count_lines(path, kAlwaysSplit);
    ASSERT_EQ(alone.line_count, reference_count(raw)) << visible(raw);
    ASSERT_EQ(shared.line_count, alone.line_count) << visible(raw);
    ASSERT_EQ(shared.first_line, alone.first_line) << visible(raw);
  }
}

// On a file with odd lines in its first half, the main thread stops at the
// helper's place and the helper counts exactly the lines after it.
TEST(SplitCounting, HelperCountsTheLinesAfterItsPlace) {
  std::mt19937_64 random(5);
  for (const int oddity : {0, 30}) {
    std::string raw = random_sample_file(random, 2, 1500, oddity);
    raw.erase(std::remove(raw.begin(), raw.end(), '\x1a'), raw.end());
    TempFolder folder;
    folder.write("data.txt", raw);
    const std::string path = folder.file("data.txt");
    const std::optional<SplitPoint> split = [&] {
      const int fd = ::open(path.c_str(), O_RDONLY);
      std::optional<SplitPoint> found = find_split_point(fd, raw.size() / 2);
      ::close(fd);
      return found;
    }();
    ASSERT_TRUE(split.has_value());
    const std::string delivered = testing::reference_delivery(raw);
    const std::int64_t lines_after = static_cast<std::int64_t>(
        testing::reference_lines(delivered, split->delivered_offset).size());

    testing::OpenedBytes opened(raw);
    SecondHalfCounter helper;
    helper.start(opened.path(), opened.file().fd, kAlwaysSplit);
    const std::int64_t before = count_remaining_lines(opened.file(), helper.main_stop());
    EXPECT_EQ(delivered_offset(opened.file()), split->delivered_offset);
    EXPECT_EQ(before, reference_count(raw) - lines_after);
    EXPECT_EQ(helper.lines_from(delivered_offset(opened.file())), lines_after);
  }
}

// A main thread that counted past the helper's place gets no count from it.
TEST(SplitCounting, NoCountForAMainThreadThatPassedThePlace) {
  std::mt19937_64 random(9);
  const std::string raw = random_sample_file(random, 1, 1000, 0);
  testing::OpenedBytes opened(raw);
  SecondHalfCounter helper;
  helper.start(opened.path(), opened.file().fd, kAlwaysSplit);
  EXPECT_EQ(count_remaining_lines(opened.file()), 1000);
  EXPECT_EQ(helper.lines_from(delivered_offset(opened.file())), -1);
}

}  // namespace
}  // namespace tarvel
