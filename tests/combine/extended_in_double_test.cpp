// The tests that decide when a formula evaluated in double precision rounds
// to the same float as its extended evaluation, and the scalar formulas built
// on them.
#include "combine/extended_in_double.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "support/combine_arrays.h"

namespace tarvel::detail {
namespace {

using testing::hex;
using testing::same_float;

constexpr double kInf = std::numeric_limits<double>::infinity();

struct RoundingRow {
  double h;
  bool needs_extended;
};

TEST(ExtendedInDouble, MidpointsAndValuesBelowTheFloatRangeNeedExtendedRounding) {
  const RoundingRow rows[] = {
      {1 + 0x1p-24, true},  // between 1 and 1 + 2^-23
      {-(1 + 0x1p-24), true},
      {1 + 0x1p-24 + 0x1p-52, false},
      {1 + 0x1p-24 - 0x1p-52, false},
      {1 + 0x1p-23, false},  // a float
      {1.5, false},
      {0x1p-126 + 0x1p-150, true},  // the lowest normal midpoint
      {0x1p-126, false},
      {0x1p127 * (2 - 0x1p-24), true},  // between the largest float and 2^128
      {0x1p200 * (1 + 0x1p-24), true},  // beyond the float range the rule holds on
      {0.0, false},
      {-0.0, false},
      {kInf, false},
      {-kInf, false},
      {0x1p-150, true},  // every non-zero value below 2^-126
      {3 * 0x1p-150, true},
      {0x1p-200, true},
      {-0x1p-127, true},
  };
  for (const RoundingRow& row : rows) {
    EXPECT_EQ(needs_extended_rounding(row.h), row.needs_extended) << hex(row.h);
  }
}

struct CoarseRow {
  float v;
  bool coarse;
};

TEST(ExtendedInDouble, CoarseFloatsAreZeroLargeOrNotFinite) {
  const CoarseRow rows[] = {
      {0.0f, true},
      {-0.0f, true},
      {0x1p-40f, true},
      {-0x1p-40f, true},
      {0x1p-40f * (1 - 0x1p-24f), false},
      {0x1p-149f, false},
      {1e30f, true},
      {std::numeric_limits<float>::infinity(), true},
      {std::numeric_limits<float>::quiet_NaN(), true},
  };
  for (const CoarseRow& row : rows) EXPECT_EQ(is_coarse(row.v), row.coarse) << hex(row.v);
}

struct ProductRow {
  const char* name;
  float c, a, d, b;
};

// Rows for c·a - d·b; product_sum gets c·b + d·a of the same values.
TEST(ExtendedInDouble, ProductFormulasRoundAsTheExtendedOnes) {
  const float m = 1 + 0x1p-12f;
  const float r = 0x1p-30f;
  const ProductRow rows[] = {
      {"at a midpoint", m, m, 0, 0},
      {"just above a midpoint", m, m, -r, r},
      {"just below a midpoint", m, m, r, r},
      {"far beyond a double unit", m, m, -0x1p-40f, 0x1p-40f},
      {"at a subnormal midpoint", 0x1p-75f, 0x1p-75f, 0, 0},
      {"just above a subnormal midpoint", 0x1p-75f, 0x1p-75f, -0x1p-105f, 0x1p-105f},
      {"overflow", 3e38f, 3e38f, 1, 1},
      {"at the overflow midpoint", 0x1p64f * (2 - 0x1p-23f), 0x1p63f, 0, 0},
      {"exact zero", 2, 3, 3, 2},
      {"zeros of both signs", -0.0f, 0, 0, -0.0f},
      {"infinity minus infinity", std::numeric_limits<float>::infinity(), 1,
       std::numeric_limits<float>::infinity(), 1},
      {"infinity times zero", std::numeric_limits<float>::infinity(), 0, 1, 1},
  };
  for (const ProductRow& row : rows) {
    EXPECT_TRUE(same_float(product_difference(row.c, row.a, row.d, row.b),
                           extended_product_difference(row.c, row.a, row.d, row.b)))
        << row.name;
    EXPECT_TRUE(same_float(product_sum(row.c, row.b, row.d, row.a),
                           extended_product_sum(row.c, row.b, row.d, row.a)))
        << row.name;
  }
}

// u1 = P1 + s and u2 = u1 - P2 in double, as the combined signal forms them.
struct TwoSteps {
  double u1;
  double u2;
};

TwoSteps two_steps(float x, float v, float s, float y, float w) {
  const double u1 = static_cast<double>(x) * v + s;
  return {u1, u1 - static_cast<double>(y) * w};
}

float extended_two_steps(float x, float v, float s, float y, float w) {
  return extended_multiply_add_minus(x, v, s, y, w);
}

struct StepRow {
  const char* name;
  float x, v, s, y, w;
  bool alike;  // what the test must answer
};

TEST(ExtendedInDouble, TwoStepTestRejectsWhatMightRoundDifferently) {
  const float m = 1 + 0x1p-12f;
  const StepRow rows[] = {
      {"ordinary values", 1.25f, 0.75f, 3.5f, 0.125f, 2, true},
      {"a float result", 1, 1, 2, 0, 0, true},
      {"both sums zero", 0, 5, 0, 0, 5, true},
      {"just above a midpoint", m, m, 0x1p-60f, 0, 0, false},
      {"cancellation after a tie", 0x1p12f, 0x1p12f, 0x1p-29f, 0x1p12f, 0x1p12f, false},
      {"cancellation leaves the last bit", 0x1p15f, 0x1p15f, 1 + 0x1p-23f, 0x1p15f, 0x1p15f, false},
      {"overflow to infinity", 3e38f, 2, 0, 0, 0, false},
      {"an infinite operand", std::numeric_limits<float>::infinity(), 1, 1, 1, 1, true},
      {"a NaN operand", std::numeric_limits<float>::quiet_NaN(), 1, 1, 1, 1, true},
      {"a subnormal midpoint", 0x1p-140f, 0x1p-10f, 0, 0x1p-105f, -0x1p-105f, false},
  };
  for (const StepRow& row : rows) {
    const TwoSteps u = two_steps(row.x, row.v, row.s, row.y, row.w);
    const auto rounded = static_cast<float>(u.u2);
    const bool alike = two_steps_round_alike(u.u1, u.u2, rounded);
    EXPECT_EQ(alike, row.alike) << row.name << ": u1 " << hex(u.u1) << ", u2 " << hex(u.u2);
    if (alike) {
      EXPECT_TRUE(same_float(rounded, extended_two_steps(row.x, row.v, row.s, row.y, row.w)))
          << row.name;
    }
  }
}

TEST(ExtendedInDouble, TwoStepTestAcceptsAlmostAllOrdinaryValuesAndOnlyRightOnes) {
  // Whenever the test passes, the double result is the extended one; and on
  // ordinary values it passes nearly always, or the fast path would be slow.
  std::mt19937_64 random(41);
  const testing::ValueRange range = {"", 24, -4, 4};
  int accepted = 0;
  constexpr int kCases = 100000;
  for (int i = 0; i < kCases; ++i) {
    const float x = testing::random_float(random, range);
    const float v = testing::random_float(random, range);
    const float s = testing::random_float(random, range);
    const float y = testing::random_float(random, range);
    const float w = testing::random_float(random, range);
    const TwoSteps u = two_steps(x, v, s, y, w);
    const auto rounded = static_cast<float>(u.u2);
    if (!two_steps_round_alike(u.u1, u.u2, rounded)) continue;
    ++accepted;
    ASSERT_TRUE(same_float(rounded, extended_two_steps(x, v, s, y, w)))
        << hex(x) << " " << hex(v) << " " << hex(s) << " " << hex(y) << " " << hex(w);
  }
  EXPECT_GT(accepted, kCases - kCases / 1000);
}

struct NoiseStepRow {
  const char* name;
  float yr, yi, ybr, ybi, n0;
  bool alike;                 // what the test must answer
  bool plain_double_differs;  // whether float(h) without the test would be wrong
};

// The step with every operation rounded once to double, and no test.
float plain_double_step(const NoiseStepRow& row) {
  const double dr = static_cast<double>(row.yr) - row.ybr;
  const double di = static_cast<double>(row.yi) - row.ybi;
  return static_cast<float>(di * di + (dr * dr + row.n0));
}

TEST(ExtendedInDouble, NoisePowerStepRoundsAsTheExtendedOne) {
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  const NoiseStepRow rows[] = {
      {"ordinary values", 1.25f, -0.5f, 0.125f, 0.25f, 3, true, false},
      {"all zero", 0, 0, 0, 0, 0, true, false},
      {"zeros of both signs", -0.0f, -0.0f, 0, -0.0f, -0.0f, true, false},
      // 1 + 2^-12 - (2^-53 + 2^-66) lies just below a double midpoint: double
      // rounds it down, extended onto the midpoint and then up to 1 + 2^-12,
      // whose square is the float midpoint 1 + 2^-11 + 2^-24. The double
      // square lies 2^-51 below it and di2 = 2^-62 lifts only the extended
      // one above it.
      {"deviations rounded apart, square at a float midpoint", 1 + 0x1p-12f, 0x1p-31f,
       0x1.0008p-53f, 0, 0, false, true},
      // dr2 lies just above 2^-51, half a double unit of n0 = 4: double
      // rounds 4 + dr2 up, extended onto the midpoint and then to 4 (even),
      // and di2 = 2^-22 makes 4 + 2^-22 a float midpoint.
      {"partial sums rounded apart at a double midpoint", 0x1.6a09e8p-26f, 0x1p-11f, 0, 0, 4, false,
       true},
      {"at a float midpoint", 0x1p-12f, 0, 0, 0, 1, false, false},
      {"a double unit past a float midpoint", 0x1p-12f, 0x1p-26f, 0, 0, 1, false, false},
      {"just past the margin", 0x1p-12f, 0x1p-22f, 0, 0, 1, true, false},
      {"deviation inexact in double", 1 + 0x1p-23f, -3, 0x1.000002p-40f, 0, 2, true, false},
      {"overflow", 3e38f, 0, -3e38f, 0, 0, false, false},
      {"at the overflow threshold", 0x1p51f, 0x1p51f, 0, 0, 0x1.fffffep127f, false, false},
      {"next to the largest float", 0x1p40f, 0, 0, 0, 0x1.fffffep127f, true, false},
      {"an infinite sample", kInfinity, 1, 0, 0, 0, false, false},
      {"a NaN mean", 1, 1, 0, std::numeric_limits<float>::quiet_NaN(), 0, false, false},
      {"an infinite noise power", 1, 1, 0, 0, kInfinity, false, false},
      {"a subnormal float", 0x1p-70f, 0, 0, 0, 0, true, false},
      {"between subnormal floats", 0x1.8p-75f, 0, 0, 0, 0, false, false},
  };
  for (const NoiseStepRow& row : rows) {
    SCOPED_TRACE(row.name);
    const float extended = noise_power_step_extended(row.yr, row.yi, row.ybr, row.ybi, row.n0);
    float next = 0;
    const bool alike = noise_power_step_in_double(row.yr, row.yi, row.ybr, row.ybi, row.n0, next);
    EXPECT_EQ(alike, row.alike);
    if (alike) {
      EXPECT_TRUE(same_float(next, extended));
    }
    EXPECT_TRUE(same_float(noise_power_step(row.yr, row.yi, row.ybr, row.ybi, row.n0), extended));
    EXPECT_EQ(!static_cast<bool>(same_float(plain_double_step(row), extended)),
              row.plain_double_differs)
        << "plain double " << hex(plain_double_step(row)) << ", extended " << hex(extended);
  }
}

TEST(ExtendedInDouble, NoisePowerTestAcceptsAlmostAllOrdinaryStepsAndOnlyRightOnes) {
  std::mt19937_64 random(43);
  const testing::ValueRange samples = {"", 24, -4, 4};
  const testing::ValueRange means = {"", 24, -40, 0};
  const testing::ValueRange noise = {"", 24, -2, 10};
  int accepted = 0;
  constexpr int kCases = 100000;
  for (int i = 0; i < kCases; ++i) {
    const float yr = testing::random_float(random, samples);
    const float yi = testing::random_float(random, samples);
    const float ybr = testing::random_float(random, means);
    const float ybi = testing::random_float(random, means);
    const float n0 = std::fabs(testing::random_float(random, noise));
    float next = 0;
    if (!noise_power_step_in_double(yr, yi, ybr, ybi, n0, next)) continue;
    ++accepted;
    ASSERT_TRUE(same_float(next, noise_power_step_extended(yr, yi, ybr, ybi, n0)))
        << hex(yr) << " " << hex(yi) << " " << hex(ybr) << " " << hex(ybi) << " " << hex(n0);
  }
  EXPECT_GT(accepted, kCases - kCases / 1000);
}

}  // namespace
}  // namespace tarvel::detail
