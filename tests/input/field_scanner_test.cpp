#include "input/field_scanner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "input/input_test_files.h"

namespace tarvel {
namespace {

using testing::kBufferSizes;
using testing::OpenedBytes;
using testing::visible;

struct Field {
  std::string text;
  bool float_mark = false;
  bool operator==(const Field&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Field& field) {
  return out << "\"" << visible(field.text) << "\"" << (field.float_mark ? "(float)" : "");
}

Field scan(InputFile& file) {
  FieldText field;
  scan_field(file, field);
  return {std::string(field.text()), field.float_mark};
}

// Every field scanned while the file is not at its end.
std::vector<Field> scan_all(const std::string& raw, std::size_t buffer_size) {
  OpenedBytes opened(raw, buffer_size);
  std::vector<Field> fields;
  while (!at_end_of_file(opened.file())) fields.push_back(scan(opened.file()));
  return fields;
}

Field text(const std::string& text) {
  return {text, false};
}
Field floating(const std::string& text) {
  return {text, true};
}

TEST(ScanField, CutsFieldsAtEachKindOfDelimiter) {
  struct Row {
    std::string raw;
    std::vector<Field> fields;
  };
  const std::string sixty_seven(67, '1');
  const Row rows[] = {
      {"1 2", {text("1"), text("2")}},
      {"  1\t\t2  ", {text("1"), text("2")}},
      {"1,2", {text("1"), text("2")}},
      {"1 , 2", {text("1"), text("2")}},
      {"1\t,\t2", {text("1"), text("2")}},
      {"1 \n2", {text("1"), text("2")}},
      {"1 \r\n2", {text("1"), text("2")}},
      {"1 \r2", {text("1"), text("2")}},
      {"1\r2", {text("1"), text("2")}},
      {"1\r\r2", {text("1"), text(""), text("2")}},
      // Text mode made CR CR LF into CR LF: one line end after the field.
      {"1\r\r\n2", {text("1"), text("2")}},
      {"1 \r\r\n2", {text("1"), text("2")}},
      {"1\n\n2", {text("1"), text(""), text("2")}},
      {"1\n \t\n2", {text("1"), text(""), text("2")}},
      {"1,,2", {text("1"), text(""), text("2")}},
      {"1,\n2", {text("1"), text(""), text("2")}},
      {"1 ,,2", {text("1"), text(""), text("2")}},
      {"1\n", {text("1")}},
      {"1,", {text("1")}},
      {",", {text("")}},
      {"\n", {text("")}},
      {"  \t", {text("")}},
      {"1\r", {text("1")}},
      {"1 \r", {text("1")}},
      {"1 ", {text("1")}},
      // Quotes open and close stretches that keep blanks and commas.
      {"\"1 2\"3", {text("1 23")}},
      {"\"1,5\",2", {text("1,5"), text("2")}},
      {"\"1\t5\" 2", {text("1\t5"), text("2")}},
      {"1\"2 3", {text("1\"2"), text("3")}},
      {"\"\"\"1\"", {text("1")}},
      {"\"a\nb", {text("a"), text("b")}},
      {"\"a\r\nb", {text("a"), text("b")}},
      {"\"a\rb", {text("a"), text("b")}},
      {"\"\"", {text("")}},
      // Floating marks and the D-to-E rewriting.
      {"1d5 1D5", {floating("1e5"), floating("1E5")}},
      {"1.5 1e5 1E5 &d &D &h1e &.5",
       {floating("1.5"), floating("1e5"), floating("1E5"), text("&d"), text("&D"), text("&h1e"),
        text("&.5")}},
      {"1E&2 1e&d", {floating("1E&2"), floating("1e&d")}},
      {"\"1.5\"", {floating("1.5")}},
      // The field limit: the 68th byte starts the next field.
      {sixty_seven + "2 3", {text(sixty_seven), text("2"), text("3")}},
      {sixty_seven + " 3", {text(sixty_seven), text("3")}},
      {sixty_seven + ",3", {text(sixty_seven), text("3")}},
      {sixty_seven + "\n3", {text(sixty_seven), text("3")}},
      {sixty_seven, {text(sixty_seven)}},
      {"\"" + sixty_seven + "\"3", {text(sixty_seven), text("3")}},
      {std::string(66, '1') + ".5", {floating(std::string(66, '1') + "."), text("5")}},
      {std::string("a\0b\x80 c", 6), {text(std::string("a\0b\x80", 4)), text("c")}},
  };
  for (const Row& row : rows) {
    for (std::size_t buffer_size : kBufferSizes) {
      EXPECT_EQ(scan_all(row.raw, buffer_size), row.fields)
          << visible(row.raw) << " with chunks of " << buffer_size;
    }
  }
}

// What the file still holds after one field: a byte put back is pending and
// keeps the file from its end; after LF, comma, CR LF or the end of the data
// nothing is pending.
TEST(ScanField, LeavesTheNextFieldsFirstByteAndNothingElse) {
  struct Row {
    std::string raw;
    bool at_end;
    int next_byte;
  };
  const Row rows[] = {
      {"1", true, kNoByte},    {"1 ", true, kNoByte},    {"1\n", true, kNoByte},
      {"1,", true, kNoByte},   {"1\r\n", true, kNoByte}, {"1\r", true, kNoByte},
      {"1 \r", true, kNoByte}, {"1\t,", true, kNoByte},  {"1 2", false, '2'},
      {"1\r2", false, '2'},    {"1 \r2", false, '2'},    {"1\n2", false, '2'},
      {"1 ,2", false, '2'},    {"1 \t\"2", false, '"'},  {"1\r\r", false, '\r'},
  };
  for (const Row& row : rows) {
    for (std::size_t buffer_size : kBufferSizes) {
      OpenedBytes opened(row.raw, buffer_size);
      EXPECT_EQ(scan(opened.file()), text("1")) << visible(row.raw);
      EXPECT_EQ(at_end_of_file(opened.file()), row.at_end) << visible(row.raw);
      EXPECT_EQ(take_byte(opened.file()), row.next_byte)
          << visible(row.raw) << " with chunks of " << buffer_size;
    }
  }
}

std::string hex(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%a", value);
  return text;
}

// The value of one field as a double and as a single item.
struct Values {
  double as_double;
  float as_single;
};

Values read_one_field(const std::string& raw) {
  Values values{};
  {
    OpenedBytes opened(raw);
    NumericReader reader;
    EXPECT_EQ(begin_numeric_read(reader, opened.file()), kNoError);
    values.as_double = read_double_field(reader);
  }
  OpenedBytes opened(raw);
  NumericReader reader;
  EXPECT_EQ(begin_numeric_read(reader, opened.file()), kNoError);
  values.as_single = read_single_field(reader);
  return values;
}

TEST(ReadField, ConvertsSingleFields) {
  struct Row {
    std::string raw;
    double value;
  };
  const Row rows[] = {
      {"12abc", 12},
      {"1d", 1},
      {"-", 0},
      {"+", 0},
      {".", 0},
      {"&17", 15},
      {"&x12", 0},
      {"&", 0},
      {"0x1p3", 0},
      {"&h1e", 30},
      {"&HFFFF.5", 65535},
      {"1E&2", 1},
      {"1\"2", 1},
      {"\"1,5\"", 1},
      {"1D-3", 0.001},
      {"-7", -7},
      {"\"1 5\"", 1},
      {"&HFFFFFFFF", 4294967295.0},
  };
  for (const Row& row : rows) {
    const Values values = read_one_field(row.raw);
    EXPECT_EQ(values.as_double, row.value)
        << visible(row.raw) << ": " << hex(values.as_double) << " for " << hex(row.value);
    EXPECT_EQ(values.as_single, static_cast<float>(row.value))
        << visible(row.raw) << ": " << hex(values.as_single) << " for " << hex(row.value);
  }
}

TEST(ReadField, TheFieldAfterAQuotedCommaIsReadNormally) {
  OpenedBytes opened("\"1,5\" 2.5,3\n");
  NumericReader reader;
  ASSERT_EQ(begin_numeric_read(reader, opened.file()), kNoError);
  EXPECT_EQ(read_double_field(reader), 1.0);
  EXPECT_EQ(read_single_field(reader), 2.5f);
  EXPECT_EQ(read_double_field(reader), 3.0);
  EXPECT_TRUE(at_end_of_file(opened.file()));
}

TEST(ReadField, AFieldAtTheEndOfTheDataConvertsAndLeavesTheFileAtItsEnd) {
  OpenedBytes opened("1 2.5");
  NumericReader reader;
  ASSERT_EQ(begin_numeric_read(reader, opened.file()), kNoError);
  EXPECT_EQ(read_double_field(reader), 1.0);
  EXPECT_FALSE(at_end_of_file(opened.file()));
  EXPECT_EQ(read_single_field(reader), 2.5f);
  EXPECT_TRUE(at_end_of_file(opened.file()));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(read_double_field(reader), 0.0);
    EXPECT_EQ(read_single_field(reader), 0.0f);
    EXPECT_TRUE(at_end_of_file(opened.file()));
  }
}

// A statement starts where the previous one stopped: beginning a read moves
// nothing in the file.
TEST(BeginNumericRead, MovesNothing) {
  OpenedBytes opened("1 2\n3");
  NumericReader reader;
  ASSERT_EQ(begin_numeric_read(reader, opened.file()), kNoError);
  EXPECT_EQ(read_double_field(reader), 1.0);
  ASSERT_EQ(begin_numeric_read(reader, opened.file()), kNoError);
  EXPECT_EQ(read_double_field(reader), 2.0);
  ASSERT_EQ(begin_numeric_read(reader, opened.file()), kNoError);
  EXPECT_EQ(read_double_field(reader), 3.0);
}

TEST(BeginNumericRead, RefusesAFileThatIsNotOpen) {
  InputFile closed;
  NumericReader reader;
  EXPECT_EQ(begin_numeric_read(reader, closed), kIllegalFunctionCall);
  EXPECT_EQ(read_double_field(reader), 0.0);
  EXPECT_EQ(read_single_field(reader), 0.0f);
}

}  // namespace
}  // namespace tarvel

namespace tarvel {
namespace {

// Reads the whole stream as alternating double and single items, the way the
// second pass does, and records every value's bits and where the file stood.
std::vector<std::uint64_t> read_all_items(const std::string& raw, std::size_t buffer_size) {
  OpenedBytes opened(raw, buffer_size);
  NumericReader reader;
  std::vector<std::uint64_t> seen;
  for (int item = 0; !at_end_of_file(opened.file()); ++item) {
    begin_numeric_read(reader, opened.file());
    if (item % 3 == 0) {
      double value = read_double_field(reader);
      std::uint64_t bits;
      std::memcpy(&bits, &value, sizeof bits);
      seen.push_back(bits);
    } else {
      float value = read_single_field(reader);
      std::uint32_t bits;
      std::memcpy(&bits, &value, sizeof bits);
      seen.push_back(bits);
    }
  }
  return seen;
}

// The plain-number path reads straight from a large window; with a two-byte
// buffer the window is never large enough, so every field takes the general
// path. Both must read the same values from the same text, whatever it holds.
TEST(ReadField, PlainNumberPathAgreesWithTheGeneralPath) {
  const char* const pieces[] = {"0",   "1",  "7",  "9",        "-",
                                "+",   ".",  "e",  "E",        "d",
                                "&",   "H",  "x",  " ",        " ",
                                " ",   ",",  "\n", "\r\n",     "\r",
                                "\t",  "\"", "00", "12345678", "123456789012345678901",
                                "e-5", "e+", "E30"};
  std::mt19937 random(2024);
  for (int trial = 0; trial < 300; ++trial) {
    std::string raw;
    while (raw.size() < 3000) {
      // Mostly plausible numbers, with stray pieces mixed in.
      if (random() % 4 != 0) {
        std::uniform_int_distribution<int> digits(1, 20);
        if (random() % 3 == 0) raw += '-';
        const int count = digits(random);
        const int point = random() % 2 == 0 ? static_cast<int>(random() % (count + 1)) : -1;
        for (int i = 0; i < count; ++i) {
          if (i == point) raw += '.';
          raw += static_cast<char>('0' + random() % 10);
        }
        if (point == count) raw += '.';
        if (random() % 5 == 0) {
          raw += 'e';
          raw += std::to_string(static_cast<int>(random() % 60) - 30);
        }
        raw += random() % 5 == 0 ? "\n" : " ";
      } else {
        raw += pieces[random() % (sizeof pieces / sizeof pieces[0])];
      }
    }
    ASSERT_EQ(read_all_items(raw, kInputBufferSize), read_all_items(raw, 2)) << visible(raw);
  }
}

}  // namespace
}  // namespace tarvel
