#include "combine/matrix_inversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include "support/combine_arrays.h"

namespace tarvel::testing {
namespace {

using Rows = std::vector<std::vector<Complex>>;

constexpr float kThird = 1.0f / 3.0f;
// -5 times the single-precision third, rounded once (the product is exact in
// double precision).
const float kMinus5Thirds = static_cast<float>(-5.0 * kThird);

Rows identity(std::int64_t order) {
  Rows rows(order, std::vector<Complex>(order, Complex{0, 0}));
  for (std::int64_t k = 0; k < order; ++k) rows[k][k] = {1, 0};
  return rows;
}

// Inverts `a` in place and returns B, filled with garbage beforehand so that
// every element must be written.
ComplexMatrix invert(ComplexMatrix& a) {
  const std::int64_t order = a.re.rows();
  ComplexMatrix b = allocate_matrix(order);
  for (std::int64_t i = 1; i <= order; ++i) {
    for (std::int64_t j = 1; j <= order; ++j) {
      b.re(i, j) = 7;
      b.im(i, j) = kNaN;
    }
  }
  invert_complex_matrix(a.re, a.im, b.re, b.im, order);
  return b;
}

// A NaN or a negative zero in `expected` must be matched exactly; any other
// value in value only, because the zeros the elimination leaves in A may
// carry either sign.
::testing::AssertionResult matches_a(float actual, float expected) {
  if (std::isnan(expected) || (expected == 0 && std::signbit(expected))) {
    return same_float(actual, expected);
  }
  return equal_value(actual, expected);
}

struct InversionRow {
  const char* name;
  Rows a;
  Rows b;        // bit for bit, the sign of zero included
  Rows a_after;  // what the routine leaves in A
};

void check_rows(const std::vector<InversionRow>& rows) {
  for (const InversionRow& row : rows) {
    SCOPED_TRACE(row.name);
    ComplexMatrix a = make_matrix(row.a);
    const ComplexMatrix b = invert(a);
    const auto order = static_cast<std::int64_t>(row.a.size());
    for (std::int64_t i = 1; i <= order; ++i) {
      for (std::int64_t j = 1; j <= order; ++j) {
        const Complex& expected_b = row.b[i - 1][j - 1];
        const Complex& expected_a = row.a_after[i - 1][j - 1];
        EXPECT_TRUE(same_float(b.re(i, j), expected_b.re)) << "B re " << i << "," << j;
        EXPECT_TRUE(same_float(b.im(i, j), expected_b.im)) << "B im " << i << "," << j;
        EXPECT_TRUE(matches_a(a.re(i, j), expected_a.re)) << "A re " << i << "," << j;
        EXPECT_TRUE(matches_a(a.im(i, j), expected_a.im)) << "A im " << i << "," << j;
      }
    }
  }
}

TEST(MatrixInversion, ExactInverses) {
  ASSERT_NE(kMinus5Thirds, -5.0f / 3.0f);
  check_rows({
      {"order 1", {{{2, 0}}}, {{{0.5f, 0}}}, identity(1)},
      // 1 / 2j: the imaginary part comes from the real part before scaling.
      {"order 1, imaginary", {{{0, 2}}}, {{{0, -0.5f}}}, identity(1)},
      {"identity", identity(3), identity(3), identity(3)},
      {"upper triangular",
       {{{1, 0}, {0, 1}}, {{0, 0}, {1, 0}}},
       {{{1, 0}, {0, -1}}, {{0, 0}, {1, 0}}},
       identity(2)},
      // The reciprocal of the pivot 3 is rounded to single before it scales
      // the -5 that the first step left in row 2: 5 * float(1/3) rounds to a
      // value other than float(5/3).
      {"reciprocal rounded to single",
       {{{1, 0}, {0, 0}}, {{5, 0}, {3, 0}}},
       {{{1, 0}, {0, 0}}, {{kMinus5Thirds, 0}, {kThird, 0}}},
       identity(2)},
      // Row 1 right of the pivot is scaled by the complex reciprocal before
      // column 2 is eliminated from it.
      {"complex pivot with a row to scale",
       {{{0, 1}, {1, 0}}, {{0, 0}, {1, 0}}},
       {{{0, -1}, {0, 1}}, {{0, 0}, {1, 0}}},
       identity(2)},
  });
}

TEST(MatrixInversion, ZeroTinyAndHugePivotsTakeTheSubstitute) {
  // With a squared magnitude of 1e-48, the pivot takes the substitute 1e-37:
  // B(1,1) is 1e-24 / 1e-37 rounded once, about 1e13 rather than 1e24.
  const float tiny_pivot_inverse = 1e-24f / 1e-37f;
  ASSERT_TRUE(near(tiny_pivot_inverse, 1e13, 1e7));
  check_rows({
      {"singular",
       {{{1, 0}, {1, 0}}, {{1, 0}, {1, 0}}},
       {{{1, 0}, {0, 0}}, {{0, 0}, {0, 0}}},
       identity(2)},
      {"all zero",
       {{{0, 0}, {0, 0}}, {{0, 0}, {0, 0}}},
       {{{0, 0}, {0, 0}}, {{0, 0}, {0, 0}}},
       identity(2)},
      // Invertible, but the first pivot is 0 and rows are never exchanged.
      {"zero first pivot",
       {{{0, 0}, {1, 0}}, {{1, 0}, {0, 0}}},
       {{{0, 0}, {0, 0}}, {{0, 0}, {0, 0}}},
       identity(2)},
      // 1e-40 is subnormal but not zero: it is used as it is.
      {"small pivot",
       {{{1e-20f, 0}, {0, 0}}, {{0, 0}, {1, 0}}},
       {{{1e-20f / (1e-20f * 1e-20f), 0}, {0, 0}}, {{0, 0}, {1, 0}}},
       identity(2)},
      {"tiny pivot",
       {{{1e-24f, 0}, {0, 0}}, {{0, 0}, {1, 0}}},
       {{{tiny_pivot_inverse, 0}, {0, 0}}, {{0, 0}, {1, 0}}},
       identity(2)},
      // The squared magnitude overflows, so the reciprocal is 0.
      {"huge pivot",
       {{{1e20f, 0}, {0, 0}}, {{0, 0}, {1, 0}}},
       {{{0, 0}, {0, 0}}, {{0, 0}, {1, 0}}},
       identity(2)},
  });
}

TEST(MatrixInversion, ElementsThatCountAsZeroLeaveTheirRowAlone) {
  check_rows({
      {"NaN element",
       {{{1, 0}, {0, 0}}, {{kNaN, kNaN}, {1, 0}}},
       identity(2),
       {{{1, 0}, {0, 0}}, {{kNaN, kNaN}, {1, 0}}}},
      {"negative zero element",
       {{{1, 0}, {0, 0}}, {{-0.0f, -0.0f}, {1, 0}}},
       identity(2),
       {{{1, 0}, {0, 0}}, {{-0.0f, -0.0f}, {1, 0}}}},
      // A non-zero imaginary part makes the row count; its NaN real part
      // then spreads through the row and the next pivot.
      {"NaN real part beside a non-zero imaginary part",
       {{{1, 0}, {0, 0}}, {{kNaN, 1}, {1, 0}}},
       {{{1, 0}, {0, 0}}, {{kNaN, kNaN}, {kNaN, kNaN}}},
       identity(2)},
      {"infinite element counts as non-zero",
       {{{1, 0}, {0, 0}}, {{kInf, 0}, {1, 0}}},
       {{{1, 0}, {0, 0}}, {{kNaN, kNaN}, {kNaN, kNaN}}},
       identity(2)},
  });
}

TEST(MatrixInversion, CovarianceOfTheTwoChannelExample) {
  ComplexMatrix a = make_matrix({{{1, 0}, {-0.75f, 0.25f}}, {{-0.75f, -0.25f}, {1, 0}}});
  const ComplexMatrix b = invert(a);
  // As the console report prints the inverse (its diagonal imaginary parts are
  // reset by the caller, so they are not checked here).
  EXPECT_TRUE(prints_as(b.re(1, 1), "2.666667"));
  EXPECT_TRUE(prints_as(b.re(1, 2), "2"));
  EXPECT_TRUE(prints_as(b.im(1, 2), "-0.6666667"));
  EXPECT_TRUE(prints_as(b.re(2, 1), "2"));
  EXPECT_TRUE(prints_as(b.im(2, 1), "0.6666667"));
  EXPECT_TRUE(prints_as(b.re(2, 2), "2.666667"));
  for (std::int64_t i = 1; i <= 2; ++i) {
    for (std::int64_t j = 1; j <= 2; ++j) {
      EXPECT_TRUE(equal_value(a.re(i, j), i == j ? 1 : 0)) << i << "," << j;
      EXPECT_TRUE(equal_value(a.im(i, j), 0)) << i << "," << j;
    }
  }
}

// A random, diagonally dominant (so well conditioned) general complex matrix:
// B times A must be the identity within single-precision rounding.
TEST(MatrixInversion, RandomMatrixTimesItsInverseIsTheIdentity) {
  constexpr std::int64_t kOrder = 6;
  std::mt19937 generator(7321);
  std::uniform_real_distribution<float> element(-1, 1);
  Rows rows(kOrder, std::vector<Complex>(kOrder));
  for (std::int64_t i = 0; i < kOrder; ++i) {
    for (std::int64_t j = 0; j < kOrder; ++j) rows[i][j] = {element(generator), element(generator)};
    rows[i][i].re += 2 * kOrder;
  }
  ComplexMatrix a = make_matrix(rows);
  const ComplexMatrix b = invert(a);
  for (std::int64_t i = 1; i <= kOrder; ++i) {
    for (std::int64_t j = 1; j <= kOrder; ++j) {
      std::complex<double> product = 0;
      for (std::int64_t l = 1; l <= kOrder; ++l) {
        product += std::complex<double>(b.re(i, l), b.im(i, l)) *
                   std::complex<double>(rows[l - 1][j - 1].re, rows[l - 1][j - 1].im);
      }
      EXPECT_TRUE(near(product.real(), i == j ? 1 : 0, 1e-6)) << i << "," << j;
      EXPECT_TRUE(near(product.imag(), 0, 1e-6)) << i << "," << j;
      EXPECT_TRUE(equal_value(a.re(i, j), i == j ? 1 : 0)) << i << "," << j;
      EXPECT_TRUE(equal_value(a.im(i, j), 0)) << i << "," << j;
    }
  }
}

}  // namespace
}  // namespace tarvel::testing
