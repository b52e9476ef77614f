// Building the combine arrays from literal tables, and float checks that show
// a failing value in hexfloat.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "combine/complex_arrays.h"
#include "runtime/arrays.h"

namespace tarvel::testing {

struct Complex {
  float re;
  float im;
};

// Samples as rows of channels: samples[n-1][k-1] is x(n,k).
using SampleRows = std::vector<std::vector<Complex>>;

struct Samples {
  Array2<float> xr;
  Array2<float> xi;
};

inline Samples make_samples(const SampleRows& rows) {
  Samples s;
  const auto count = static_cast<std::int64_t>(rows.size());
  const auto channels = static_cast<std::int64_t>(rows.front().size());
  EXPECT_EQ(s.xr.allocate(count, channels), kNoError);
  EXPECT_EQ(s.xi.allocate(count, channels), kNoError);
  for (std::int64_t n = 1; n <= count; ++n) {
    for (std::int64_t k = 1; k <= channels; ++k) {
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

}  // namespace tarvel::testing
