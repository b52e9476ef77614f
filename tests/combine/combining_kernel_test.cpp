// The combined signal evaluated in double precision, at every vector level,
// against the extended-precision reference, bit for bit.
#include "combine/combining_kernel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "combine/combining.h"
#include "support/combine_arrays.h"
#include "support/extended_reference.h"
#include "support/simd_levels.h"

namespace tarvel::testing {
namespace {

// The reference's combined signal of `x` and `v`.
struct Signal {
  Array1<float> yr;
  Array1<float> yi;
};

Signal reference_signal(const Samples& x, const ComplexVector& v) {
  Signal expected;
  EXPECT_EQ(expected.yr.allocate(x.count), kNoError);
  EXPECT_EQ(expected.yi.allocate(x.count), kNoError);
  reference::combine_signal(x.xr, x.xi, v, expected.yr, expected.yi);
  return expected;
}

// The fast combined signal at `level`, among `workers` threads or as many as
// the machine has, expected to be the reference's bit for bit.
void expect_signal(const Samples& x, const ComplexVector& v, const Signal& expected,
                   detail::SimdLevel level, std::optional<int> workers = std::nullopt) {
  Signal y;
  ASSERT_EQ(y.yr.allocate(x.count), kNoError);
  ASSERT_EQ(y.yi.allocate(x.count), kNoError);
  if (workers) {
    combine_signal(x.xr, x.xi, v, y.yr, y.yi, level, *workers);
  } else {
    combine_signal(x.xr, x.xi, v, y.yr, y.yi, level);
  }
  EXPECT_TRUE(same_floats(y.yr.data(), expected.yr.data(), x.count)) << "yr";
  EXPECT_TRUE(same_floats(y.yi.data(), expected.yi.data(), x.count)) << "yi";
}

// The fast combined signal at every supported level, against the
// reference's.
void expect_as_reference(const SampleRows& rows, const std::vector<Complex>& weights,
                         const std::string& what) {
  const Samples x = make_samples(rows);
  const ComplexVector v = make_vector(weights);
  const Signal expected = reference_signal(x, v);
  SCOPED_TRACE(what + ", K = " + std::to_string(weights.size()) +
               ", S = " + std::to_string(x.count));
  for_each_supported_level([&](detail::SimdLevel level) { expect_signal(x, v, expected, level); });
}

constexpr ValueRange kRanges[] = {
    {"full significands near 1", 24, -2, 2},
    // Products of 13-bit significands are exact in few bits, so sums land on
    // float midpoints often.
    {"13-bit significands", 13, -3, 3},
    {"wide exponents", 24, -60, 60},
    {"results below the normal range", 24, -100, -70},
    {"results overflow", 24, 60, 127},
};

TEST(CombiningKernel, RandomSamplesOfSeveralMagnitudes) {
  std::mt19937_64 random(23);
  for (const ValueRange& range : kRanges) {
    for (std::int64_t channels : {1, 2, 3, 4, 5, 7, 8, 16, 17}) {
      // Sample counts around the vector widths, so that tails run too.
      for (std::int64_t samples : {1, 3, 4, 5, 9, 13}) {
        const SampleRows rows = random_rows(random, range, samples, channels);
        const ValueRange weight_range = {"", 24, -3, 3};
        expect_as_reference(rows, random_values(random, weight_range, channels), range.name);
        expect_as_reference(rows, random_values(random, range, channels), range.name);
      }
    }
  }
}

// Large signals are combined in parts at once, one per worker; every
// sample, the ones at the seams included, is the reference's, for every
// number of workers.
TEST(CombiningKernel, LargeSignalsCombinedInParts) {
  std::mt19937_64 random(37);
  const ValueRange range = {"", 24, -2, 2};
  for (const auto& [channels, samples] :
       {std::pair<std::int64_t, std::int64_t>{1, 70001}, {4, 20001}, {16, 4097}, {2, 540007}}) {
    const SampleRows rows = random_rows(random, range, samples, channels);
    const std::vector<Complex> weights = random_values(random, range, channels);
    expect_as_reference(rows, weights, "parts");
    const Samples x = make_samples(rows);
    const ComplexVector v = make_vector(weights);
    const Signal expected = reference_signal(x, v);
    for (const int workers : {1, 2, 3, 7, 16}) {
      SCOPED_TRACE(std::to_string(workers) + " workers, S = " + std::to_string(samples));
      expect_signal(x, v, expected, detail::best_simd_level(), workers);
    }
  }
}

TEST(CombiningKernel, SpecialValues) {
  std::mt19937_64 random(29);
  for (std::int64_t channels : {1, 2, 3, 4, 5, 8}) {
    for (int round = 0; round < 8; ++round) {
      SampleRows rows(9, std::vector<Complex>(channels));
      for (auto& row : rows) {
        for (Complex& x : row) x = {random_special(random), random_special(random)};
      }
      std::vector<Complex> weights(channels);
      for (Complex& w : weights) w = {random_special(random), random_special(random)};
      expect_as_reference(rows, weights, "special values, round " + std::to_string(round));
    }
  }
}

struct StepRow {
  const char* name;
  std::vector<Complex> sample;
  std::vector<Complex> weights;
};

TEST(CombiningKernel, StepsWhoseDoubleEvaluationRoundsDifferently) {
  const float m = 1 + 0x1p-12f;  // m·m = 1 + 2^-11 + 2^-24, a float midpoint
  const float r = 0x1p-30f;
  const float big = 0x1p12f;
  const StepRow rows[] = {
      // sr = 2^-60, then (m·m + sr): a double drops 2^-60 and lands on the
      // midpoint, which ties to even, downwards; extended keeps it and
      // rounds up.
      {"real sum just above a midpoint", {{r, 0}, {m, 0}}, {{r, 0}, {m, 0}}},
      {"real sum just below a midpoint", {{-r, 0}, {m, 0}}, {{r, 0}, {m, 0}}},
      {"imaginary sum just above a midpoint", {{0, r}, {0, m}}, {{r, 0}, {m, 0}}},
      // sr = 2^-29, then (2^24 + sr) - 2^24: a double ties 2^24 + 2^-29 to
      // 2^24 and gives 0; extended gives 2^-29.
      {"cancellation after a tie", {{0x1p-29f, 0}, {big, big}}, {{1, 0}, {big, big}}},
      {"imaginary cancellation after a tie", {{0, 0x1p-29f}, {big, -big}}, {{1, 0}, {big, big}}},
      // sr = 1 + 2^-23, then (2^30 + sr) - 2^30: a double ties 2^30 + 1 +
      // 2^-23 to 2^30 + 1 and gives 1; extended gives 1 + 2^-23.
      {"cancellation leaves the last bit",
       {{1 + 0x1p-23f, 0}, {0x1p15f, 0x1p15f}},
       {{1, 0}, {0x1p15f, 0x1p15f}}},
      // 2^-150 + 2^-210: a double rounds it onto the midpoint between 0 and
      // 2^-149 and then to 0; extended keeps it above and gives 2^-149.
      {"just above a subnormal midpoint", {{0x1p-140f, 0x1p-105f}}, {{0x1p-10f, -0x1p-105f}}},
      {"overflow in a step", {{3e38f, 1}, {1, 1}}, {{2, 0}, {1, 0}}},
      {"overflow cancelled later", {{3e38f, 0}, {-3e38f, 0}}, {{2, 0}, {2, 0}}},
      {"NaN weights", {{1, 2}, {3, 4}}, {{1, 0}, {kNaN, kNaN}}},
      {"infinite samples", {{kInf, 0}, {1, -kInf}}, {{1, 0}, {0.5f, 0.25f}}},
      {"zeros of both signs", {{-0.0f, 0}, {0, -0.0f}}, {{1, -0.0f}, {-0.0f, 0}}},
  };
  std::mt19937_64 random(31);
  const ValueRange ordinary = {"", 24, -2, 2};
  for (const StepRow& row : rows) {
    const auto channels = static_cast<std::int64_t>(row.sample.size());
    // Alone, and in every lane of a vector group and in the tail after them.
    expect_as_reference({row.sample}, row.weights, row.name);
    for (std::int64_t at : {0, 1, 2, 3, 5, 8}) {
      SampleRows rows;
      for (std::int64_t n = 0; n < 9; ++n) {
        rows.push_back(n == at ? row.sample : random_values(random, ordinary, channels));
      }
      expect_as_reference(rows, row.weights, row.name);
    }
  }
}

}  // namespace
}  // namespace tarvel::testing
