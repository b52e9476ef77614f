// The portable extended type against the values the x87 gives: the one
// rounding to float and double at midpoints, subnormal results and overflow,
// the special values, and every operation on a table of operands and on
// millions of drawn ones, compared with the hardware's long double where the
// compiler has the x87 format and with MPFR where the build found it.
#include "combine/portable_extended.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "support/extended_comparison.h"

namespace tarvel {
namespace {

using testing::image_of;
using testing::kLongDoubleIsX87;
using testing::Operation;
using testing::X87Image;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

std::string describe(const X87Image& image) {
  char text[40];
  std::snprintf(text, sizeof text, "%04x:%016llx", image.sign_exponent,
                static_cast<unsigned long long>(image.significand));
  return text;
}

// The exact value (high + low) 2^scale, low within 63 bits of high.
PortableExtended exact_value(double high, double low, int scale) {
  return (PortableExtended(high) + PortableExtended(low)) *
         PortableExtended(std::ldexp(1, scale / 2)) *
         PortableExtended(std::ldexp(1, scale - scale / 2));
}

struct RoundingRow {
  double high, low;
  float as_float;
  double as_double;
  int scale = 0;
};

TEST(PortableExtended, RoundsOnceToFloatAndDoubleWithTiesToEven) {
  const RoundingRow rows[] = {
      {1, 0x1p-24, 1, 1 + 0x1p-24},  // float tie, to even
      {1, 0x1p-24 + 0x1p-62, 1 + 0x1p-23f, 1 + 0x1p-24},
      {1, -0x1p-25 - 0x1p-60, 1 - 0x1p-24f, 1 - 0x1p-25},
      {1 + 0x1p-23, 0x1p-24, 1 + 0x1p-22f, 1 + 0x1p-23 + 0x1p-24},  // tie, up to even
      {1, 0x1p-53, 1, 1},                                           // double tie
      {1, 0x1p-53 + 0x1p-63, 1, 1 + 0x1p-52},
      {-1, -0x1p-53 - 0x1p-63, -1, -1 - 0x1p-52},
      {0x1.8p-149, 0, 0x1p-148f, 0x1.8p-149},  // subnormal tie, to even
      {0x1p-150, 0, 0, 0x1p-150},              // half the smallest: to zero
      {0x1p-150, 0x1p-200, 0x1p-149f, 0x1p-150 + 0x1p-200},
      {-0x1p-151, 0, -0.0f, -0x1p-151},
      {0x1p-126, -0x1p-150, 0x1p-126f, 0x1p-126 - 0x1p-150},  // up into the normal range
      {0x1p-126, -0x1p-149, 0x1p-126f - 0x1p-149f, 0x1p-126 - 0x1p-149},
      {0x1.fffffep127, 0x1p103, std::numeric_limits<float>::infinity(), 0x1.fffffep127 + 0x1p103},
      {0x1.fffffep127, 0x1p103 - 0x1p80, 0x1.fffffep127f, 0x1.fffffep127 + (0x1p103 - 0x1p80)},
      {1, 0, 0, 0, -1075},  // half the smallest double: to zero
      {1, 0x1p-25, 0, 0x1p-1074, -1075},
      {1.5, 0, 0, 0x1p-1073, -1074},  // subnormal tie, to even
      {1, 0, std::numeric_limits<float>::infinity(), kInf, 1024},
      {0x1.fffffffffffffp1023, 0x1p970, std::numeric_limits<float>::infinity(), kInf},
      {0x1.fffffffffffffp1023, 0x1p969, std::numeric_limits<float>::infinity(),
       0x1.fffffffffffffp1023},
      {-0.0, 0, 0, 0},  // -0 + 0 is +0
      {-kInf, 0, -std::numeric_limits<float>::infinity(), -kInf},
  };
  for (const RoundingRow& row : rows) {
    const PortableExtended value = exact_value(row.high, row.low, row.scale);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(static_cast<float>(value)),
              std::bit_cast<std::uint32_t>(row.as_float))
        << std::hexfloat << row.high << " + " << row.low << " at " << row.scale << " gives "
        << static_cast<float>(value) << ", not " << row.as_float;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(static_cast<double>(value)),
              std::bit_cast<std::uint64_t>(row.as_double))
        << std::hexfloat << row.high << " + " << row.low << " at " << row.scale << " gives "
        << static_cast<double>(value) << ", not " << row.as_double;
  }
}

TEST(PortableExtended, ConvertsFloatsDoublesAndIntegersExactly) {
  EXPECT_EQ(static_cast<double>(PortableExtended(0x1p-149f)), 0x1p-149);
  EXPECT_EQ(static_cast<double>(PortableExtended(0x1p-1074)), 0x1p-1074);
  EXPECT_EQ(static_cast<double>(PortableExtended(0x1.fffffffffffffp1023)), 0x1.fffffffffffffp1023);
  EXPECT_EQ(static_cast<double>(PortableExtended(std::int64_t{-(1LL << 53) - 1})),
            -0x1p53);  // exact in the type, its double a tie to even
  EXPECT_EQ(PortableExtended(std::numeric_limits<std::int64_t>::min()), PortableExtended(-0x1p63));
  EXPECT_EQ(PortableExtended(std::int64_t{(1LL << 62) + 1}) - PortableExtended(0x1p62),
            PortableExtended(1));  // all 63 bits kept
  EXPECT_TRUE(PortableExtended(-0.0).is_negative());
  EXPECT_FALSE(PortableExtended(0).is_negative());
  EXPECT_TRUE(std::isnan(static_cast<float>(PortableExtended(kNan))));
}

TEST(PortableExtended, SpecialValuesBehaveAsOnTheX87) {
  const PortableExtended zero = 0.0, negative_zero = -0.0, one = 1.0, inf = kInf;
  const X87Image default_nan{0xFFFF, 0xC000000000000000};
  EXPECT_EQ(image_of(zero * inf), default_nan);
  EXPECT_EQ(image_of(inf - inf), default_nan);
  EXPECT_EQ(image_of(zero / zero), default_nan);
  EXPECT_EQ(image_of(inf / -inf), default_nan);
  EXPECT_EQ(image_of(sqrt(-one)), default_nan);
  EXPECT_EQ(image_of(negative_zero + negative_zero), image_of(negative_zero));
  EXPECT_EQ(image_of(zero + negative_zero), image_of(zero));
  EXPECT_EQ(image_of(one - one), image_of(zero));
  EXPECT_EQ(image_of(-one / zero), image_of(-inf));
  EXPECT_EQ(image_of(one / -inf), image_of(negative_zero));
  EXPECT_EQ(image_of(sqrt(negative_zero)), image_of(negative_zero));
  EXPECT_EQ(image_of(sqrt(inf)), image_of(inf));
  // A NaN operand passes: the larger payload, else the positive one, quiet.
  const PortableExtended small = PortableExtended::from_x87(0xFFFF, 0xC000000000000001);
  const PortableExtended large = PortableExtended::from_x87(0x7FFF, 0xC000000000000002);
  const PortableExtended signalling = PortableExtended::from_x87(0xFFFF, 0x8000000000000005);
  EXPECT_EQ(image_of(small * large), image_of(large));
  EXPECT_EQ(image_of(large - small), image_of(large));
  EXPECT_EQ(image_of(small + -small), (X87Image{0x7FFF, 0xC000000000000001}));
  EXPECT_EQ(image_of(-small + small), (X87Image{0x7FFF, 0xC000000000000001}));
  EXPECT_EQ(image_of(one - small), image_of(small));  // not negated
  EXPECT_EQ(image_of(signalling / one), (X87Image{0xFFFF, 0xC000000000000005}));
  EXPECT_EQ(image_of(signalling + small), image_of(small));
  EXPECT_EQ(std::bit_cast<std::uint32_t>(static_cast<float>(large)), 0x7FC00000u);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(static_cast<double>(small)), 0xFFF8000000000000u);
  EXPECT_FALSE(small == small);
  EXPECT_FALSE(small < one || small > one || small <= one || small >= one);
  EXPECT_TRUE(zero == negative_zero && !(negative_zero < zero) && zero <= negative_zero);
  EXPECT_TRUE(-inf < -one && -one < negative_zero && one < inf);
}

TEST(PortableExtended, SquareRootsOfSquaresAreExact) {
  const double roots[] = {1,       3, 0x1.fffffffffffffp0, 4294967297.0, 0x1.23456789abcdep-500,
                          0x1p-537};
  for (const double root : roots) {
    const PortableExtended r = root;
    EXPECT_EQ(image_of(sqrt(r * r)), image_of(r)) << std::hexfloat << root;
  }
  // sqrt 2, and the root of the largest significand below 2, a quarter unit
  // lower, round to the same value.
  const X87Image root_of_two{0x3FFF, 0xB504F333F9DE6484};
  EXPECT_EQ(image_of(sqrt(PortableExtended(2))), root_of_two);
  EXPECT_EQ(image_of(sqrt(PortableExtended::from_x87(0x3FFF, ~std::uint64_t{0}))), root_of_two);
}

// The operands of the table: zeros, infinities, NaN, values next to 1 and
// at the ends of the significand, float and double extremes, and exponents
// far outside the double range.
const long double kTableOperands[] = {0.0L,
                                      -0.0L,
                                      HUGE_VALL,
                                      -HUGE_VALL,
                                      std::numeric_limits<long double>::quiet_NaN(),
                                      1.0L,
                                      -1.0L,
                                      3.0L,
                                      0x1.0000000000000002p0L,
                                      0x1.fffffffffffffffep0L,
                                      -0x1.fffffffffffffffep-1L,
                                      1 + 0x1p-24L,
                                      1 + 0x1p-53L,
                                      0x1p-149L,
                                      0x1p-1074L,
                                      0x1.fffffep127L,
                                      0x1.fffffffffffffp1023L,
                                      0x1.8p-150L,
                                      0x1.23456789abcdef01p5000L,
                                      -0x1.fedcba9876543211p-5000L,
                                      0x1p16000L,
                                      0x1p-16000L};

template <class Report>
void compare_table(Report&& report) {
  testing::Comparison tally;
  for (const long double a : kTableOperands) {
    for (const long double b : kTableOperands) {
      for (const Operation operation : testing::kOperations) {
        testing::compare_with_hardware(operation, testing::portable_of(a), testing::portable_of(b),
                                       tally, report);
      }
    }
  }
  EXPECT_EQ(tally.mismatches, 0);
  EXPECT_LT(tally.skipped, tally.cases / 10);
}

const auto kReportMismatch = [](Operation operation, const PortableExtended& a,
                                const PortableExtended& b, const X87Image& got,
                                const X87Image& expected) {
  ADD_FAILURE() << describe(image_of(a)) << " " << testing::name_of(operation) << " "
                << describe(image_of(b)) << " gives " << describe(got) << ", expected "
                << describe(expected);
};

TEST(PortableExtended, EveryOperationOnATableMatchesTheX87) {
  if (!kLongDoubleIsX87) GTEST_SKIP() << "long double is not the x87 format here";
  compare_table(kReportMismatch);
}

// Each operation on a million drawn operand pairs, bit for bit.
constexpr std::int64_t kDrawnPairs = 1000000;

TEST(PortableExtended, DrawnOperationsMatchTheX87) {
  if (!kLongDoubleIsX87) GTEST_SKIP() << "long double is not the x87 format here";
  testing::Random random(12);
  testing::Comparison tally;
  for (std::int64_t i = 0; i < kDrawnPairs && tally.mismatches < 10; ++i) {
    const int kind = static_cast<int>(i % testing::kOperandKinds);
    const PortableExtended a = testing::draw_operand(random, kind);
    const PortableExtended b = testing::draw_partner(random, kind, a);
    for (const Operation operation : testing::kOperations) {
      testing::compare_with_hardware(operation, a, b, tally, kReportMismatch);
    }
  }
  EXPECT_EQ(tally.mismatches, 0);
  EXPECT_EQ(tally.skipped, 0);
}

#if defined(TARVEL_HAVE_MPFR)
TEST(PortableExtended, DrawnOperationsAreCorrectlyRoundedAsMpfrRoundsThem) {
  testing::MpfrReference mpfr;
  testing::Random random(13);
  testing::Comparison tally;
  for (std::int64_t i = 0; i < kDrawnPairs / 5 && tally.mismatches < 10; ++i) {
    const int kind = static_cast<int>(i % testing::kOperandKinds);
    const PortableExtended a = testing::draw_operand(random, kind);
    const PortableExtended b = testing::draw_partner(random, kind, a);
    for (const Operation operation : testing::kOperations) {
      testing::compare_with_mpfr(mpfr, operation, a, b, tally, kReportMismatch);
    }
  }
  EXPECT_EQ(tally.mismatches, 0);
}
#endif

}  // namespace
}  // namespace tarvel
