// The tool's own logarithm: special values and whole decibels everywhere, and
// powers of two, values near 1 and subnormals against MPFR's correctly
// rounded ln where the build found MPFR.
#include "combine/natural_log.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "combine/decibels.h"

#ifdef TARVEL_HAVE_MPFR
#include "support/log_error.h"
#endif

namespace tarvel::detail {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::string hex(long double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%La", v);
  return text;
}

TEST(NaturalLog, ZeroInfinityOneAndNaNAsTheLibraryLogarithm) {
  struct Row {
    float x;
    long double ln;
  };
  const Row rows[] = {
      {0.0f, -static_cast<long double>(kInf)},
      {-0.0f, -static_cast<long double>(kInf)},
      {kInf, static_cast<long double>(kInf)},
      {1.0f, 0.0L},  // +0, as 10 · ln(1) / L must print as 0
  };
  for (const Row& row : rows) {
    const long double ln = natural_log<long double>(row.x);
    EXPECT_EQ(ln, row.ln) << row.x << " gave " << hex(ln);
    EXPECT_EQ(std::signbit(ln), std::signbit(row.ln)) << row.x;
  }
  for (float x : {kNaN, -kNaN, std::bit_cast<float>(0x7fc12345u), -1.0f, -kInf,
                  -std::numeric_limits<float>::denorm_min()}) {
    const long double ln = natural_log<long double>(x);
    EXPECT_TRUE(std::isnan(ln)) << x;
    // A NaN comes back with its sign and payload; a negative x gives the
    // positive quiet NaN, on every platform.
    const float expected = std::isnan(x) ? x : kNaN;
    EXPECT_EQ(std::bit_cast<std::uint32_t>(static_cast<float>(ln)),
              std::bit_cast<std::uint32_t>(expected))
        << x;
  }
}

TEST(Decibels, PowersOfTenGiveWholeDecibels) {
  float x = 1;
  for (int tens = 0; tens <= 10; ++tens, x *= 10) {  // 10^10 is still an exact float
    EXPECT_EQ(decibels(x), static_cast<float>(10 * tens)) << x;
  }
  EXPECT_EQ(decibels(0.0f), -kInf);
  EXPECT_EQ(decibels(kInf), kInf);
  EXPECT_TRUE(std::isnan(decibels(-2.0f)));
}

#ifdef TARVEL_HAVE_MPFR
double error_in_ulps(float x) {
  static testing::LogReference reference;
  reference.set(x);
  return reference.ulps(natural_log<long double>(x));
}

constexpr double kMaxUlps = testing::kNaturalLogMaxUlps;

TEST(NaturalLog, PowersOfTwoAgainstMpfr) {
  for (int k = -149; k <= 127; ++k) {
    const float x = std::ldexp(1.0f, k);
    EXPECT_LE(std::fabs(error_in_ulps(x)), kMaxUlps) << "2^" << k;
  }
}

TEST(NaturalLog, ValuesNearOneAndAtTheReductionBoundsAgainstMpfr) {
  const float centres[] = {1.0f, 0.70710677f, 1.4142135f, 0.5f, 2.0f};
  for (float centre : centres) {
    float below = centre;
    float above = centre;
    for (int step = 0; step < 300; ++step) {
      below = std::nextafter(below, 0.0f);
      above = std::nextafter(above, kInf);
      EXPECT_LE(std::fabs(error_in_ulps(below)), kMaxUlps) << std::hexfloat << below;
      EXPECT_LE(std::fabs(error_in_ulps(above)), kMaxUlps) << std::hexfloat << above;
    }
  }
}

TEST(NaturalLog, SubnormalsAndExtremesAgainstMpfr) {
  const float rows[] = {
      std::numeric_limits<float>::denorm_min(),
      3 * std::numeric_limits<float>::denorm_min(),
      std::numeric_limits<float>::min() - std::numeric_limits<float>::denorm_min(),
      std::numeric_limits<float>::min(),
      std::numeric_limits<float>::max(),
      10.0f,
      0.1f,
  };
  for (float x : rows) EXPECT_LE(std::fabs(error_in_ulps(x)), kMaxUlps) << std::hexfloat << x;
}
#endif

}  // namespace
}  // namespace tarvel::detail
