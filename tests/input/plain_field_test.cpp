#include "input/plain_field.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "input/field_scanner.h"
#include "input/input_test_files.h"

namespace tarvel {
namespace {

using testing::OpenedBytes;
using testing::visible;

std::string hex(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%a", value);
  return text;
}

// The plain path reads a field straight from the window. A field that ends
// the data right after a long run of blanks lies a few bytes from the end of
// the window, and the bytes past that end are not data: here they are left
// over from the previous chunk ("67" and an LF), so a read that looked past
// the end would see the digits run on and the field go on past the data.
TEST(ReadPlainField, NeverLooksPastTheEndOfTheWindow) {
  constexpr std::size_t kChunk = 256;
  struct Row {
    std::string last_field;
    double value;
  };
  const Row rows[] = {
      {"12345", 12345}, {"-1234", -1234}, {"1234.5", 1234.5}, {"12.25", 12.25}, {"123456", 123456},
  };
  for (const Row& row : rows) {
    // The second chunk: a field "5" with its LF, a run of 140 blanks, and the
    // last field.
    std::string second = "5\n";
    second.append(140, ' ').append(row.last_field);
    // The first chunk, read whole by its fields 1, 67 and 9: its bytes just
    // past the length of the second chunk are "67" and an LF.
    std::string first = "1";
    first.append(second.size() - 1, ' ').append("67\n").append(" 9");
    first.append(kChunk - first.size() - 1, ' ').append("\n");
    ASSERT_EQ(first.size(), kChunk);

    OpenedBytes opened(first + second, kChunk);
    NumericReader reader;
    ASSERT_EQ(begin_numeric_read(reader, opened.file()), kNoError);
    const double expected[] = {1, 67, 9, 5, row.value};
    for (double value : expected) {
      const double read = read_double_field(reader);
      ASSERT_EQ(read, value) << visible(row.last_field) << ": " << hex(read) << " for "
                             << hex(value);
    }
    EXPECT_TRUE(at_end_of_file(opened.file())) << visible(row.last_field);
  }
}

// Fraction digits past one word are read in a second one, up to nineteen
// digits in all; every such field reads as the general path reads it, and
// leaves the window at the same place.
TEST(ReadPlainField, LongFractionsReadAsTheGeneralPathReadsThem) {
  const std::string fields[] = {
      "0.12345678",
      "0.123456789",
      "12.34567891",
      "0.0001041666667",
      "2.083333333e-05",
      "-20.83331250000000",
      "1234567.123456789012",
      "1234567.1234567890123",
      "9999999.999999999999",
      "0.000000000000001",
      "0.1234567890123456",
      "7.12345678901234567",
      "1.00000000",
      "99.999999999999999e-3",
      "0.9999999999999999999",
      "9999999.9999999999999",
      "1844674.4073709552850",
  };
  for (const std::string& text : fields) {
    const std::string raw = "x " + text + " 1\n" + std::string(300, ' ') + "\n";
    double general_value = 0;
    {
      OpenedBytes input(raw);
      NumericReader general;
      ASSERT_EQ(begin_numeric_read(general, input.file()), kNoError);
      read_general_double_field(general);
      general_value = read_general_double_field(general);
    }
    OpenedBytes fast_input(raw);
    NumericReader fast;
    ASSERT_EQ(begin_numeric_read(fast, fast_input.file()), kNoError);
    read_general_double_field(fast);
    EXPECT_EQ(hex(read_double_field(fast)), hex(general_value)) << text;
    EXPECT_EQ(read_double_field(fast), 1.0) << text;
    EXPECT_EQ(read_single_field(fast), 0.0f) << text;
    EXPECT_TRUE(at_end_of_file(fast_input.file())) << text;
  }
}

}  // namespace
}  // namespace tarvel
