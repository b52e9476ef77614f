#include "input/two_pass_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "input/input_test_files.h"
#include "runtime/open_files.h"
#include "runtime/report_lines.h"
#include "support/abort_report.h"
#include "support/temp_folder.h"

namespace tarvel {
namespace {

using testing::abort_report;
using testing::letters;
using testing::TempFolder;
using testing::visible;

constexpr float kInfinity = std::numeric_limits<float>::infinity();

std::string hex(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%a", value);
  return text;
}

bool same_bits(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || (a == b && std::signbit(a) == std::signbit(b));
}

FirstPass count_lines_of(const std::string& raw) {
  TempFolder folder;
  folder.write("data.txt", raw);
  return count_lines(folder.file("data.txt"));
}

TEST(CountLines, CountsTheLinesAndKeepsTheFirst) {
  struct Row {
    std::string raw;
    std::int64_t count;
    std::string first_line;
  };
  const Row rows[] = {
      {"a b\nc d\n", 2, "a b"},
      {"a b\nc d", 2, "a b"},
      {"a b\r\nc d\r\n", 2, "a b"},
      {"a b\r\n\r\n", 2, "a b"},
      {"", 0, ""},
      {"\n", 1, ""},
      {"a b\n   ", 2, "a b"},
      {"a\rb\n", 1, "a\rb"},
      {"a b\r", 1, "a b"},
      {"a\rb\rc\r", 1, "a\rb\rc"},
      {std::string("ab\0cd\n", 6), 1, std::string("ab\0cd", 5)},
      {std::string("ab\0\0", 4), 1, "ab"},
      {"x\x1ay\n", 1, "x"},
      {"1 2\n\x1a", 1, "1 2"},
      {letters(1000) + "\n", 1, letters(1000)},
      {letters(510) + "\ryyy\n", 2, letters(510)},
      {"\xef\xbb\xbf"
       "1 2\n",
       1,
       "\xef\xbb\xbf"
       "1 2"},
      {"1 2\n" + letters(510) + "\ryyy\n", 3, "1 2"},
      {"1 2\n" + letters(511) + "\n" + letters(511), 3, "1 2"},
      {"1 2\n" + letters(509) + "\r\r\n", 2, "1 2"},
      {"1 2\n" + letters(510) + "\r\r\n", 3, "1 2"},
  };
  for (const Row& row : rows) {
    const FirstPass pass = count_lines_of(row.raw);
    EXPECT_EQ(pass.line_count, row.count) << visible(row.raw);
    EXPECT_EQ(pass.first_line, row.first_line) << visible(row.raw);
    EXPECT_FALSE(is_file_open(kInputFileNumber));
  }
}

// A file far larger than the read buffer, with CR and NUL bytes near the
// piece ends, counted exactly as the piece-by-piece reference counts it.
TEST(CountLines, CountsABigFileExactly) {
  std::mt19937 random(3);
  std::uniform_int_distribution<int> length(0, 1200);
  std::uniform_int_distribution<int> roll(0, 99);
  std::string raw;
  while (raw.size() < 3 * kInputBufferSize) {
    const int size = length(random);
    for (int i = 0; i < size; ++i) {
      const int r = roll(random);
      raw += r < 2 ? '\r' : r < 4 ? '\0' : r < 30 ? ' ' : '7';
    }
    raw += roll(random) < 80 ? "\n" : roll(random) < 50 ? "\r\n" : "\r";
  }
  const std::vector<std::string> lines = testing::reference_lines(testing::reference_delivery(raw));
  const FirstPass pass = count_lines_of(raw);
  EXPECT_EQ(pass.line_count, static_cast<std::int64_t>(lines.size()));
  EXPECT_EQ(pass.first_line, lines.front());
}

// The field count, done the literal way: one scan and one removal per round.
std::int64_t reference_count_fields(std::string w) {
  while (!w.empty() && (w.back() == ' ' || w.back() == '\0')) w.pop_back();
  std::int64_t n = 0;
  for (std::size_t p = 1; p > 0; ++n) {
    const std::size_t leading = std::min(w.find_first_not_of(' '), w.size());
    const std::size_t space = w.substr(leading).find(' ');
    p = space == std::string::npos ? 0 : space + 1;
    w.erase(0, std::min(p, w.size()));
  }
  return (n - 1) / 2;
}

TEST(CountFields, CountsTheRoundsOfEachFirstLine) {
  struct Row {
    std::string line;
    std::int64_t channels;
  };
  const Row rows[] = {
      {"", 0},
      {"   ", 0},
      {"1", 0},
      {"1 2", 0},
      {"1 2 3", 1},
      {"1 2 3 4", 1},
      {"1 2 3 4 5", 2},
      {"1 2 3 4 5 6 7", 3},
      {" 1 2 3", 1},
      {"  1 2 3", 1},
      {"  12 34 56", 1},
      {"1  2 3", 1},
      {"1   2 3", 1},
      {"1  2  3  4  5", 2},
      {"1 2 3   ", 1},
      {"1\t2\t3", 0},
      {"1,2,3", 0},
      {"1, 2, 3", 1},
      {"1 2 3 \t", 1},
      {std::string("1 2 3\0 \0", 8), 1},
      {std::string("1 2 3\0 4", 8), 1},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(count_fields(row.line), row.channels) << "\"" << visible(row.line) << "\"";
    EXPECT_EQ(reference_count_fields(row.line), row.channels) << "reference";
  }
}

TEST(CountFields, AgreesWithTheLiteralRoundsOnRandomLines) {
  std::mt19937 random(5);
  const char alphabet[] = {' ', ' ', ' ', ' ', '1', '2', '\t', '\0'};
  std::uniform_int_distribution<int> pick(0, sizeof alphabet - 1);
  std::uniform_int_distribution<int> length(0, 40);
  for (int round = 0; round < 20000; ++round) {
    std::string line;
    for (int i = length(random); i > 0; --i) line += alphabet[pick(random)];
    ASSERT_EQ(count_fields(line), reference_count_fields(line)) << "\"" << visible(line) << "\"";
  }
}

// A first line of many leading spaces must not cost one scan of them per
// round.
TEST(CountFields, HandlesALongRunOfLeadingSpaces) {
  const std::string spaces(4'000'000, ' ');
  // Rounds of 2 spaces each take all 4000000 of them (2000000 rounds); then
  // one round takes "1 " and a last one finds no space: n = 2000002.
  EXPECT_EQ(count_fields(spaces + "1 2"), 1'000'000);
  // Rounds of 3 spaces leave 1 of them (1333333 rounds); then one round takes
  // " 12" and a last one finds no space: n = 1333335.
  EXPECT_EQ(count_fields(spaces + "12 3"), 666'667);
  EXPECT_EQ(reference_count_fields(std::string(4000, ' ') + "12 3"), (1333 + 2 - 1) / 2);
}

TEST(AllocateSampleTable, GivesTheCodeOfTheFirstFailingArray) {
  struct Row {
    std::int64_t samples;
    std::int64_t channels;
    RuntimeErrorCode code;
  };
  constexpr std::int64_t kPastInt32 = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  const Row rows[] = {
      {0, 0, kIllegalFunctionCall},
      {0, 3, kIllegalFunctionCall},
      {3, 0, kIllegalFunctionCall},
      {-1, 3, kIllegalFunctionCall},
      {kPastInt32, 1, kOutOfMemory},
      {1, kPastInt32, kOutOfMemory},
      {3, 2, kNoError},
  };
  for (const Row& row : rows) {
    SampleTable table;
    EXPECT_EQ(allocate_sample_table(table, row.samples, row.channels), row.code)
        << row.samples << " x " << row.channels;
    // t comes first: it exists exactly when S alone is a valid bound.
    EXPECT_EQ(table.t.size(), row.samples >= 1 && row.samples < kPastInt32 ? row.samples : 0);
  }
  SampleTable table;
  ASSERT_EQ(allocate_sample_table(table, 3, 2), kNoError);
  EXPECT_EQ(table.xr.rows(), 3);
  EXPECT_EQ(table.xr.columns(), 2);
  EXPECT_EQ(table.xi.rows(), 3);
  EXPECT_EQ(table.xi.columns(), 2);
  for (std::int64_t n = 1; n <= 3; ++n) {
    EXPECT_EQ(table.t(n), 0.0);
    for (std::int64_t k = 1; k <= 2; ++k) {
      EXPECT_EQ(table.xr(n, k), 0.0f);
      EXPECT_EQ(table.xi(n, k), 0.0f);
    }
  }
}

// One sample as t, then re and im of each channel.
using Sample = std::vector<double>;

struct Reading {
  std::int64_t line_count = 0;
  std::int64_t channel_count = 0;
  std::int64_t samples_read = 0;
  std::vector<Sample> samples;  // all S of them, the unread ones zero
};

// Both passes over a file holding `raw`, as the run performs them; K comes
// from the first line unless `channel_count` is given.
Reading read_file(const std::string& raw, std::int64_t channel_count = -1) {
  TempFolder folder;
  folder.write("data.txt", raw);
  Reading reading;
  const FirstPass pass = count_lines(folder.file("data.txt"));
  reading.line_count = pass.line_count;
  reading.channel_count = channel_count >= 0 ? channel_count : count_fields(pass.first_line);
  SampleTable table;
  if (allocate_sample_table(table, reading.line_count, reading.channel_count) != kNoError) {
    ADD_FAILURE() << "cannot allocate " << reading.line_count << " x " << reading.channel_count;
    return reading;
  }
  reading.samples_read =
      read_samples(folder.file("data.txt"), reading.line_count, reading.channel_count, table);
  EXPECT_FALSE(is_file_open(kInputFileNumber));
  for (std::int64_t n = 1; n <= reading.line_count; ++n) {
    Sample sample{table.t(n)};
    for (std::int64_t k = 1; k <= reading.channel_count; ++k) {
      sample.push_back(table.xr(n, k));
      sample.push_back(table.xi(n, k));
    }
    reading.samples.push_back(sample);
  }
  return reading;
}

struct SampleRow {
  std::string raw;
  std::int64_t line_count;
  std::int64_t channel_count;
  std::int64_t samples_read;
  std::vector<Sample> samples;
};

// Reads `row` with K from its first line, or with `channel_count` channels.
void expect_reading(const SampleRow& row, std::int64_t channel_count = -1) {
  const Reading reading = read_file(row.raw, channel_count);
  EXPECT_EQ(reading.line_count, row.line_count) << visible(row.raw);
  EXPECT_EQ(reading.channel_count, row.channel_count) << visible(row.raw);
  EXPECT_EQ(reading.samples_read, row.samples_read) << visible(row.raw);
  ASSERT_EQ(reading.samples.size(), row.samples.size()) << visible(row.raw);
  for (std::size_t n = 0; n < row.samples.size(); ++n) {
    ASSERT_EQ(reading.samples[n].size(), row.samples[n].size());
    for (std::size_t i = 0; i < row.samples[n].size(); ++i) {
      EXPECT_TRUE(same_bits(reading.samples[n][i], row.samples[n][i]))
          << visible(row.raw) << ": sample " << n + 1 << " value " << i + 1 << " is "
          << hex(reading.samples[n][i]) << ", expected " << hex(row.samples[n][i]);
    }
  }
}

// Two channels, whatever the first line says: per sample one double and two
// statements of two singles.
TEST(ReadSamples, ReadsTheStreamOfFieldsWithTwoChannels) {
  const double sixty_seven_ones = 1.1111111111111112e66;
  const SampleRow rows[] = {
      {"0.5 1 2 3 4\n1.5 5 6 7 8\n", 2, 2, 2, {{0.5, 1, 2, 3, 4}, {1.5, 5, 6, 7, 8}}},
      {"0.5,1,2,3,4\r\n1.5 , 5 ,6, 7,8\r\n", 2, 2, 2, {{0.5, 1, 2, 3, 4}, {1.5, 5, 6, 7, 8}}},
      {"0.5 1 2 3 4", 1, 2, 1, {{0.5, 1, 2, 3, 4}}},
      {"0.5 1 2 3\n4\n1.5 5 6 7 8\n",
       3,
       2,
       2,
       {{0.5, 1, 2, 3, 4}, {1.5, 5, 6, 7, 8}, {0, 0, 0, 0, 0}}},
      {"0.5 1 2 3 4 9\n1.5 5 6 7 8 9\n", 2, 2, 2, {{0.5, 1, 2, 3, 4}, {9, 1.5, 5, 6, 7}}},
      {"0.5 1 2 3 4\n\n1.5 5 6 7 8\n",
       3,
       2,
       3,
       {{0.5, 1, 2, 3, 4}, {0, 1.5, 5, 6, 7}, {8, 0, 0, 0, 0}}},
      {"0.5 1 2 3 4\n1.5 5 6 7 8\n\n",
       3,
       2,
       3,
       {{0.5, 1, 2, 3, 4}, {1.5, 5, 6, 7, 8}, {0, 0, 0, 0, 0}}},
      {"0.5 1 2 3 4\r1.5 5 6 7 8\r", 1, 2, 1, {{0.5, 1, 2, 3, 4}}},
      {"1D-3 &H1F &O17 &B101 -7\n", 1, 2, 1, {{0.001, 31, 15, 5, -7}}},
      {"\"1 2\" 3,,4 x\n", 1, 2, 1, {{1, 3, 0, 4, 0}}},
      {"0.5 1.5e 2e+ 3. .5\n", 1, 2, 1, {{0.5, 1.5, 2, 3, 0.5}}},
      {"0,5 1 2 3 4\n", 1, 2, 1, {{0, 5, 1, 2, 3}}},
      {"123456789 1234567890 16777217 1e39 -0\n",
       1,
       2,
       1,
       {{123456789, 1234567936, 16777216, kInfinity, 0}}},
      {"&HFFFFFFFF 1 2 3 4\n", 1, 2, 1, {{4294967295.0, 1, 2, 3, 4}}},
      {"\xef\xbb\xbf"
       "0.5 1 2 3 4\n",
       1,
       2,
       1,
       {{0, 1, 2, 3, 4}}},
      {std::string(70, '1') + " 2 3 4 5 6\n", 1, 2, 1, {{sixty_seven_ones, 111, 2, 3, 4}}},
  };
  for (const SampleRow& row : rows) expect_reading(row, 2);
}

TEST(ReadSamples, HandlesTheLayoutsOfTheInputFile) {
  const SampleRow rows[] = {
      // Well formed, with and without a final line end.
      {"0 1 2 3 4\n1 5 6 7 8\n2 9 10 11 12\n",
       3,
       2,
       3,
       {{0, 1, 2, 3, 4}, {1, 5, 6, 7, 8}, {2, 9, 10, 11, 12}}},
      {"0 1 2 3 4\n1 5 6 7 8\n2 9 10 11 12",
       3,
       2,
       3,
       {{0, 1, 2, 3, 4}, {1, 5, 6, 7, 8}, {2, 9, 10, 11, 12}}},
      // One empty line at the end: one more, all-zero sample.
      {"0 1 2\n1 3 4\n\n", 3, 1, 3, {{0, 1, 2}, {1, 3, 4}, {0, 0, 0}}},
      // Two empty lines at the end: the file ends one sample short.
      {"0 1 2\n1 3 4\n\n\n", 4, 1, 3, {{0, 1, 2}, {1, 3, 4}, {0, 0, 0}, {0, 0, 0}}},
      // Four fields a line: the extra field starts the next sample.
      {"1 2 3 9\n4 5 6 9\n7 8 10 9\n", 3, 1, 3, {{1, 2, 3}, {9, 4, 5}, {6, 9, 7}}},
      // An empty line in between is one field of value 0.
      {"1 2 3\n\n4 5 6\n", 3, 1, 3, {{1, 2, 3}, {0, 4, 5}, {6, 0, 0}}},
      // A missing field: the rest shifts, the last value reads as 0.
      {"1 2 3\n4 5\n7 8 9\n", 3, 1, 3, {{1, 2, 3}, {4, 5, 7}, {8, 9, 0}}},
      {"1, 2, 3\n4, 5, 6\n", 2, 1, 2, {{1, 2, 3}, {4, 5, 6}}},
      // Three fields first, then five: a stream of three-field samples.
      {"1 2 3\n4 5 6 7 8\n9 10 11 12 13\n", 3, 1, 3, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}},
  };
  for (const SampleRow& row : rows) expect_reading(row);
}

TEST(ReadSamples, FindsNoChannelsInTabSeparatedOrEmptyFiles) {
  const FirstPass tabs = count_lines_of("1\t2\t3\n4\t5\t6\n");
  EXPECT_EQ(tabs.line_count, 2);
  EXPECT_EQ(count_fields(tabs.first_line), 0);
  SampleTable table;
  EXPECT_EQ(allocate_sample_table(table, tabs.line_count, count_fields(tabs.first_line)),
            kIllegalFunctionCall);

  const FirstPass empty = count_lines_of("");
  EXPECT_EQ(empty.line_count, 0);
  EXPECT_EQ(count_fields(empty.first_line), 0);
}

// A pass over a file far larger than the read buffer: every value lands in
// its place.
TEST(ReadSamples, ReadsABigFile) {
  std::string raw;
  const std::int64_t count = 60000;
  for (std::int64_t n = 1; n <= count; ++n) {
    raw += std::to_string(n) + ".25 " + std::to_string(n % 1000) + " -" + std::to_string(n % 777) +
           (n % 3 == 0 ? "\r\n" : "\n");
  }
  ASSERT_GT(raw.size(), kInputBufferSize * 3);
  const Reading reading = read_file(raw);
  ASSERT_EQ(reading.line_count, count);
  ASSERT_EQ(reading.channel_count, 1);
  ASSERT_EQ(reading.samples_read, count);
  for (std::int64_t n = 1; n <= count; ++n) {
    const Sample& sample = reading.samples[static_cast<std::size_t>(n - 1)];
    ASSERT_EQ(sample,
              (Sample{n + 0.25, static_cast<double>(n % 1000), -static_cast<double>(n % 777)}))
        << "sample " << n;
  }
}

TEST(CountLinesDeathTest, AbortsAtTheFirstOpenWhenTheFileCannotBeOpened) {
  TempFolder folder;
  ASSERT_TRUE(std::filesystem::create_directory(folder.file("folder")));
#ifndef _WIN32
  ASSERT_EQ(::mkfifo(folder.file("fifo").c_str(), 0644), 0);
#endif
  EXPECT_EXIT(count_lines(folder.file("missing.txt")), ::testing::ExitedWithCode(2),
              ::testing::Eq(abort_report(2, "file not found", kFirstOpenLine)));
  EXPECT_EXIT(count_lines(folder.file("folder")), ::testing::ExitedWithCode(2),
              ::testing::Eq(abort_report(2, "file not found", kFirstOpenLine)));
#ifdef _WIN32
  const std::string device = "NUL";
#else
  const std::string device = folder.file("fifo");
#endif
  EXPECT_EXIT(count_lines(device), ::testing::ExitedWithCode(1),
              ::testing::Eq(abort_report(1, "illegal function call", kFirstOpenLine)));
}

TEST(ReadSamplesDeathTest, AbortsAtTheSecondOpenWhenTheFileHasGone) {
  TempFolder folder;
  SampleTable table;
  ASSERT_EQ(allocate_sample_table(table, 1, 1), kNoError);
  EXPECT_EXIT(read_samples(folder.file("missing.txt"), 1, 1, table), ::testing::ExitedWithCode(2),
              ::testing::Eq(abort_report(2, "file not found", kSecondOpenLine)));
}

}  // namespace
}  // namespace tarvel
