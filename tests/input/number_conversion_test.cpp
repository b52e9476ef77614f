#include "input/number_conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace tarvel {
namespace {

std::string hex(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%a", value);
  return text;
}

// Same value, bit for bit (so -0 differs from 0, and any NaN equals any NaN).
template <typename T>
bool same_bits(T a, T b) {
  if (std::isnan(a) && std::isnan(b)) return true;
  return std::memcmp(&a, &b, sizeof a) == 0;
}

#define EXPECT_SAME_BITS(expected, actual, context) \
  EXPECT_TRUE(same_bits(expected, actual))          \
      << (context) << ": expected " << hex(expected) << ", got " << hex(actual)

constexpr double kInfinity = std::numeric_limits<double>::infinity();

TEST(ChooseConversion, FollowsTheFloatMarkAndTheTextLength) {
  struct Row {
    std::string text;
    bool float_mark;
    ConversionPath path;
  };
  const Row rows[] = {
      {"", false, ConversionPath::kInteger32},
      {"123456789", false, ConversionPath::kInteger32},
      {"&HFFFFFFF", false, ConversionPath::kInteger32},
      {"1234567890", false, ConversionPath::kInteger64},
      {"123456789012345678", false, ConversionPath::kInteger64},
      {"1234567890123456789", false, ConversionPath::kFloating},
      {"&H" + std::string(60, 'F'), false, ConversionPath::kInteger64},
      {" &H" + std::string(60, 'F'), false, ConversionPath::kFloating},
      {"1", true, ConversionPath::kFloating},
      {"&H1", true, ConversionPath::kFloating},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(choose_conversion(row.text, row.float_mark), row.path) << row.text;
  }
}

TEST(ParseInteger, ReadsDecimalAndEveryRadix) {
  struct Row {
    std::string text;
    std::int64_t value;
  };
  const Row rows[] = {
      {"", 0},
      {"   ", 0},
      {"12abc", 12},
      {"-7", -7},
      {"+7", 7},
      {"-0", 0},
      {"-", 0},
      {"+", 0},
      {".", 0},
      {"--5", 0},
      {"  -5", -5},
      {" \t5", 5},
      {"x5", 0},
      {"&17", 15},
      {"&x12", 0},
      {"&X12", 0},
      {"&", 0},
      {"&8", 0},
      {"&H1F", 31},
      {"&h1e", 30},
      {"&hff.5", 255},
      {"&HFFFF.5", 65535},
      {"&O17", 15},
      {"&o178", 15},
      {"&B101", 5},
      {"&b1012", 5},
      {"&H", 0},
      {"&Hg", 0},
      {" &H10", 16},
      // The radix is looked for only after blanks, not other white space.
      {"\t&H10", 0},
      {"0x1p3", 0},
      {"1e5", 1},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(parse_integer(row.text, IntegerWidth::k32), row.value) << row.text;
    EXPECT_EQ(parse_integer(row.text, IntegerWidth::k64), row.value) << row.text;
  }
}

TEST(ParseInteger, WrapsAroundItsWidth) {
  struct Row {
    std::string text;
    std::int64_t value32;
    std::int64_t value64;
  };
  const Row rows[] = {
      {"&HFFFFFFFF", -1, 4294967295},
      {"&H80000000", std::numeric_limits<std::int32_t>::min(), 2147483648},
      {"&H100000001", 1, 4294967297},
      {"&HFFFFFFFFFFFFFFFF", -1, -1},
      {"&H8000000000000000", 0, std::numeric_limits<std::int64_t>::min()},
      {"&H7FFFFFFFFFFFFFFF", -1, std::numeric_limits<std::int64_t>::max()},
      {"&H10000000000000001", 1, 1},
      {"&B" + std::string(64, '1'), -1, -1},
      {"&1777777777777777777777", -1, -1},
      {"&2000000000000000000000", 0, 0},
      {"999999999999999999", -1486618625, 999999999999999999},
      {"-999999999999999999", 1486618625, -999999999999999999},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(parse_integer(row.text, IntegerWidth::k32), row.value32) << row.text;
    EXPECT_EQ(parse_integer(row.text, IntegerWidth::k64), row.value64) << row.text;
  }
}

TEST(ParseFloating, TakesTheLongestNumericPrefix) {
  struct Row {
    std::string text;
    double value;
  };
  const Row rows[] = {
      {"0.5", 0.5},
      {"1e", 1.0},
      {"2e+", 2.0},
      {"2e-", 2.0},
      {"1.5e", 1.5},
      {"3.", 3.0},
      {".5", 0.5},
      {"1.5e3x", 1500.0},
      {"1E-3", 0.001},
      {"1e+5", 1e5},
      {"1E&2", 1.0},
      {"1..5", 1.0},
      {"0.1", 0.1},
      {"+1.5", 1.5},
      {"-1.5", -1.5},
      {" \t\n1.5", 1.5},
      {"-0", -0.0},
      {"-0.0e5", -0.0},
      {"", 0.0},
      {".", 0.0},
      {"-", 0.0},
      {"+", 0.0},
      {"e5", 0.0},
      {"+-1", 0.0},
      {"-+1", 0.0},
      {"--1", 0.0},
      {"\xef\xbb\xbf"
       "0.5",
       0.0},
      {std::string(67, '1'), 1.1111111111111112e66},
      {"1e400", kInfinity},
      {"-1e400", -kInfinity},
      {"1e-400", 0.0},
      {"-1e-400", -0.0},
      {"4.9406564584124654e-324", std::numeric_limits<double>::denorm_min()},
      {"2.5e-324", std::numeric_limits<double>::denorm_min()},
      {"2.4e-324", 0.0},
      {"1e-310", 1e-310},
      {"1.7976931348623158e308", std::numeric_limits<double>::max()},
      {"1.7976931348623159e308", kInfinity},
      {"inf", kInfinity},
      {"-Infinity", -kInfinity},
      {"INFx", kInfinity},
      {"in", 0.0},
      {"0x1p3", 8.0},
      {"-0x1.8p1", -3.0},
      {"0X.8", 0.5},
      {"0x1p", 1.0},
      {"0x", 0.0},
      {"-0x", -0.0},
      {"0x-1", 0.0},
      {"0xg", 0.0},
      {"0x1p99999", kInfinity},
      {"0x1p-99999", 0.0},
  };
  for (const Row& row : rows) {
    EXPECT_SAME_BITS(row.value, parse_floating(row.text), row.text);
  }
  EXPECT_TRUE(std::isnan(parse_floating("nan")));
  EXPECT_TRUE(std::isnan(parse_floating("-NaN(123)x")));
}

// strtod is correctly rounded and takes the same longest prefix, so the two
// must agree bit for bit on any text.
TEST(ParseFloating, AgreesWithStrtodOnRandomTexts) {
#ifdef _WIN32
  GTEST_SKIP() << "the reference needs glibc's strtod; MinGW's gives -0 for a '-' before no number";
#endif
  std::mt19937 random(42);
  const char alphabet[] = "0123456789012345678901234567890123456789..eE+-  xpPaf";
  std::uniform_int_distribution<int> pick(0, sizeof alphabet - 2);
  std::uniform_int_distribution<int> length(1, 67);
  for (int round = 0; round < 200000; ++round) {
    std::string text;
    for (int i = length(random); i > 0; --i) text += alphabet[pick(random)];
    if (round % 4 == 0) text.insert(0, "0x");
    const double expected = std::strtod(text.c_str(), nullptr);
    const double actual = parse_floating(text);
    ASSERT_TRUE(same_bits(expected, actual))
        << text << ": strtod " << hex(expected) << ", got " << hex(actual);
  }
}

// Short decimal texts, whose digits fit in 64 bits and whose power of ten is
// small: the range of the exact multiply-or-divide conversion and just beyond
// it, in every layout of point, leading zeros and exponent.
TEST(ParseFloating, AgreesWithStrtodOnShortDecimals) {
  std::mt19937_64 random(2024);
  for (int round = 0; round < 300000; ++round) {
    const int bits = static_cast<int>(random() % 56);
    std::uint64_t mantissa = bits == 0 ? 0 : random() >> (64 - bits);
    if (round % 10 == 0) mantissa = (std::uint64_t{1} << 53) - 1 + random() % 3;
    const std::string digits = std::string(random() % 3, '0') + std::to_string(mantissa);
    const std::size_t point = random() % (digits.size() + 2);
    std::string text = random() % 4 == 0 ? "-" : "";
    if (point <= digits.size()) {
      text += digits.substr(0, point) + '.' + digits.substr(point);
    } else {
      text += digits;
    }
    const int exponent = static_cast<int>(random() % 61) - 30;
    if (random() % 3 != 0) {
      text += random() % 2 ? 'e' : 'E';
      text += std::to_string(exponent);
    }
    const double expected = std::strtod(text.c_str(), nullptr);
    ASSERT_TRUE(same_bits(expected, parse_floating(text)))
        << text << ": strtod " << hex(expected) << ", got " << hex(parse_floating(text));
  }
}

// Decimal texts near halfway points between doubles, the hard cases of
// correct rounding.
TEST(ParseFloating, RoundsHalfwayCasesLikeStrtod) {
  std::mt19937_64 random(99);
  for (int round = 0; round < 100000; ++round) {
    double value;
    const std::uint64_t bits = random() & 0x7fefffffffffffffULL;
    std::memcpy(&value, &bits, sizeof value);
    const double next = std::nextafter(value, kInfinity);
    if (std::isinf(next)) continue;
    // The midpoint to the next double (exact in the 64-bit significand of
    // long double), printed to 61 digits and cut to 20 to 60 of them.
    char exact[128];
    std::snprintf(exact, sizeof exact, "%.60Le",
                  static_cast<long double>(value) + (static_cast<long double>(next) - value) / 2);
    std::string text = exact;
    const std::size_t exponent = text.find('e');
    std::string mantissa = text.substr(0, exponent);
    mantissa.resize(std::min<std::size_t>(mantissa.size(), 20 + random() % 40));
    text = mantissa + text.substr(exponent);
    const double expected = std::strtod(text.c_str(), nullptr);
    ASSERT_TRUE(same_bits(expected, parse_floating(text)))
        << text << ": strtod " << hex(expected) << ", got " << hex(parse_floating(text));
  }
}

TEST(ConvertToDouble, ConvertsEachPathToTheNearestDouble) {
  struct Row {
    std::string text;
    bool float_mark;
    double value;
  };
  const Row rows[] = {
      {"123456789", false, 123456789.0},
      {"-0", false, 0.0},
      {"&HFFFFFFFF", false, 4294967295.0},
      {"&HFFFFFFF", false, 268435455.0},
      // 2^53 + 1 has no double: ties to even.
      {"9007199254740993", false, 9007199254740992.0},
      {"9007199254740995", false, 9007199254740996.0},
      {"&H8000000000000000", false, -9223372036854775808.0},
      {std::string(67, '1'), false, 1.1111111111111112e66},
      {"1234567890123456789", false, 1234567890123456768.0},
      {"0x1p3", false, 0.0},
      {"1e-3", true, 0.001},
      {"", false, 0.0},
      {"", true, 0.0},
  };
  for (const Row& row : rows) {
    EXPECT_SAME_BITS(row.value, convert_to_double(row.text, row.float_mark), row.text);
  }
}

TEST(ConvertToSingle, RoundsIntegersOnceAndFloatingTextsTwice) {
  struct Row {
    std::string text;
    bool float_mark;
    float value;
  };
  const Row rows[] = {
      {"16777217", false, 16777216.0f},
      {"16777219", false, 16777220.0f},
      {"1234567890", false, 1234567936.0f},
      {"-0", false, 0.0f},
      {"-7", false, -7.0f},
      // 2^54 + 2^30 + 1: straight to single it rounds up; through double it
      // would land on the midpoint 2^54 + 2^30 and round down to even.
      {"18014399583223809", false, 18014400656965632.0f},
      // The text lies just above the midpoint between 1 and the next single;
      // rounded to double first it becomes that midpoint, which rounds to
      // even.
      {"1.00000005960464477550", true, 1.0f},
      {"1.0000000596046448", true, 1.0f},
      {"1.0000000596046449", true, 1.00000012f},
      {"1e39", true, std::numeric_limits<float>::infinity()},
      {"-1e39", true, -std::numeric_limits<float>::infinity()},
      {"1e-46", true, 0.0f},
      {"-0.0", true, -0.0f},
      {"0.1", true, 0.1f},
      {"1.5e", true, 1.5f},
      {std::string(20, '9'), false, 1e20f},
  };
  for (const Row& row : rows) {
    EXPECT_SAME_BITS(row.value, convert_to_single(row.text, row.float_mark), row.text);
  }
}

}  // namespace
}  // namespace tarvel
