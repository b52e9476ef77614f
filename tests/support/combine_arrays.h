// What the combine tests share: the arrays built from literal tables, the
// special floats, random test values, and float checks that show a failing
// value in hexfloat.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "combine/complex_arrays.h"
#include "runtime/arrays.h"

namespace tarvel::testing {

// The infinity and the NaN of the tables of expected values.
inline constexpr float kInf = std::numeric_limits<float>::infinity();
inline constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Complex {
  float re;
  float im;
};

// Samples as rows of channels: samples[n-1][k-1] is x(n,k).
using SampleRows = std::vector<std::vector<Complex>>;

// The sample arrays of a table of rows, and their sizes: S samples of K
// channels.
struct Samples {
  Array2<float> xr;
  Array2<float> xi;
  std::int64_t count = 0;
  std::int64_t channels = 0;
};

inline Samples make_samples(const SampleRows& rows) {
  Samples s;
  s.count = static_cast<std::int64_t>(rows.size());
  s.channels = static_cast<std::int64_t>(rows.front().size());
  EXPECT_EQ(s.xr.allocate(s.count, s.channels), kNoError);
  EXPECT_EQ(s.xi.allocate(s.count, s.channels), kNoError);
  for (std::int64_t n = 1; n <= s.count; ++n) {
    for (std::int64_t k = 1; k <= s.channels; ++k) {
      s.xr(n, k) = rows[n - 1][k - 1].re;
      s.xi(n, k) = rows[n - 1][k - 1].im;
    }
  }
  return s;
}

inline ComplexVector make_vector(const std::vector<Complex>& values) {
  ComplexVector v;
  const auto size = static_cast<std::int64_t>(values.size());
  EXPECT_EQ(v.re.allocate(size), kNoError);
  EXPECT_EQ(v.im.allocate(size), kNoError);
  for (std::int64_t k = 1; k <= size; ++k) {
    v.re(k) = values[k - 1].re;
    v.im(k) = values[k - 1].im;
  }
  return v;
}

// rows[k-1][l-1] is element (k,l).
inline ComplexMatrix make_matrix(const std::vector<std::vector<Complex>>& rows) {
  ComplexMatrix m;
  const auto order = static_cast<std::int64_t>(rows.size());
  EXPECT_EQ(m.re.allocate(order, order), kNoError);
  EXPECT_EQ(m.im.allocate(order, order), kNoError);
  for (std::int64_t k = 1; k <= order; ++k) {
    for (std::int64_t l = 1; l <= order; ++l) {
      m.re(k, l) = rows[k - 1][l - 1].re;
      m.im(k, l) = rows[k - 1][l - 1].im;
    }
  }
  return m;
}

inline ComplexVector allocate_vector(std::int64_t size) {
  ComplexVector v;
  EXPECT_EQ(v.re.allocate(size), kNoError);
  EXPECT_EQ(v.im.allocate(size), kNoError);
  return v;
}

inline ComplexMatrix allocate_matrix(std::int64_t order) {
  ComplexMatrix m;
  EXPECT_EQ(m.re.allocate(order, order), kNoError);
  EXPECT_EQ(m.im.allocate(order, order), kNoError);
  return m;
}

inline std::string hex(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%a", value);
  return text;
}

// The same float bit for bit (so the sign of a zero counts), or NaN for NaN.
inline ::testing::AssertionResult same_float(float actual, float expected) {
  const bool both_nan = std::isnan(actual) && std::isnan(expected);
  if (both_nan || std::memcmp(&actual, &expected, sizeof actual) == 0) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "actual " << hex(actual) << ", expected " << hex(expected);
}

// Equal in value (+0 equals -0, NaN equals nothing).
inline ::testing::AssertionResult equal_value(float actual, float expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "actual " << hex(actual) << ", expected " << hex(expected);
}

// Within `tolerance` of a value computed another way.
inline ::testing::AssertionResult near(double actual, double expected, double tolerance) {
  if (std::fabs(actual - expected) <= tolerance) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "actual " << hex(actual) << ", expected " << hex(expected) << " within " << tolerance;
}

// `value` widened to double and printed with "%.<digits>g" reads `text`: seven
// digits are what the console report shows, six the figures quoted elsewhere.
inline ::testing::AssertionResult prints_as(float value, const std::string& text, int digits = 7) {
  char printed[32];
  std::snprintf(printed, sizeof printed, "%.*g", digits, static_cast<double>(value));
  if (text == printed) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "printed " << printed << " (" << hex(value) << "), expected " << text;
}

// `count` floats the same bit for bit, NaN for NaN; on failure names the
// first few that differ, with both values in hexfloat.
inline ::testing::AssertionResult same_floats(const float* actual, const float* expected,
                                              std::int64_t count) {
  std::int64_t differing = 0;
  std::string report;
  for (std::int64_t i = 0; i < count; ++i) {
    if (same_float(actual[i], expected[i])) continue;
    if (++differing <= 4) {
      report += "\n  [" + std::to_string(i) + "] actual " + hex(actual[i]) + ", expected " +
                hex(expected[i]);
    }
  }
  if (differing == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << differing << " of " << count << " differ:" << report;
}

// Where random test values come from: significands of `bits` bits (1 to
// 24; short ones make exact products and so many float midpoints), binary
// exponents from `low` to `high`, either sign. Below 2^-126 the value is
// rounded to a subnormal float.
struct ValueRange {
  const char* name;
  int bits;
  int low;
  int high;
};

inline float random_float(std::mt19937_64& random, const ValueRange& range) {
  std::uniform_int_distribution<std::int64_t> significand(std::int64_t{1} << (range.bits - 1),
                                                          (std::int64_t{1} << range.bits) - 1);
  std::uniform_int_distribution<int> exponent(range.low, range.high);
  const double value =
      std::ldexp(static_cast<double>(significand(random)), exponent(random) - (range.bits - 1));
  return static_cast<float>((random() & 1) != 0 ? -value : value);
}

// `count` complex values of `range`, the real part of each drawn first.
inline std::vector<Complex> random_values(std::mt19937_64& random, const ValueRange& range,
                                          std::int64_t count) {
  std::vector<Complex> values(static_cast<std::size_t>(count));
  for (Complex& x : values) {
    x.re = random_float(random, range);
    x.im = random_float(random, range);
  }
  return values;
}

// `samples` rows of `channels` values of `range`, drawn row by row.
inline SampleRows random_rows(std::mt19937_64& random, const ValueRange& range,
                              std::int64_t samples, std::int64_t channels) {
  SampleRows rows;
  for (std::int64_t n = 0; n < samples; ++n) rows.push_back(random_values(random, range, channels));
  return rows;
}

// Zeros of both signs, infinities, NaN, the float range's edges and a few
// ordinary values, drawn at random.
inline float random_special(std::mt19937_64& random) {
  constexpr float kValues[] = {0.0f,
                               -0.0f,
                               std::numeric_limits<float>::infinity(),
                               -std::numeric_limits<float>::infinity(),
                               std::numeric_limits<float>::quiet_NaN(),
                               0x1p-149f,
                               -0x1p-149f,
                               0x1p-126f,
                               3e38f,
                               -3e38f,
                               1e19f,
                               1.0f,
                               -1.5f,
                               1 + 0x1p-12f,
                               0x1p-30f,
                               2.5e-20f,
                               -7.0f};
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kValues) - 1);
  return kValues[pick(random)];
}

}  // namespace tarvel::testing
