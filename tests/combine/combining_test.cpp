#include "combine/combining.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "combine/channel_statistics.h"
#include "combine/extended.h"
#include "combine/matrix_inversion.h"
#include "support/combine_arrays.h"
#include "support/extended_reference.h"

namespace tarvel::testing {
namespace {

Array1<float> make_array(const std::vector<float>& values) {
  Array1<float> a;
  EXPECT_EQ(a.allocate(static_cast<std::int64_t>(values.size())), kNoError);
  for (std::size_t i = 0; i < values.size(); ++i) a(static_cast<std::int64_t>(i) + 1) = values[i];
  return a;
}

// Every result of one run, from the samples on, in the order the run driver
// computes them (including its reset of the inverse's diagonal imaginary
// parts). R is left as the inversion leaves it, reduced to the identity.
struct RunResults {
  ComplexVector m;
  ComplexMatrix R;
  Array1<float> snr;
  ComplexMatrix B;
  ComplexVector w;
  std::int64_t ref = 0;
  ComplexVector v;
  Array1<float> yr;
  Array1<float> yi;
  CombinedStatistics combined;
};

RunResults run(const SampleRows& rows) {
  const Samples x = make_samples(rows);
  const std::int64_t samples = x.count;
  const std::int64_t channels = x.channels;
  RunResults r;
  r.m = allocate_vector(channels);
  r.R = allocate_matrix(channels);
  compute_means_and_covariance(x.xr, x.xi, r.m, r.R);
  EXPECT_EQ(r.snr.allocate(channels), kNoError);
  compute_channel_snr(r.m, r.R, samples, r.snr);
  r.B = allocate_matrix(channels);
  r.w = allocate_vector(channels);
  r.v = allocate_vector(channels);
  invert_complex_matrix(r.R.re, r.R.im, r.B.re, r.B.im, channels);
  for (std::int64_t k = 1; k <= channels; ++k) r.B.im(k, k) = 0;
  compute_optimum_weights(r.m, r.B, r.w);
  r.ref = select_reference_channel(r.snr);
  normalise_weights(r.w, r.ref, r.v);
  EXPECT_EQ(r.yr.allocate(samples), kNoError);
  EXPECT_EQ(r.yi.allocate(samples), kNoError);
  combine_signal(x.xr, x.xi, r.v, r.yr, r.yi);
  r.combined = compute_combined_statistics(r.yr, r.yi);
  return r;
}

TEST(Combining, OneChannelTwoSamples) {
  const RunResults r = run({{{1, 1}}, {{3, 1}}});
  EXPECT_TRUE(same_float(r.w.re(1), 2));
  EXPECT_TRUE(same_float(r.w.im(1), -1));
  EXPECT_EQ(r.ref, 1);
  EXPECT_TRUE(same_float(r.v.re(1), 1));
  EXPECT_TRUE(same_float(r.v.im(1), 0));
  EXPECT_TRUE(same_float(r.yr(1), 1));
  EXPECT_TRUE(same_float(r.yi(1), 1));
  EXPECT_TRUE(same_float(r.yr(2), 3));
  EXPECT_TRUE(same_float(r.yi(2), 1));
  EXPECT_TRUE(same_float(r.combined.mean_re, 2));
  EXPECT_TRUE(same_float(r.combined.mean_im, 1));
  EXPECT_TRUE(same_float(r.combined.power, 5));
  EXPECT_TRUE(same_float(r.combined.noise_power, 1));
  EXPECT_TRUE(same_float(r.combined.snr, 10));
}

TEST(Combining, TwoChannelsFourSamples) {
  const RunResults r = run({
      {{1, 0}, {2, 1}},
      {{2, 1}, {1, 0}},
      {{0, 0}, {3, 2}},
      {{1, -1}, {2, 1}},
  });
  // The digits the console report prints.
  EXPECT_TRUE(prints_as(r.w.re(1), "7.333333"));
  EXPECT_TRUE(prints_as(r.w.im(1), "-0.6666666"));
  EXPECT_TRUE(prints_as(r.w.re(2), "7.333333"));
  EXPECT_TRUE(prints_as(r.w.im(2), "-3.333333"));
  EXPECT_EQ(r.ref, 2);  // 13.0103 dB beats 6.0206 dB
  EXPECT_TRUE(prints_as(r.v.re(1), "0.8630137"));
  EXPECT_TRUE(prints_as(r.v.im(1), "0.3013699"));
  EXPECT_TRUE(same_float(r.v.re(2), 1));
  EXPECT_TRUE(same_float(r.v.im(2), 0));
  EXPECT_TRUE(prints_as(r.combined.mean_re, "2.863014"));
  EXPECT_TRUE(prints_as(r.combined.mean_im, "1.30137"));
  EXPECT_TRUE(prints_as(r.combined.snr, "20.05752"));

  // Values the report does not show, to six digits.
  const char* const y[4][2] = {
      {"2.86301", "1.30137"}, {"2.42466", "1.46575"}, {"3", "2"}, {"3.16438", "0.438356"}};
  for (std::int64_t n = 1; n <= 4; ++n) {
    EXPECT_TRUE(prints_as(r.yr(n), y[n - 1][0], 6)) << n;
    EXPECT_TRUE(prints_as(r.yi(n), y[n - 1][1], 6)) << n;
  }
  EXPECT_TRUE(prints_as(r.combined.power, "9.89041", 6));
  EXPECT_TRUE(prints_as(r.combined.noise_power, "0.390411", 6));
}

TEST(Combining, SingleSampleWithSeveralChannels) {
  const RunResults r = run({{{1, 2}, {3, -1}, {0, 0}}});
  for (std::int64_t k = 1; k <= 3; ++k) {
    for (std::int64_t l = 1; l <= 3; ++l) {
      EXPECT_TRUE(equal_value(r.B.re(k, l), 0)) << k << "," << l;
      EXPECT_TRUE(equal_value(r.B.im(k, l), 0)) << k << "," << l;
    }
    EXPECT_TRUE(equal_value(r.w.re(k), 0)) << k;
    EXPECT_TRUE(same_float(r.w.im(k), -0.0f)) << k;
  }
  // snr = (+inf, +inf, NaN): the first infinity is the reference.
  EXPECT_EQ(r.ref, 1);
  EXPECT_TRUE(same_float(r.v.re(1), 1));
  EXPECT_TRUE(same_float(r.v.im(1), 0));
  for (std::int64_t k = 2; k <= 3; ++k) {
    EXPECT_TRUE(same_float(r.v.re(k), kNaN)) << k;
    EXPECT_TRUE(same_float(r.v.im(k), kNaN)) << k;
  }
  EXPECT_TRUE(same_float(r.yr(1), kNaN));
  EXPECT_TRUE(same_float(r.yi(1), kNaN));
  EXPECT_TRUE(same_float(r.combined.mean_re, kNaN));
  EXPECT_TRUE(same_float(r.combined.snr, kNaN));
}

TEST(Combining, WeightsAreTheConjugateOfInverseTimesMeans) {
  const ComplexVector m = make_vector({{1, 1}, {2, -1}});
  const ComplexMatrix B = make_matrix({{{1, 0}, {0, 2}}, {{3, 0}, {1, -1}}});
  ComplexVector w = allocate_vector(2);
  compute_optimum_weights(m, B, w);
  // B m = (3 + 5j, 4 + 0j); the second imaginary sum is +0, so its negation
  // is -0.
  EXPECT_TRUE(same_float(w.re(1), 3));
  EXPECT_TRUE(same_float(w.im(1), -5));
  EXPECT_TRUE(same_float(w.re(2), 4));
  EXPECT_TRUE(same_float(w.im(2), -0.0f));
}

TEST(Combining, WeightedSumsAreRoundedAfterEveryChannelInOrder) {
  // 1 + 2^-24 rounds back to 1 (a tie, to even), twice; summed the other way
  // round, or without rounding, the small terms would survive.
  const float tiny = 0x1p-24f;
  const ComplexVector m = make_vector({{1, 0}, {1, 0}, {1, 0}});
  const ComplexMatrix B = make_matrix({
      {{1, 0}, {tiny, 0}, {tiny, 0}},
      {{0, 1}, {0, tiny}, {0, tiny}},
      {{0, 0}, {0, 0}, {0, 0}},
  });
  ComplexVector w = allocate_vector(3);
  compute_optimum_weights(m, B, w);
  EXPECT_TRUE(same_float(w.re(1), 1));
  EXPECT_TRUE(same_float(w.im(2), -1));

  const Samples x = make_samples({{{1, 1}, {tiny, tiny}, {tiny, tiny}}});
  const ComplexVector v = make_vector({{1, 0}, {1, 0}, {1, 0}});
  Array1<float> yr = make_array({0});
  Array1<float> yi = make_array({0});
  combine_signal(x.xr, x.xi, v, yr, yi);
  EXPECT_TRUE(same_float(yr(1), 1));
  EXPECT_TRUE(same_float(yi(1), 1));
}

struct ReferenceRow {
  const char* name;
  std::vector<float> snr;
  std::int64_t ref;
};

TEST(Combining, ReferenceChannelIsTheFirstStrictlyGreatestAboveMinus1000) {
  const ReferenceRow rows[] = {
      {"one channel", {10}, 1},
      {"greatest last", {6.0206f, 13.0103f}, 2},
      {"equal SNRs", {5, 5}, 1},
      {"equal maxima after a smaller one", {5, 7, 7}, 2},
      {"all NaN", {kNaN, kNaN, kNaN}, 1},
      {"NaN never wins", {kNaN, 3, kNaN}, 2},
      {"all at most -1000", {-2000, -1000, -kInf}, 1},
      {"just above -1000", {-1000, -999.99994f}, 2},
      {"infinities", {kNaN, kInf, kInf}, 2},
  };
  for (const ReferenceRow& row : rows) {
    EXPECT_EQ(select_reference_channel(make_array(row.snr)), row.ref) << row.name;
  }
}

struct NormalisationRow {
  const char* name;
  std::vector<Complex> w;
  std::int64_t ref;
  std::vector<Complex> v;  // bit for bit
};

TEST(Combining, NormalisationDividesByTheReferenceWeight) {
  // 5 times the single-precision third, rounded once (exact in double first).
  const float k5Thirds = static_cast<float>(5.0 * (1.0f / 3.0f));
  ASSERT_NE(k5Thirds, 5.0f / 3.0f);
  const NormalisationRow rows[] = {
      {"complex quotient", {{1, 3}, {1, 1}}, 2, {{2, 1}, {1, 0}}},
      // q = float(1/3) multiplies 5: not the same as float(5/3).
      {"quotient rounded to single", {{5, 0}, {3, 0}}, 2, {{k5Thirds, 0}, {1, 0}}},
      {"reference first", {{0, 2}, {4, 0}, {-2, 0}}, 1, {{1, 0}, {0, -2}, {0, 1}}},
      // mag = 0 makes q NaN; only v(ref) is set, to exactly 1 + 0j.
      {"zero reference weight",
       {{0, -0.0f}, {2, 1}, {0, 0}},
       1,
       {{1, 0}, {kNaN, kNaN}, {kNaN, kNaN}}},
      // mag overflows to +infinity and q is 0.
      {"huge reference weight", {{1e20f, 0}, {3, 4}}, 1, {{1, 0}, {0, 0}}},
  };
  for (const NormalisationRow& row : rows) {
    SCOPED_TRACE(row.name);
    const ComplexVector w = make_vector(row.w);
    ComplexVector v = allocate_vector(static_cast<std::int64_t>(row.w.size()));
    normalise_weights(w, row.ref, v);
    for (std::int64_t k = 1; k <= v.re.size(); ++k) {
      EXPECT_TRUE(same_float(v.re(k), row.v[k - 1].re)) << k;
      EXPECT_TRUE(same_float(v.im(k), row.v[k - 1].im)) << k;
    }
  }
}

TEST(Combining, HugeReferenceWeightPassesTheReferenceChannelThrough) {
  const Samples x = make_samples({{{1.5f, -2}, {7, 7}}, {{-3, 0.25f}, {1, -9}}});
  const ComplexVector w = make_vector({{1e20f, -1e20f}, {3, 4}});
  ComplexVector v = allocate_vector(2);
  normalise_weights(w, 1, v);
  Array1<float> yr = make_array({0, 0});
  Array1<float> yi = make_array({0, 0});
  combine_signal(x.xr, x.xi, v, yr, yi);
  for (std::int64_t n = 1; n <= 2; ++n) {
    EXPECT_TRUE(equal_value(yr(n), x.xr(n, 1))) << n;
    EXPECT_TRUE(equal_value(yi(n), x.xi(n, 1))) << n;
  }
}

TEST(Combining, CombinedSignalAppliesTheWeightsUnconjugated) {
  const Samples x = make_samples({{{1, 2}, {3, 4}}, {{-1, 0}, {0, 0.5f}}});
  const ComplexVector v = make_vector({{1, 0}, {0, 1}});
  Array1<float> yr = make_array({0, 0});
  Array1<float> yi = make_array({0, 0});
  combine_signal(x.xr, x.xi, v, yr, yi);
  // (1 + 2j) + (3 + 4j) j and (-1) + (0.5j) j.
  EXPECT_TRUE(same_float(yr(1), -3));
  EXPECT_TRUE(same_float(yi(1), 5));
  EXPECT_TRUE(same_float(yr(2), -1.5f));
  EXPECT_TRUE(same_float(yi(2), 0));
}

struct CombinedRow {
  const char* name;
  std::vector<float> yr;
  std::vector<float> yi;
  CombinedStatistics expected;  // bit for bit
};

TEST(Combining, CombinedStatistics) {
  const float off_half = 0x1p-26f + 0x1p-40f;
  const CombinedRow rows[] = {
      {"equal non-zero samples", {2, 2, 2}, {-1, -1, -1}, {2, -1, 5, 0, kInf}},
      {"all zero", {0, 0}, {0, 0}, {0, 0, 0, 0, kNaN}},
      {"zero mean with noise", {1, -1}, {0, 0}, {0, 0, 0, 1, -kInf}},
      // The deviation 2^-26 + 2^-40 - 1/2 is exact in double but not in
      // single precision; only the exact one gives N0 = 1/4 (rounded to
      // single first, it gives 1/4 - 2^-26).
      {"deviations in double precision",
       {off_half, 1},
       {0, 0},
       {0.5f, 0, 0.25f, 0.25f, static_cast<float>(10 * std::log10(2.0L))}},
      // Deviations 1, 2^-15 + 2^-12 j, -(1 + 2^-15) - 2^-12 j: the partial
      // sum 1 + 2^-30 survives in double, tips 1 + 2^-24 + 2^-30 up to
      // 1 + 2^-23, and the last sample brings N0 to 2 + 2^-14 + 2^-22.
      {"partial sum in double precision",
       {1, 0x1p-15f, -(1 + 0x1p-15f)},
       {0, 0x1p-12f, -0x1p-12f},
       {0, 0, 0, (2 + 0x1p-14f + 0x1p-22f) / 3, -kInf}},
      // Deviations 1 + 2^-12 j, 2^-12, -(1 + 2^-12) - 2^-12 j: N0 is rounded
      // back to 1 after each of the first two samples (ties, to even), then
      // reaches 2 + 2^-11. Carried unrounded it would gain 2^-23 on the way.
      {"noise power rounded to single after every sample",
       {1, 0x1p-12f, -(1 + 0x1p-12f)},
       {0x1p-12f, 0, -0x1p-12f},
       {0, 0, 0, (2 + 0x1p-11f) / 3, -kInf}},
  };
  for (const CombinedRow& row : rows) {
    SCOPED_TRACE(row.name);
    const CombinedStatistics c =
        compute_combined_statistics(make_array(row.yr), make_array(row.yi));
    EXPECT_TRUE(same_float(c.mean_re, row.expected.mean_re));
    EXPECT_TRUE(same_float(c.mean_im, row.expected.mean_im));
    EXPECT_TRUE(same_float(c.power, row.expected.power));
    EXPECT_TRUE(same_float(c.noise_power, row.expected.noise_power));
    EXPECT_TRUE(same_float(c.snr, row.expected.snr));
  }
}

TEST(Combining, CombinedPowerIsRoundedToSingleBeforeTheSnr) {
  // Samples mean + 17/16, mean, mean - 17/16, with the mean exact: N0 =
  // 2 (17/16)^2 / 3, and Pc = mean^2 rounded to single. The SNR lies so close
  // to 0 dB that Pc carried unrounded would change its last bit.
  const float mean = 0.5f + 3 * 0x1p-14f + 0x1p-22f;
  const float d = 17.0f / 16.0f;
  const CombinedStatistics c =
      compute_combined_statistics(make_array({mean + d, mean, mean - d}), make_array({0, 0, 0}));
  const float power = static_cast<float>(static_cast<double>(mean) * mean);
  const float noise = static_cast<float>(2.0 * d * d / 3);
  const float x = static_cast<float>(static_cast<double>(power) / noise * 3);
  ASSERT_TRUE(same_float(c.mean_re, mean));
  EXPECT_TRUE(same_float(c.power, power));
  EXPECT_TRUE(same_float(c.noise_power, noise));
  EXPECT_TRUE(same_float(c.snr, static_cast<float>(10 * std::log10(static_cast<double>(x)))));
}

TEST(Combining, CombinedMeanIsRoundedAfterEveryAddition) {
  // In sample order 1 + 2^-24 rounds back to 1 (a tie, to even) twice; in the
  // other order the small values add up first and survive.
  const CombinedStatistics c = compute_combined_statistics(make_array({1, 0x1p-24f, 0x1p-24f}),
                                                           make_array({0x1p-24f, 0x1p-24f, 1}));
  EXPECT_TRUE(same_float(c.mean_re, 1.0f / 3.0f));
  EXPECT_TRUE(same_float(c.mean_im, (1.0f + 0x1p-23f) / 3.0f));
}

// The mean sums in single additions, against the extended reference, bit for
// bit, on values of several magnitudes and on special values.
TEST(Combining, CombinedStatisticsMatchTheExtendedReference) {
  std::mt19937_64 random(37);
  const ValueRange ranges[] = {
      {"13-bit significands", 13, -3, 3},
      {"wide exponents", 24, -60, 60},
      {"subnormal", 24, -149, -127},
      {"huge", 24, 100, 127},
  };
  for (std::int64_t samples : {1, 2, 7, 100}) {
    for (int variant = 0; variant < 5; ++variant) {
      std::vector<float> yr(samples);
      std::vector<float> yi(samples);
      for (std::int64_t n = 0; n < samples; ++n) {
        yr[n] = variant < 4 ? random_float(random, ranges[variant]) : random_special(random);
        yi[n] = variant < 4 ? random_float(random, ranges[variant]) : random_special(random);
      }
      SCOPED_TRACE("S = " + std::to_string(samples) + ", variant " + std::to_string(variant));
      const CombinedStatistics c = compute_combined_statistics(make_array(yr), make_array(yi));
      const CombinedStatistics e =
          reference::compute_combined_statistics(make_array(yr), make_array(yi));
      EXPECT_TRUE(same_float(c.mean_re, e.mean_re));
      EXPECT_TRUE(same_float(c.mean_im, e.mean_im));
      EXPECT_TRUE(same_float(c.power, e.power));
      EXPECT_TRUE(same_float(c.noise_power, e.noise_power));
      EXPECT_TRUE(same_float(c.snr, e.snr));
    }
  }
}

// Every result against the extended reference, bit for bit.
::testing::AssertionResult same_as_reference(const std::vector<float>& yr,
                                             const std::vector<float>& yi) {
  const CombinedStatistics c = compute_combined_statistics(make_array(yr), make_array(yi));
  const CombinedStatistics e =
      reference::compute_combined_statistics(make_array(yr), make_array(yi));
  const std::pair<float, float> fields[] = {{c.mean_re, e.mean_re},
                                            {c.mean_im, e.mean_im},
                                            {c.power, e.power},
                                            {c.noise_power, e.noise_power},
                                            {c.snr, e.snr}};
  const char* const names[] = {"mean_re", "mean_im", "power", "noise_power", "snr"};
  for (std::size_t i = 0; i < std::size(fields); ++i) {
    if (::testing::AssertionResult same = same_float(fields[i].first, fields[i].second); !same) {
      return same << " (" << names[i] << ")";
    }
  }
  return ::testing::AssertionSuccess();
}

// The noise power the fast code would give without its test: every step in
// plain double precision about the reference's mean, rounded to float after
// each sample, then divided by S as the code does.
float plain_double_noise_power(const std::vector<float>& yr, const std::vector<float>& yi) {
  const CombinedStatistics e =
      reference::compute_combined_statistics(make_array(yr), make_array(yi));
  float n0 = 0;
  for (std::size_t n = 0; n < yr.size(); ++n) {
    const double dr = static_cast<double>(yr[n]) - e.mean_re;
    const double di = static_cast<double>(yi[n]) - e.mean_im;
    n0 = static_cast<float>(di * di + (dr * dr + n0));
  }
  return extended_quotient(n0, static_cast<std::int64_t>(yr.size()));
}

bool plain_double_is_wrong(const std::vector<float>& yr, const std::vector<float>& yi) {
  const CombinedStatistics e =
      reference::compute_combined_statistics(make_array(yr), make_array(yi));
  return !static_cast<bool>(same_float(plain_double_noise_power(yr, yi), e.noise_power));
}

struct HardRow {
  const char* name;
  std::vector<float> yr;
  std::vector<float> yi;
  bool plain_double_wrong;  // whether the noise power needs the extended steps
};

// Cases where the noise power steps in double precision meet the extended
// ones' rounding: the fast code must give the reference's bits on each.
TEST(Combining, CombinedStatisticsMatchTheReferenceOnHardCases) {
  const float a = 1 + 0x1p-12f;
  const float tiny_mean = 0x1.0008p-53f;  // 2^-53 + 2^-66
  const float root = 0x1.6a09e8p-26f;     // just above the square root of 2^-51
  const HardRow rows[] = {
      // The mean 2^-53 + 2^-66 puts a - mean just below a double midpoint,
      // which the two formats round apart; a^2 is a float midpoint, and the
      // residue di2 = 2^-62 lifts only the extended square above it.
      {"deviations rounded apart at a double midpoint",
       {a, -a, 3 * tiny_mean},
       {0x1p-31f, -0x1p-31f, 0},
       true},
      // N0 = 4 after two samples. The third adds dr2 just over 2^-51, half a
      // double unit of 4: double rounds 4 + dr2 up, extended onto the
      // midpoint and then to 4 (even); di2 = 2^-22 makes 4 + 2^-22 a float
      // midpoint.
      {"partial sums rounded apart at a double midpoint",
       {1, -1, root, -root},
       {1, -1, 0x1p-11f, -0x1p-11f},
       true},
      // Means 2^-59 and 2^-53 + 2^-66: deviations inexact in double.
      {"tiny mean next to large samples",
       {1 + 0x1p-23f, -(1 + 0x1p-23f), 0x1.8p-58f},
       {-3, 3, 0},
       false},
      {"tiny mean and short significands",
       {1.5f, -1.5f, 1.25f, -1.25f, 5 * 0x1.0008p-53f},
       {0x1p-30f, -0x1p-30f, 0, 0, 0},
       false},
      {"noise power at float midpoints",
       {1, 0x1p-12f, -(1 + 0x1p-12f)},
       {0x1p-12f, 0, -0x1p-12f},
       false},
      {"huge samples whose noise power overflows", {3e38f, -3e38f}, {0, 0}, false},
      {"huge samples in range", {1e19f, -1e19f}, {-1e19f, 1e19f}, false},
      // N0 reaches the largest float after three samples, and the fourth
      // adds 2^103, which puts it on the value from which floats overflow.
      {"noise power at the overflow threshold",
       {0x1p63f, -0x1p63f, 0x1p52f, 0x1p51f, -0x1.8p52f},
       {0x1.fffffcp62f, -0x1.fffffcp62f, 0, 0x1p51f, -0x1p51f},
       false},
      {"an infinite sample", {kInf, 1}, {0, 0}, false},
      {"infinite samples of both signs", {kInf, -kInf}, {1, 1}, false},
      {"a NaN sample", {1, 2}, {kNaN, 0}, false},
      {"subnormal samples", {0x1p-149f, -0x1p-149f, 0x1p-140f}, {0x1p-148f, 0, -0x1p-148f}, false},
      {"subnormal noise power", {0x1.8p-70f, -0x1.8p-70f, 0x1.8p-75f}, {0x1p-72f, 0, 0}, false},
      {"zeros of both signs", {-0.0f, -0.0f, 0}, {0, -0.0f, -0.0f}, false},
  };
  for (const HardRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(same_as_reference(row.yr, row.yi));
    EXPECT_EQ(plain_double_is_wrong(row.yr, row.yi), row.plain_double_wrong);
  }
}

// Random vectors, many of them hard, against the extended reference.
TEST(Combining, CombinedStatisticsMatchTheReferenceOnRandomVectors) {
  std::mt19937_64 random(53);
  const ValueRange ranges[] = {
      {"ordinary", 24, -3, 3},       {"13-bit significands", 13, -2, 2},
      {"subnormal", 24, -149, -127}, {"tiny, subnormal noise power", 24, -75, -60},
      {"huge", 24, 100, 127},
  };
  constexpr int kVectors = 4000;
  int plain_double_wrong = 0;
  for (int v = 0; v < kVectors; ++v) {
    const int variant = v % 8;
    std::uniform_int_distribution<int> length(1, 40);
    const int samples = length(random);
    std::vector<float> yr;
    std::vector<float> yi;
    if (variant < 5) {
      for (int n = 0; n < samples; ++n) {
        yr.push_back(random_float(random, ranges[variant]));
        yi.push_back(random_float(random, ranges[variant]));
      }
    } else if (variant == 5) {
      for (int n = 0; n < samples; ++n) {
        yr.push_back(random_special(random));
        yi.push_back(random_float(random, ranges[0]));
        if ((random() & 3) == 0) std::swap(yr.back(), yi.back());
      }
    } else {
      // Pairs y, -y with 13-bit significands, whose float sums stay exact,
      // then one small value that makes the mean tiny: about half a double
      // unit of the samples (variant 6), so that deviations fall on or next to
      // double midpoints, or anywhere far below them (variant 7). The
      // imaginary parts are pairs of residues whose squares lie far below the
      // real ones'.
      const int exponent = static_cast<int>(random() % 5) - 2;
      const ValueRange pair_range = {"", 13, exponent, exponent};
      for (int n = 0; n + 1 < std::max(samples, 2); n += 2) {
        const float y = random_float(random, pair_range);
        const float residue = std::ldexp(1.0f, exponent - 27 - static_cast<int>(random() % 8));
        yr.insert(yr.end(), {y, -y});
        yi.insert(yi.end(), {residue, -residue});
      }
      const auto count = static_cast<float>(yr.size() + 1);
      const float mean =
          variant == 6
              ? std::ldexp(1 + static_cast<float>(static_cast<int>(random() % 17) - 8) * 0x1p-13f,
                           exponent - 53)
              : random_float(random, {"", 12, exponent - 80, exponent - 30});
      yr.push_back(mean * count);  // exact: count is small and mean short
      yi.push_back(0);
    }
    SCOPED_TRACE("vector " + std::to_string(v) + ", variant " + std::to_string(variant));
    ASSERT_TRUE(same_as_reference(yr, yi));
    plain_double_wrong += plain_double_is_wrong(yr, yi);
  }
  // The vectors must include ones where double precision alone goes wrong.
  EXPECT_GT(plain_double_wrong, kVectors / 100);
}

// Random samples: with one channel the combined signal is the channel itself;
// with several, each result agrees with its definition evaluated in double
// precision from the inputs of its step.
TEST(Combining, RandomSamplesMatchTheDefinitions) {
  std::mt19937 generator(99);
  std::uniform_real_distribution<float> noise(-1, 1);

  SampleRows one(25, std::vector<Complex>(1));
  for (auto& row : one) row[0] = {3 + noise(generator), -2 + noise(generator)};
  const RunResults single = run(one);
  EXPECT_TRUE(same_float(single.v.re(1), 1));
  EXPECT_TRUE(same_float(single.v.im(1), 0));
  for (std::int64_t n = 1; n <= 25; ++n) {
    EXPECT_TRUE(same_float(single.yr(n), one[n - 1][0].re)) << n;
    EXPECT_TRUE(same_float(single.yi(n), one[n - 1][0].im)) << n;
  }
  EXPECT_TRUE(near(single.combined.snr, single.snr(1), 1e-4));

  constexpr std::int64_t kSamples = 33;
  constexpr std::int64_t kChannels = 4;
  SampleRows rows(kSamples, std::vector<Complex>(kChannels));
  for (auto& row : rows) {
    for (std::int64_t k = 0; k < kChannels; ++k) {
      const float scale = 0.5f + static_cast<float>(k);
      row[k] = {1 + scale * noise(generator), 0.5f + scale * noise(generator)};
    }
  }
  const RunResults r = run(rows);
  using C = std::complex<double>;
  auto w = [&](std::int64_t k) { return C(r.w.re(k), r.w.im(k)); };
  for (std::int64_t k = 1; k <= kChannels; ++k) {
    C bm = 0;
    for (std::int64_t l = 1; l <= kChannels; ++l) {
      bm += C(r.B.re(k, l), r.B.im(k, l)) * C(r.m.re(l), r.m.im(l));
    }
    EXPECT_TRUE(near(w(k).real(), std::conj(bm).real(), 1e-5 * std::abs(bm))) << k;
    EXPECT_TRUE(near(w(k).imag(), std::conj(bm).imag(), 1e-5 * std::abs(bm))) << k;
    const C v = w(k) / w(r.ref);
    EXPECT_TRUE(near(r.v.re(k), v.real(), 1e-6 * std::abs(v))) << k;
    EXPECT_TRUE(near(r.v.im(k), v.imag(), 1e-6 * std::abs(v))) << k;
  }
  C mean = 0;
  for (std::int64_t n = 1; n <= kSamples; ++n) {
    C y = 0;
    for (std::int64_t k = 1; k <= kChannels; ++k) {
      y += C(rows[n - 1][k - 1].re, rows[n - 1][k - 1].im) * C(r.v.re(k), r.v.im(k));
    }
    EXPECT_TRUE(near(r.yr(n), y.real(), 1e-5)) << n;
    EXPECT_TRUE(near(r.yi(n), y.imag(), 1e-5)) << n;
    mean += C(r.yr(n), r.yi(n)) / static_cast<double>(kSamples);
  }
  double noise_power = 0;
  for (std::int64_t n = 1; n <= kSamples; ++n) {
    noise_power += std::norm(C(r.yr(n), r.yi(n)) - mean) / kSamples;
  }
  EXPECT_TRUE(near(r.combined.mean_re, mean.real(), 1e-5));
  EXPECT_TRUE(near(r.combined.mean_im, mean.imag(), 1e-5));
  EXPECT_TRUE(near(r.combined.power, std::norm(mean), 1e-5));
  EXPECT_TRUE(near(r.combined.noise_power, noise_power, 1e-5));
  EXPECT_TRUE(
      near(r.combined.snr, 10 * std::log10(std::norm(mean) / noise_power * kSamples), 1e-4));
}

}  // namespace
}  // namespace tarvel::testing
