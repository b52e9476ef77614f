#include "runtime/arrays.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace tarvel {
namespace {

TEST(Arrays, OneBasedAndZeroFilled) {
  Array2<float> table;
  ASSERT_EQ(table.allocate(3, 2), kNoError);
  for (std::int64_t n = 1; n <= 3; ++n) {
    for (std::int64_t k = 1; k <= 2; ++k) EXPECT_EQ(table(n, k), 0.0f);
  }
  table(2, 1) = 5;
  EXPECT_EQ(table.row(2)[0], 5.0f);
  EXPECT_EQ(&table(3, 2) - &table(1, 1), 5);

  Array1<double> values;
  ASSERT_EQ(values.allocate(4), kNoError);
  values(4) = 1;
  EXPECT_EQ(values.data()[3], 1.0);
  EXPECT_EQ(values.size(), 4);
}

struct BoundsRow {
  std::int64_t rows;
  std::int64_t columns;
  RuntimeErrorCode code;
};

TEST(Arrays, BoundsBelowOneAreIllegalAndUnrepresentableSizesOutOfMemory) {
  constexpr std::int64_t kMax32 = std::numeric_limits<std::int32_t>::max();
  const BoundsRow rows[] = {
      {0, 1, kIllegalFunctionCall},
      {1, 0, kIllegalFunctionCall},
      {-5, 3, kIllegalFunctionCall},
      {0, 0, kIllegalFunctionCall},
      // Past the 32-bit range: refused, never wrapped into a small array.
      {kMax32 + 1, 1, kOutOfMemory},
      {1, kMax32 + 1, kOutOfMemory},
      {std::int64_t{1} << 40, 1, kOutOfMemory},
      // Fits the bounds, but no machine has 2^64 bytes.
      {kMax32, kMax32, kOutOfMemory},
  };
  for (const BoundsRow& row : rows) {
    Array2<float> table;
    EXPECT_EQ(table.allocate(row.rows, row.columns), row.code) << row.rows << " x " << row.columns;
    EXPECT_EQ(table.rows(), 0);
  }
  Array1<float> vector;
  EXPECT_EQ(vector.allocate(0), kIllegalFunctionCall);
  EXPECT_EQ(vector.allocate(kMax32 + 1), kOutOfMemory);
}

}  // namespace
}  // namespace tarvel
