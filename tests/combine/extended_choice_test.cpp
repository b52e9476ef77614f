// The extended type the build chose: the x87's long double exactly where the
// compiler has that format and the portable type was not asked for, and in
// either case a type that rounds to a 64-bit significand, ties to even.
#include <gtest/gtest.h>

#include <limits>
#include <type_traits>

#include "combine/extended.h"

namespace tarvel {
namespace {

constexpr bool kCompilerHasX87LongDouble = std::numeric_limits<long double>::digits == 64 &&
                                           std::numeric_limits<long double>::max_exponent == 16384;

// The configure-time test of long double checked against the compiler's own
// description of the type, and the override against the build's option.
TEST(ExtendedChoice, IsTheHardwareTypeExactlyWhereItExistsAndIsNotOverridden) {
  EXPECT_EQ((std::is_same_v<Extended, long double>),
            kCompilerHasX87LongDouble && !TARVEL_PORTABLE_EXTENDED_REQUESTED);
}

TEST(ExtendedChoice, RoundsToA64BitSignificandWithTiesToEven) {
  const Extended one = 1;
  EXPECT_TRUE(one + Extended{0x1p-63} > one);
  EXPECT_TRUE(one + Extended{0x1p-64} == one);  // a tie, to even
  EXPECT_TRUE(one + Extended{0x1p-63} + Extended{0x1p-64} == one + Extended{0x1p-62});
  EXPECT_TRUE(Extended{0x1p-1000} * Extended{0x1p-1000} > Extended{0});  // beyond double's range
  EXPECT_EQ(static_cast<float>(Extended{1} / Extended{3}), 1.0f / 3.0f);
}

}  // namespace
}  // namespace tarvel
