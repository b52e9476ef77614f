#include "output/output_lines.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "output/real_format.h"

namespace tarvel {
namespace {

// Values of every kind an item can hold: mostly the common ones the short
// paths take, and now and then one they leave to the general rules, so that
// groups of lines mix both.
class ItemValues {
 public:
  explicit ItemValues(std::uint64_t seed) : random_(seed) {}

  double time(std::int64_t n) {
    switch (random_() % 8) {
      case 0:
        return special();
      case 1:
        return std::bit_cast<double>(random_());
      default:
        return static_cast<double>(n) / 48000.0;
    }
  }

  float part() {
    switch (random_() % 10) {
      case 0:
        return static_cast<float>(special());
      case 1:
        return std::bit_cast<float>(static_cast<std::uint32_t>(random_()));
      default:
        return normal_(random_);
    }
  }

 private:
  double special() {
    const double values[] = {0.0,
                             -0.0,
                             std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             1e-5,
                             -3e-7,
                             5e15,
                             1e300,
                             std::numeric_limits<double>::denorm_min()};
    return values[random_() % std::size(values)];
  }

  std::mt19937_64 random_;
  std::normal_distribution<float> normal_{0.0f, 0.5f};
};

std::string one_by_one(double t, float yr, float yi) {
  char text[kRealTextCapacity];
  std::string line(text, format_real(t, kDoubleDigits, true, text));
  line += ' ';
  line.append(text, format_real(yr, kSingleDigits, true, text));
  line += ' ';
  line.append(text, format_real(yi, kSingleDigits, true, text));
  return line + "\r\n";
}

// Lines are formatted in groups; any run of lines, whatever its start and
// length against the groups, reads as its items formatted one by one.
TEST(FormatLines, AnyRunOfLinesReadsAsItsItemsOneByOne) {
  const std::int64_t line_count = 3000;
  Array1<double> t;
  Array1<float> yr;
  Array1<float> yi;
  ASSERT_EQ(t.allocate(line_count), kNoError);
  ASSERT_EQ(yr.allocate(line_count), kNoError);
  ASSERT_EQ(yi.allocate(line_count), kNoError);
  ItemValues values(5);
  std::vector<std::string> lines(line_count + 1);
  for (std::int64_t n = 1; n <= line_count; ++n) {
    t(n) = values.time(n);
    yr(n) = values.part();
    yi(n) = values.part();
    lines[n] = one_by_one(t(n), yr(n), yi(n));
  }
  const std::int64_t runs[][2] = {{1, 1},   {1, 31},  {1, 32},   {1, 33},   {2, 65},
                                  {31, 97}, {40, 40}, {1, 1024}, {7, 3000}, {1, 3000}};
  std::vector<char> buffer(line_count * kLineCapacity);
  for (const auto& run : runs) {
    std::string expected;
    for (std::int64_t n = run[0]; n <= run[1]; ++n) expected += lines[n];
    const char* start = buffer.data();
    const char* end = format_lines(t, yr, yi, run[0], run[1], buffer.data());
    EXPECT_EQ(std::string(start, end), expected) << run[0] << " to " << run[1];
  }
}

}  // namespace
}  // namespace tarvel
