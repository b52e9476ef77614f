// The covariance sums evaluated in double precision, at every vector level,
// against the extended-precision reference, bit for bit: the means, every
// element of the covariance (the mirrored lower triangle included) and the
// signs of its zeros.
#include "combine/covariance_kernel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "combine/channel_statistics.h"
#include "runtime/helper_thread.h"
#include "support/combine_arrays.h"
#include "support/extended_reference.h"
#include "support/simd_levels.h"

namespace tarvel::testing {
namespace {

constexpr std::int64_t kChannelCounts[] = {1, 2, 3, 4, 5, 7, 8, 16, 17};

// Runs the fast statistics at every supported level and the reference on the
// same samples and expects the same bits everywhere.
void expect_as_reference(const SampleRows& rows, const std::string& what,
                         const std::vector<int>& worker_counts = {0}) {
  const Samples x = make_samples(rows);
  const std::int64_t channels = x.channels;
  ComplexVector expected_m = allocate_vector(channels);
  ComplexMatrix expected_r = allocate_matrix(channels);
  reference::compute_means_and_covariance(x.xr, x.xi, expected_m, expected_r);
  for (const int workers : worker_counts) {
    SCOPED_TRACE(what + ", K = " + std::to_string(channels) + ", S = " + std::to_string(x.count) +
                 ", " + std::to_string(workers) + " workers");
    for_each_supported_level([&](detail::SimdLevel level) {
      ComplexVector m = allocate_vector(channels);
      ComplexMatrix r = allocate_matrix(channels);
      force_worker_count(workers);
      compute_means_and_covariance(x.xr, x.xi, m, r, level);
      force_worker_count(0);
      EXPECT_TRUE(same_floats(m.re.data(), expected_m.re.data(), channels)) << "mr";
      EXPECT_TRUE(same_floats(m.im.data(), expected_m.im.data(), channels)) << "mi";
      EXPECT_TRUE(same_floats(r.re.row(1), expected_r.re.row(1), channels * channels)) << "Rr";
      EXPECT_TRUE(same_floats(r.im.row(1), expected_r.im.row(1), channels * channels)) << "Ri";
    });
  }
}

// Each channel's samples x, then -x: the means are exactly 0, so the
// centred values are the samples themselves and every product of the second
// sample repeats one of the first; R is then the products of `channels`
// exactly, e.g. R(k,l) = c·a - d·b rounded once.
SampleRows with_zero_mean(const std::vector<Complex>& channels) {
  std::vector<Complex> negated;
  for (const Complex& x : channels) negated.push_back({-x.re, -x.im});
  return {channels, negated};
}

constexpr ValueRange kRanges[] = {
    {"full significands near 1", 24, -2, 2},
    // Products of 13-bit significands have 25 or 26 bits: many results are
    // float midpoints, which must go to the extended evaluation.
    {"13-bit significands", 13, -3, 3},
    {"8-bit significands", 8, -4, 4},
    {"wide exponents", 24, -60, 60},
    {"products below the normal range", 24, -110, -60},
    {"subnormal samples", 24, -149, -127},
    {"products overflow", 24, 60, 127},
};

TEST(CovarianceKernel, RandomSamplesOfSeveralMagnitudes) {
  std::mt19937_64 random(7);
  for (const ValueRange& range : kRanges) {
    for (std::int64_t channels : kChannelCounts) {
      for (std::int64_t samples : {1, 2, 9}) {
        expect_as_reference(random_rows(random, range, samples, channels), range.name);
      }
    }
  }
}

// Enough samples for the rows to be shared among threads, long rows and
// short ones: the same sums for every count of threads.
TEST(CovarianceKernel, RowsSharedAmongThreadsGiveTheSameSums) {
  std::mt19937_64 random(17);
  for (const std::int64_t channels : {8, 16, 17}) {
    expect_as_reference(random_rows(random, kRanges[3], std::int64_t{1} << 12, channels),
                        kRanges[3].name, {1, 2, 3, 7, 16});
  }
}

TEST(CovarianceKernel, MixedMagnitudesWithinOneSample) {
  // One sample mixes coarse values with a few non-zero ones below 2^-40, so
  // the range test is needed for the whole sample, in every block.
  std::mt19937_64 random(11);
  const ValueRange coarse = {"", 16, -6, 6};
  const ValueRange fine = {"", 16, -90, -60};
  for (std::int64_t channels : {4, 5, 8, 16, 17, 300}) {
    SampleRows rows = random_rows(random, coarse, 5, channels);
    rows[2][channels - 1].re = random_float(random, fine);
    rows[2][channels / 2].im = random_float(random, fine);
    rows[3][0] = {random_float(random, fine), random_float(random, fine)};
    expect_as_reference(rows, "mixed magnitudes");
  }
}

TEST(CovarianceKernel, SpecialValues) {
  std::mt19937_64 random(13);
  for (std::int64_t channels : kChannelCounts) {
    for (int round = 0; round < 6; ++round) {
      SampleRows rows(4, std::vector<Complex>(channels));
      for (auto& row : rows) {
        for (Complex& x : row) x = {random_special(random), random_special(random)};
      }
      expect_as_reference(rows, "special values, round " + std::to_string(round));
    }
  }
}

struct ProductRow {
  const char* name;
  std::vector<Complex> channels;  // one sample, also taken negated
};

TEST(CovarianceKernel, ProductsAtAndNearFloatMidpoints) {
  const float m = 1 + 0x1p-12f;  // m·m = 1 + 2^-11 + 2^-24, a float midpoint
  const float r = 0x1p-30f;      // r·r = 2^-60, below a double unit at 1, above an extended one
  const float p = 0x1p-75f;      // p·p = 2^-150, the midpoint between 0 and 2^-149
  const float q = 0x1p-105f;     // q·q = 2^-210
  const ProductRow rows[] = {
      {"real parts at a midpoint", {{m, 0}, {m, 0}, {m, 0}, {m, 0}, {m, 0}}},
      // e = m·m + r·r lies just above the midpoint: a double rounds it onto
      // the midpoint, and then to even, downwards.
      {"just above a midpoint", {{m, r}, {m, r}, {m, r}, {m, r}, {m, r}}},
      {"just below a midpoint", {{m, r}, {m, -r}, {m, r}, {m, -r}, {m, r}, {m, -r}, {m, r}}},
      // f(k,l) = a(l)·b(k) - b(l)·a(k) = m·m between the two kinds.
      {"imaginary parts at a midpoint", {{m, 0}, {0, m}, {m, 0}, {0, m}, {m, 0}}},
      {"imaginary parts near a midpoint", {{m, r}, {r, m}, {m, -r}, {-r, m}, {m, r}}},
      // e = 2^-150 + 2^-210: a double rounds it onto the subnormal midpoint
      // 2^-150, where no bit test sees a midpoint; extended keeps it above.
      {"just above a subnormal midpoint", {{p, q}, {p, q}, {p, q}, {p, q}, {p, q}}},
      {"just below a subnormal midpoint", {{p, q}, {p, -q}, {p, q}, {p, -q}, {p, q}}},
      {"exact cancellations", {{1, 1}, {1, -1}, {-1, 1}, {2, 0}, {0, 2}, {-0.0f, 0}, {0, -0.0f}}},
      // The tiny last channel makes every element of the sample take the
      // range test as well; the midpoints must still be seen.
      {"near midpoints beside a tiny value", {{m, r}, {m, -r}, {m, r}, {r, m}, {0x1p-70f, 0}}},
  };
  for (const ProductRow& row : rows) {
    // At the start, in the middle and at the end of the channels, so that both
    // the vector chunks and the single columns after them meet the values.
    for (std::int64_t channels : {5, 8, 17}) {
      std::vector<Complex> sample(channels, Complex{0.5f, -0.25f});
      for (std::size_t i = 0; i < row.channels.size() && i < sample.size(); ++i) {
        sample[i] = row.channels[i];
        sample[channels - 1 - i] = row.channels[i];
      }
      expect_as_reference(with_zero_mean(sample), row.name);
    }
    expect_as_reference(with_zero_mean(row.channels), row.name);
  }
}

TEST(CovarianceKernel, MoreChannelsThanOneBlockOfColumns) {
  // Beyond 256 channels the columns come in blocks and the rows of a later
  // block come from an earlier one.
  std::mt19937_64 random(17);
  const float m = 1 + 0x1p-12f;
  std::vector<Complex> sample(300, Complex{m, 0x1p-30f});
  for (std::size_t i = 0; i < sample.size(); i += 3) sample[i] = {m, -0x1p-30f};
  expect_as_reference(with_zero_mean(sample), "midpoints in both blocks");
  expect_as_reference(random_rows(random, kRanges[1], 3, 261), "13-bit significands");
}

}  // namespace
}  // namespace tarvel::testing
