#include "input/split_options.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace tarvel {
namespace {

constexpr std::uint64_t kKiB = 1024;

// A piece per worker as long as each keeps 512 KiB: a file of 1 MiB is the
// smallest one shared, and no count of workers goes past 64.
TEST(SplitOptions, PiecesKeepTheSmallestSizeAndTheMostWorkers) {
  struct Row {
    std::uint64_t file_size;
    int workers;
    int pieces;
  };
  const Row rows[] = {
      {0, 16, 1},          {1024 * kKiB - 1, 16, 1}, {1024 * kKiB, 16, 2},
      {1024 * kKiB, 1, 1}, {8192 * kKiB, 16, 16},    {8192 * kKiB, 3, 3},
      {1 << 30, 200, 64},  {3 * 512 * kKiB, 7, 3},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(piece_count(row.file_size, SplitOptions{512 * kKiB, row.workers}), row.pieces)
        << row.file_size << " bytes, " << row.workers << " workers";
  }
  // Tests share every file among all the workers.
  EXPECT_EQ(piece_count(10, SplitOptions{0, 7}), 7);
}

}  // namespace
}  // namespace tarvel
