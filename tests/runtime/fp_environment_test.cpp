// The floating-point set-up: every unit to rounding to nearest with every
// exception masked, whatever the thread had before.
#include "runtime/fp_environment.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <limits>

namespace tarvel {
namespace {

TEST(FloatingPointEnvironment, IsSetFromAnotherRoundingMode) {
  ASSERT_EQ(std::fesetround(FE_UPWARD), 0);
  EXPECT_FALSE(floating_point_environment_is_set());
  set_floating_point_environment();
  EXPECT_TRUE(floating_point_environment_is_set());
  EXPECT_EQ(std::fegetround(), FE_TONEAREST);
}

TEST(FloatingPointEnvironment, ExceptionsGiveInfinitiesAndNanInsteadOfTraps) {
  set_floating_point_environment();
  volatile double zero = 0;
  volatile double huge = std::numeric_limits<double>::max();
  EXPECT_EQ(1 / zero, std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(zero / zero));
  EXPECT_EQ(huge * 2, std::numeric_limits<double>::infinity());
  EXPECT_EQ(std::numeric_limits<double>::denorm_min() / 2 * 2, 0.0);  // underflow, no flush
  EXPECT_GT(std::numeric_limits<double>::denorm_min() * 1, 0.0);
}

}  // namespace
}  // namespace tarvel
