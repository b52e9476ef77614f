#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

#include "input/input_test_files.h"
#include "input/two_pass_reader.h"

namespace tarvel::testing {
namespace {

// Pieces fall on missing and extra fields, lone CRs, long lines, NULs and
// Ctrl-Z; whatever the count of threads, the count is the one of a single
// counting from the start. The comparing is the harness's own, which the
// reading test shares.
TEST(SplitCounting, SameCountAsOneCountingFromTheStart) {
  EXPECT_GT(count_round_files(20261208, [](const CountedFile&, std::mt19937_64&) {}), 100);
}

// On a regular file every piece is counted by its own thread, and the places
// handed on are its line starts with the lines before them.
TEST(SplitCounting, EveryPieceOfARegularFileCountsWithItsPlace) {
  std::mt19937_64 random(5);
  const SampleFile file(random_sample_file(random, 2, 1500, 0));
  const std::string& raw = file.raw();
  for (const int workers : {2, 7, 16}) {
    const FirstPass pass = count_lines(file.path(), split_among(workers));
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
}  // namespace tarvel::testing
