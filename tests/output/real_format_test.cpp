#include "output/real_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support/printf_reference.h"

namespace tarvel {
namespace {

std::string format(double value, int digits) {
  char text[kRealTextCapacity];
  return std::string(text, format_real(value, digits, true, text));
}

std::string hex(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%a", value);
  return text;
}

struct RealRow {
  double value;
  const char* single_text;  // nullptr: not a single-precision value
  const char* double_text;
};

TEST(FormatReal, ValueTable) {
  const RealRow rows[] = {
      {0.0, " 0", " 0"},
      {-0.0, "-0", "-0"},
      {1.0, " 1", " 1"},
      {-1.0, "-1", "-1"},
      {0.1, " 0.1", " 0.1"},
      {1.0 / 3.0, " 0.3333333", " 0.3333333333333333"},
      {2.0 / 3.0, " 0.6666667", " 0.6666666666666666"},
      {0.0001, " 0.0001", " 0.0001"},
      {1e-5, " 1e-005", " 1e-005"},
      {1234567.0, " 1234567", " 1234567"},
      {12345678.0, " 1.234568e+007", " 12345678"},
      {123456789.0, " 1.234568e+008", " 123456789"},
      {1e20, " 1e+020", " 1e+020"},
      {-2.5e-12, "-2.5e-012", "-2.5e-012"},
      {std::numeric_limits<float>::max(), " 3.402823e+038", " 3.402823466385289e+038"},
      {1e100, nullptr, " 1e+100"},
      {1e-300, nullptr, " 1e-300"},
      {-std::numeric_limits<double>::max(), nullptr, "-1.797693134862316e+308"},
      {std::numeric_limits<double>::denorm_min(), nullptr, " 4.940656458412465e-324"},
      {-1.234567e38, "-1.234567e+038", "-1.234567e+038"},
      {std::numeric_limits<float>::denorm_min(), " 1.401298e-045", " 1.401298464324817e-045"},
      {100.0, " 100", " 100"},
      {1e6, " 1000000", " 1000000"},
      {1e7, " 1e+007", " 10000000"},
      {0.5, " 0.5", " 0.5"},
      {6.0206, " 6.0206", " 6.0206"},
  };
  for (const RealRow& row : rows) {
    if (row.single_text != nullptr) {
      double widened = static_cast<double>(static_cast<float>(row.value));
      EXPECT_EQ(format(widened, 7), row.single_text) << hex(row.value);
    }
    EXPECT_EQ(format(row.value, 16), row.double_text) << hex(row.value);
  }
}

TEST(FormatReal, InfinitiesAndEveryNanAreWrittenAlike) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(format(inf, 7), " inf");
  EXPECT_EQ(format(-inf, 7), "-inf");
  EXPECT_EQ(format(nan, 7), " nan");
  EXPECT_EQ(format(-nan, 7), " nan");
  EXPECT_EQ(format(std::copysign(nan, -1.0), 16), " nan");
  EXPECT_EQ(format(std::numeric_limits<double>::signaling_NaN(), 16), " nan");
}

TEST(FormatReal, WithoutSignBlank) {
  char text[kRealTextCapacity];
  EXPECT_EQ(std::string(text, format_real(2.5, 7, false, text)), "2.5");
  EXPECT_EQ(std::string(text, format_real(-2.5, 7, false, text)), "-2.5");
  EXPECT_EQ(std::string(text, format_real(std::nan(""), 7, false, text)), "nan");
}

using reference::printf_general;

// The widened exponent must match printf's %g in every other respect; a
// sample across the whole range, including exponents of one, two and three
// digits, halfway cases and subnormals.
TEST(FormatReal, MatchesPrintfGeneralFormWithThreeDigitExponent) {
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  for (int i = 0; i < 200000; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    double value;
    std::memcpy(&value, &state, sizeof value);
    if (std::isnan(value) || std::isinf(value)) continue;
    for (int digits : {7, 16}) {
      ASSERT_EQ(format(value, digits), printf_general(value, digits)) << hex(value);
    }
  }
}

std::string single_item(float value) {
  char text[kRealTextCapacity];
  return std::string(text, format_single_item(value, text));
}

std::string double_item(double value) {
  char text[kRealTextCapacity];
  return std::string(text, format_double_item(value, text));
}

// The items' short paths cover singles from 2^-19 to 2^23 and doubles from
// 2^-13 to 2^52; random significands over those ranges and a binade beyond
// each end, then the cases at their seams.
TEST(FormatItems, MatchPrintfOverTheShortPathsAndAtTheirEnds) {
  std::mt19937_64 random(11);
  for (int i = 0; i < 300000; ++i) {
    const std::uint64_t bits = random();
    const int single_binade = static_cast<int>(bits % 44) - 21;
    const float single =
        std::ldexp(1.0f + static_cast<float>(bits >> 41) * 0x1p-23f, single_binade);
    const float signed_single = (bits & 0x100) != 0 ? -single : single;
    ASSERT_EQ(single_item(signed_single), printf_general(signed_single, 7)) << hex(signed_single);
    const int double_binade = static_cast<int>((bits >> 8) % 68) - 15;
    const double value =
        std::ldexp(1.0 + static_cast<double>(random() >> 12) * 0x1p-52, double_binade);
    const double signed_value = (bits & 0x200) != 0 ? -value : value;
    ASSERT_EQ(double_item(signed_value), printf_general(signed_value, 16)) << hex(signed_value);
  }
  // Powers of ten and their neighbours, where the decimal exponent changes;
  // halves above 10^15, where rounding to sixteen digits is a tie either way;
  // sixteen nines, which round up into the next decade.
  std::vector<double> seams;
  for (int k = -20; k <= 17; ++k) {
    const double power = std::pow(10.0, k);
    seams.insert(seams.end(), {power, std::nextafter(power, 0.0), std::nextafter(power, 1e300)});
  }
  for (double whole = 1e15; whole < 4.6e15; whole += 1.7e14 + 1) {
    seams.insert(seams.end(), {whole + 0.5, whole + 1.5, whole + 0.25, whole + 0.75});
  }
  seams.insert(seams.end(), {9999999999999999.0 / 1e4, 0.99999999999999994, 0x1p-13, 0x1p52,
                             std::nextafter(0x1p-13, 0.0), std::nextafter(0x1p52, 0.0)});
  for (const double value : seams) {
    EXPECT_EQ(double_item(value), printf_general(value, 16)) << hex(value);
    EXPECT_EQ(double_item(-value), printf_general(-value, 16)) << hex(value);
    const float single = static_cast<float>(value);
    for (const float near : {single, std::nextafter(single, 0.0f), std::nextafter(single, 1e30f)}) {
      EXPECT_EQ(single_item(near), printf_general(near, 7)) << hex(near);
    }
  }
}

}  // namespace
}  // namespace tarvel
