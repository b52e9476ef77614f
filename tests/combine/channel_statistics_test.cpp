#include "combine/channel_statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/combine_arrays.h"

namespace tarvel::testing {
namespace {

struct Statistics {
  ComplexVector m;
  ComplexMatrix R;
  Array1<float> snr;
};

Statistics compute(const SampleRows& rows) {
  const Samples x = make_samples(rows);
  Statistics s{allocate_vector(x.channels), allocate_matrix(x.channels), {}};
  compute_means_and_covariance(x.xr, x.xi, s.m, s.R);
  EXPECT_EQ(s.snr.allocate(x.channels), kNoError);
  compute_channel_snr(s.m, s.R, x.count, s.snr);
  return s;
}

TEST(ChannelStatistics, OneChannelTwoSamples) {
  const Statistics s = compute({{{1, 1}}, {{3, 1}}});
  EXPECT_TRUE(same_float(s.m.re(1), 2));
  EXPECT_TRUE(same_float(s.m.im(1), 1));
  EXPECT_TRUE(same_float(s.R.re(1, 1), 1));
  EXPECT_TRUE(same_float(s.R.im(1, 1), 0));
  // x = 5 / 1 * 2 = 10, and 10 log10(10) comes out as exactly 10.
  EXPECT_TRUE(same_float(s.snr(1), 10));
}

TEST(ChannelStatistics, TwoChannelsFourSamples) {
  const Statistics s = compute({
      {{1, 0}, {2, 1}},
      {{2, 1}, {1, 0}},
      {{0, 0}, {3, 2}},
      {{1, -1}, {2, 1}},
  });
  EXPECT_TRUE(same_float(s.m.re(1), 1));
  EXPECT_TRUE(same_float(s.m.im(1), 0));
  EXPECT_TRUE(same_float(s.m.re(2), 2));
  EXPECT_TRUE(same_float(s.m.im(2), 1));

  EXPECT_TRUE(same_float(s.R.re(1, 1), 1));
  EXPECT_TRUE(same_float(s.R.im(1, 1), 0));
  EXPECT_TRUE(same_float(s.R.re(2, 2), 1));
  EXPECT_TRUE(same_float(s.R.im(2, 2), 0));
  EXPECT_TRUE(same_float(s.R.re(1, 2), -0.75f));
  EXPECT_TRUE(same_float(s.R.im(1, 2), 0.25f));
  EXPECT_TRUE(same_float(s.R.re(2, 1), -0.75f));
  EXPECT_TRUE(same_float(s.R.im(2, 1), -0.25f));

  // As the signals section of the console report shows them.
  EXPECT_TRUE(prints_as(s.snr(1), "6.0206"));
  EXPECT_TRUE(prints_as(s.snr(2), "13.0103"));
}

TEST(ChannelStatistics, MeansAccumulateInSampleOrderInSinglePrecision) {
  // Channel 1 adds 2^-24 to 1 twice: each sum rounds back to 1 (a tie, to
  // even). Channel 2 meets the same values in the other order, where the
  // small ones add up first and survive.
  const float tiny = 0x1p-24f;
  const Statistics s = compute({
      {{1, tiny}, {tiny, 1}},
      {{tiny, tiny}, {tiny, tiny}},
      {{tiny, 1}, {1, tiny}},
  });
  EXPECT_TRUE(same_float(s.m.re(1), 1.0f / 3.0f));
  EXPECT_TRUE(same_float(s.m.re(2), (1.0f + 0x1p-23f) / 3.0f));
  EXPECT_TRUE(same_float(s.m.im(1), (1.0f + 0x1p-23f) / 3.0f));
  EXPECT_TRUE(same_float(s.m.im(2), 1.0f / 3.0f));
}

TEST(ChannelStatistics, CovarianceProductsAndSumsAreRoundedToSingle) {
  // The mean is exactly 0, so the products are the squares 2^-24 and
  // (1 + 2^-12)^2 = 1 + 2^-11 + 2^-24. The latter rounds to 1 + 2^-11 (a tie,
  // to even) before it is added, and each sum 1 + 2^-11 + 2^-24 rounds the
  // same way: 2 + 2^-10 in all, divided by 4. Kept unrounded, the products
  // would add up to 2 + 2^-10 + 2^-22.
  const float small = 0x1p-12f;
  const float large = 1 + 0x1p-12f;
  const Statistics s = compute({{{small, 0}}, {{large, 0}}, {{-small, 0}}, {{-large, 0}}});
  EXPECT_TRUE(same_float(s.m.re(1), 0));
  EXPECT_TRUE(same_float(s.R.re(1, 1), 0.5f + 0x1p-12f));
}

TEST(ChannelStatistics, SnrRatioIsRoundedToSingleBeforeTheLogarithm) {
  // m = 1 + 2^-12, R = 4, S = 4: x = |m|^2 = 1 + 2^-11 + 2^-24, which rounds
  // to 1 + 2^-11 (a tie, to even). Near 0 dB the lost 2^-24 would show.
  const float m = 1 + 0x1p-12f;
  const Statistics s = compute({{{m + 2, 0}}, {{m - 2, 0}}, {{m + 2, 0}}, {{m - 2, 0}}});
  ASSERT_TRUE(same_float(s.m.re(1), m));
  ASSERT_TRUE(same_float(s.R.re(1, 1), 4));
  const float expected = static_cast<float>(10 * std::log10(1 + 0x1p-11L));
  EXPECT_NE(expected, static_cast<float>(10 * std::log10(1 + 0x1p-11L + 0x1p-24L)));
  EXPECT_TRUE(same_float(s.snr(1), expected));
}

TEST(ChannelStatistics, SingleSampleHasZeroCovariance) {
  const Statistics s = compute({{{3, 4}, {0, 0}, {-2, 0}, {0, -0.5f}}});
  for (std::int64_t k = 1; k <= 4; ++k) {
    for (std::int64_t l = 1; l <= 4; ++l) {
      EXPECT_TRUE(same_float(s.R.re(k, l), 0)) << k << "," << l;
      EXPECT_TRUE(same_float(s.R.im(k, l), 0)) << k << "," << l;
    }
  }
  EXPECT_TRUE(same_float(s.m.re(1), 3));
  EXPECT_TRUE(same_float(s.m.im(4), -0.5f));
  // A non-zero sample over zero noise is +infinity; 0 + 0j is 0 / 0.
  EXPECT_TRUE(same_float(s.snr(1), kInf));
  EXPECT_TRUE(same_float(s.snr(2), kNaN));
  EXPECT_TRUE(same_float(s.snr(3), kInf));
  EXPECT_TRUE(same_float(s.snr(4), kInf));
}

struct SnrRow {
  const char* name;
  SampleRows samples;  // one channel
  float snr;
};

TEST(ChannelStatistics, SnrWithoutGuards) {
  const SnrRow rows[] = {
      {"equal samples, mean non-zero", {{{2, -2}}, {{2, -2}}, {{2, -2}}}, kInf},
      {"equal samples, mean zero", {{{0, 0}}, {{0, 0}}}, kNaN},
      {"mean zero with noise", {{{1, 0}}, {{-1, 0}}}, -kInf},
      {"imaginary mean zero with noise", {{{0, 3}}, {{0, -3}}}, -kInf},
      {"negative zero samples", {{{-0.0f, -0.0f}}, {{-0.0f, 0}}}, kNaN},
  };
  for (const SnrRow& row : rows) {
    const Statistics s = compute(row.samples);
    EXPECT_TRUE(same_float(s.snr(1), row.snr)) << row.name;
  }
}

TEST(ChannelStatistics, SnrOfSubnormalRatioIsNotFlushedToZero) {
  // m = t/3 (the +1 and -1 cancel first), R = 2/3, so x = S |m|^2 / R is about
  // t^2 / 2 = 9.8e-41: below the normal single range, stored as a subnormal.
  const float t = 1.4e-20f;
  const Statistics s = compute({{{1, 0}}, {{-1, 0}}, {{t, 0}}});
  const double m = static_cast<double>(t) / 3;
  const double expected = 10 * std::log10(m * m / (2.0 / 3.0) * 3);
  EXPECT_LT(expected, -400);
  EXPECT_TRUE(near(s.snr(1), expected, 1e-3));
}

TEST(ChannelStatistics, DiagonalImaginaryPartIsZeroAfterTheDivision) {
  // The first deviation overflows to +infinity, so the diagonal's imaginary
  // products are infinity times zero: the sum is NaN until it is replaced.
  const Statistics s = compute({
      {{3e38f, 1}, {1, 2}},
      {{-3e38f, 2}, {2, 0}},
      {{-3e38f, 3}, {0, 1}},
  });
  EXPECT_TRUE(same_float(s.R.re(1, 1), kInf));
  EXPECT_TRUE(same_float(s.R.im(1, 1), 0));
  EXPECT_TRUE(same_float(s.R.im(2, 2), 0));
}

// Random samples, checked against the definitions evaluated in double
// precision, and for the exact symmetry the rounding preserves.
TEST(ChannelStatistics, RandomSamplesMatchTheDefinitions) {
  constexpr std::int64_t kSamples = 41;
  constexpr std::int64_t kChannels = 5;
  std::mt19937 generator(20240611);
  std::uniform_real_distribution<float> noise(-1, 1);
  SampleRows rows(kSamples, std::vector<Complex>(kChannels));
  for (auto& row : rows) {
    for (std::int64_t k = 0; k < kChannels; ++k) {
      row[k] = {static_cast<float>(k) + noise(generator),
                0.5f - static_cast<float>(k) + noise(generator)};
    }
  }
  const Statistics s = compute(rows);

  std::vector<double> mean_re(kChannels, 0);
  std::vector<double> mean_im(kChannels, 0);
  for (const auto& row : rows) {
    for (std::int64_t k = 0; k < kChannels; ++k) {
      mean_re[k] += row[k].re / static_cast<double>(kSamples);
      mean_im[k] += row[k].im / static_cast<double>(kSamples);
    }
  }
  for (std::int64_t k = 1; k <= kChannels; ++k) {
    EXPECT_TRUE(near(s.m.re(k), mean_re[k - 1], 1e-5)) << k;
    EXPECT_TRUE(near(s.m.im(k), mean_im[k - 1], 1e-5)) << k;
    for (std::int64_t l = 1; l <= kChannels; ++l) {
      double cov_re = 0;
      double cov_im = 0;
      for (const auto& row : rows) {
        const double ar = row[k - 1].re - mean_re[k - 1];
        const double ai = row[k - 1].im - mean_im[k - 1];
        const double br = row[l - 1].re - mean_re[l - 1];
        const double bi = row[l - 1].im - mean_im[l - 1];
        cov_re += (ar * br + ai * bi) / kSamples;  // (a) times conj(b)
        cov_im += (ai * br - ar * bi) / kSamples;
      }
      EXPECT_TRUE(near(s.R.re(k, l), cov_re, 1e-5)) << k << "," << l;
      EXPECT_TRUE(near(s.R.im(k, l), cov_im, 1e-5)) << k << "," << l;
      EXPECT_TRUE(same_float(s.R.re(k, l), s.R.re(l, k))) << k << "," << l;
      // Equal in value: a zero imaginary part is +0 on both sides.
      EXPECT_TRUE(equal_value(s.R.im(k, l), -s.R.im(l, k))) << k << "," << l;
    }
    EXPECT_TRUE(same_float(s.R.im(k, k), 0)) << k;
    const double power = mean_re[k - 1] * mean_re[k - 1] + mean_im[k - 1] * mean_im[k - 1];
    EXPECT_TRUE(near(s.snr(k), 10 * std::log10(kSamples * power / s.R.re(k, k)), 1e-4)) << k;
  }
}

}  // namespace
}  // namespace tarvel::testing
