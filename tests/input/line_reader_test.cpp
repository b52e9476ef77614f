#include "input/line_reader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <vector>

#include "input/input_test_files.h"

namespace tarvel {
namespace {

using testing::kBufferSizes;
using testing::letters;
using testing::OpenedBytes;
using testing::reference_lines;
using testing::visible;

// Every line the first pass would count: read_line while not at the end.
std::vector<std::string> read_all_lines(const std::string& raw, std::size_t buffer_size) {
  OpenedBytes opened(raw, buffer_size);
  std::vector<std::string> lines;
  std::string line;
  while (!at_end_of_file(opened.file())) {
    read_line(opened.file(), line);
    lines.push_back(line);
  }
  return lines;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += visible(line) + "; ";
  return text;
}

std::string nul_text(const char* text, std::size_t size) {
  return std::string(text, size);
}

TEST(ReadLine, ReturnsTheLinesOfEachFile) {
  struct Row {
    std::string raw;
    std::vector<std::string> lines;
  };
  const Row rows[] = {
      {"a b\nc d\n", {"a b", "c d"}},
      {"a b\nc d", {"a b", "c d"}},
      {"a b\r\nc d\r\n", {"a b", "c d"}},
      {"a b\r\n\r\n", {"a b", ""}},
      {"", {}},
      {"\n", {""}},
      {"a b\n   ", {"a b", "   "}},
      {"a\rb\n", {"a\rb"}},
      {"a b\r", {"a b"}},
      {"a\rb\rc\r", {"a\rb\rc"}},
      {nul_text("ab\0cd\n", 6), {nul_text("ab\0cd", 5)}},
      {nul_text("ab\0\0", 4), {"ab"}},
      {"x\x1ay\n", {"x"}},
      {"1 2\n\x1a", {"1 2"}},
      {letters(1000) + "\n", {letters(1000)}},
      {letters(510) + "\ryyy\n", {letters(510), "yyy"}},
      {"\xef\xbb\xbf"
       "1 2\n",
       {"\xef\xbb\xbf"
        "1 2"}},
      // Pieces of exactly 511 bytes.
      {letters(511) + "\n", {letters(511)}},
      {letters(511), {letters(511)}},
      {letters(511) + "\n\n", {letters(511), ""}},
      {letters(512) + "\n", {letters(512)}},
      {letters(1022) + "\r", {letters(1022)}},
      // Text mode turned CR CR LF into CR LF; the line drops that CR too.
      {"a\r\r\n", {"a"}},
      // 510 letters and a CR fill a piece, so the CR ends the line and the LF
      // after it makes an empty one.
      {letters(510) + "\r\r\n", {letters(510), ""}},
      {letters(509) + "\r\r\n", {letters(509)}},
      // A CR that is the last nonzero byte of a full piece ends the line,
      // and the NUL bytes after it go with it.
      {letters(508) + nul_text("\r\0\0", 3) + "b\n", {letters(508), "b"}},
      {letters(508) + nul_text("\r\0\0\0", 4) + "b\n", {letters(508), nul_text("\0b", 2)}},
      {nul_text("a\r\0", 3), {"a"}},
      // NUL bytes at the end of a piece are dropped, those inside kept.
      {letters(509) + nul_text("\0\0", 2) + "b\n", {letters(509) + "b"}},
      {letters(509) + nul_text("\0\0", 2) + "\n", {letters(509)}},
      {nul_text("a\0b\0\n", 5), {nul_text("a\0b\0", 4)}},
      {std::string(511, '\0') + "b\n", {"b"}},
      {std::string(600, '\0'), {""}},
      {std::string(511, '\0') + "\r", {""}},
  };
  for (const Row& row : rows) {
    ASSERT_EQ(testing::reference_delivery(row.raw).size() > 0, !row.lines.empty());
    EXPECT_EQ(reference_lines(testing::reference_delivery(row.raw)), row.lines)
        << "reference, " << visible(row.raw);
    for (std::size_t buffer_size : kBufferSizes) {
      EXPECT_EQ(read_all_lines(row.raw, buffer_size), row.lines)
          << visible(row.raw) << " with chunks of " << buffer_size;
    }
  }
}

TEST(ReadLine, GivesTheEmptyStringAtTheEnd) {
  OpenedBytes opened("a\n");
  std::string line = "left over";
  read_line(opened.file(), line);
  EXPECT_EQ(line, "a");
  EXPECT_TRUE(at_end_of_file(opened.file()));
  for (int i = 0; i < 3; ++i) {
    line = "left over";
    read_line(opened.file(), line);
    EXPECT_EQ(line, "");
  }
}

TEST(AtEndOfFile, AskedTwiceDoesNotDisturbTheNextLine) {
  for (std::size_t buffer_size : kBufferSizes) {
    OpenedBytes opened("ab\r\ncd", buffer_size);
    std::string line;
    EXPECT_FALSE(at_end_of_file(opened.file()));
    EXPECT_FALSE(at_end_of_file(opened.file()));
    read_line(opened.file(), line);
    EXPECT_EQ(line, "ab");
    EXPECT_FALSE(at_end_of_file(opened.file()));
    EXPECT_FALSE(at_end_of_file(opened.file()));
    read_line(opened.file(), line);
    EXPECT_EQ(line, "cd");
    EXPECT_TRUE(at_end_of_file(opened.file()));
    EXPECT_TRUE(at_end_of_file(opened.file()));
  }
}

// A random file of bytes drawn from {a, blank, CR, LF, NUL, SUB}, its lines
// near 511 bytes long so that pieces end on every kind of byte.
std::string random_file(std::mt19937& random) {
  std::uniform_int_distribution<int> line_count(0, 5);
  std::uniform_int_distribution<int> line_length(495, 530);
  std::uniform_int_distribution<int> short_length(0, 8);
  std::uniform_int_distribution<int> kind(0, 99);
  std::string raw;
  for (int line = line_count(random); line > 0; --line) {
    int length = kind(random) < 30 ? short_length(random) : line_length(random);
    // The rarer bytes cluster near the piece end, where they matter most.
    for (int i = 0; i < length; ++i) {
      int roll = kind(random);
      bool near_end = i >= 505 && i <= 514;
      if (near_end ? roll < 20 : roll < 2) {
        raw += '\r';
      } else if (near_end ? roll < 40 : roll < 4) {
        raw += '\0';
      } else if (roll < 5) {
        raw += '\n';
      } else if (roll == 99 && kind(random) < 5) {
        raw += '\x1a';
      } else {
        raw += roll < 20 ? ' ' : 'a';
      }
    }
    raw += kind(random) < 85 ? "\n" : kind(random) < 50 ? "\r\n" : "\r";
  }
  return raw;
}

TEST(ReadLine, MatchesThePieceByPieceReferenceOnRandomFiles) {
  std::mt19937 random(511);
  for (int round = 0; round < 3000; ++round) {
    const std::string raw = random_file(random);
    const std::size_t buffer_size = kBufferSizes[round % std::size(kBufferSizes)];
    const std::vector<std::string> expected = reference_lines(testing::reference_delivery(raw));
    const std::vector<std::string> lines = read_all_lines(raw, buffer_size);
    ASSERT_EQ(lines, expected) << visible(raw) << " with chunks of " << buffer_size << "\n"
                               << joined(lines) << "\nexpected\n"
                               << joined(expected);
  }
}

// skip_line must end each line where read_line would: skipping some lines and
// reading the others gives the reference lines at the positions read, and the
// same count.
TEST(SkipLine, KeepsTheLineBoundariesOfReadLineOnRandomFiles) {
  std::mt19937 random(1022);
  std::bernoulli_distribution skip(0.6);
  for (int round = 0; round < 3000; ++round) {
    const std::string raw = random_file(random);
    const std::size_t buffer_size = kBufferSizes[round % std::size(kBufferSizes)];
    const std::vector<std::string> expected = reference_lines(testing::reference_delivery(raw));
    OpenedBytes opened(raw, buffer_size);
    std::size_t count = 0;
    std::string line;
    while (!at_end_of_file(opened.file())) {
      if (skip(random)) {
        skip_line(opened.file());
      } else {
        read_line(opened.file(), line);
        ASSERT_LT(count, expected.size()) << visible(raw);
        ASSERT_EQ(visible(line), visible(expected[count]))
            << "line " << count + 1 << " of " << visible(raw) << " with chunks of " << buffer_size;
      }
      ++count;
    }
    ASSERT_EQ(count, expected.size()) << visible(raw) << " with chunks of " << buffer_size;
  }
}

// count_remaining_lines, after some lines read or skipped, counts exactly the
// lines the reference finds after them.
TEST(CountRemainingLines, CountsTheLinesLeftOnRandomFiles) {
  std::mt19937 random(2047);
  for (int round = 0; round < 3000; ++round) {
    const std::string raw = random_file(random);
    const std::size_t buffer_size = kBufferSizes[round % std::size(kBufferSizes)];
    const std::vector<std::string> expected = reference_lines(testing::reference_delivery(raw));
    const std::size_t first = expected.empty() ? 0 : random() % (expected.size() + 1);
    OpenedBytes opened(raw, buffer_size);
    std::string line;
    for (std::size_t i = 0; i < first; ++i) {
      if (i % 2 == 0) {
        read_line(opened.file(), line);
      } else {
        skip_line(opened.file());
      }
    }
    ASSERT_EQ(count_remaining_lines(opened.file()),
              static_cast<std::int64_t>(expected.size() - first))
        << visible(raw) << " after " << first << " lines, with chunks of " << buffer_size;
    EXPECT_TRUE(at_end_of_file(opened.file()));
  }
}

// With a stop offset, the count ends at the first line start at or after it,
// having counted exactly the lines before; the rest counts on from there.
TEST(CountRemainingLines, StopsAtTheFirstLineStartFromTheStopOffset) {
  std::mt19937 random(4093);
  for (int round = 0; round < 3000; ++round) {
    const std::string raw = random_file(random);
    const std::size_t buffer_size = kBufferSizes[round % std::size(kBufferSizes)];
    const std::string delivered = testing::reference_delivery(raw);
    const std::uint64_t stop = random() % (delivered.size() + 2);
    // The reference: whole lines from the start until one starts at or
    // after the stop offset.
    std::size_t position = 0;
    std::int64_t before = 0;
    std::string line;
    while (position < stop && reference::reference_next_line(delivered, position, line)) {
      ++before;
    }
    const std::int64_t total = static_cast<std::int64_t>(reference_lines(delivered).size());

    OpenedBytes opened(raw, buffer_size);
    const std::atomic<std::uint64_t> stop_offset{stop};
    ASSERT_EQ(count_remaining_lines(opened.file(), &stop_offset), before)
        << visible(raw) << " stopping at " << stop << ", chunks of " << buffer_size;
    if (before < total) {
      EXPECT_EQ(delivered_offset(opened.file()), position) << visible(raw);
    }
    EXPECT_EQ(count_remaining_lines(opened.file()), total - before) << visible(raw);
  }
}

// A lone CR as the last byte of a line's first piece ends the line, so the LF
// right after it is a line of its own: the block-wise count must leave such a
// line, and every line reaching past the first piece, to the exact rules.
TEST(CountRemainingLines, CarriageReturnAtThePieceEndBeforeTheLineFeed) {
  for (std::size_t length = 505; length <= 516; ++length) {
    const std::string endings[] = {"\r\r\n", "\r\n", "\n", std::string("\r\0\n", 3)};
    for (const std::string& ending : endings) {
      std::string raw = "first\n";
      // Short lines that put the line under test at another offset in a
      // block for each length.
      for (std::size_t i = 0; i < length % 16; ++i) raw.append(i, 'x').append("\n");
      raw.append(length, 'a').append(ending);
      for (int i = 0; i < 20; ++i) raw.append("b\n");
      const std::vector<std::string> expected = reference_lines(testing::reference_delivery(raw));
      for (const std::size_t buffer_size : {std::size_t{509}, kInputBufferSize}) {
        OpenedBytes opened(raw, buffer_size);
        std::string line;
        read_line(opened.file(), line);
        EXPECT_EQ(count_remaining_lines(opened.file()),
                  static_cast<std::int64_t>(expected.size() - 1))
            << visible(raw) << " with chunks of " << buffer_size;
      }
    }
  }
}

// The claim behind the first pass's speed: a line whose bytes before its LF
// hold no CR ends at that LF, however long it is and whatever NUL bytes it
// holds.
TEST(SkipLine, EndsALineWithoutCarriageReturnAtItsLineFeed) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> length(0, 2100);
  std::bernoulli_distribution nul(0.3);
  for (int round = 0; round < 300; ++round) {
    std::string line;
    for (int i = length(random); i > 0; --i) line += nul(random) ? '\0' : 'a';
    const std::string raw = line + "\n" + "next\n";
    ASSERT_EQ(reference_lines(raw).size(), 2u);
    const std::size_t buffer_size = kBufferSizes[round % std::size(kBufferSizes)];
    {
      OpenedBytes opened(raw, buffer_size);
      EXPECT_EQ(count_remaining_lines(opened.file()), 2)
          << line.size() << " bytes with chunks of " << buffer_size;
    }
    OpenedBytes opened(raw, buffer_size);
    skip_line(opened.file());
    std::string next;
    read_line(opened.file(), next);
    EXPECT_EQ(next, "next") << line.size() << " bytes with chunks of " << buffer_size;
    EXPECT_TRUE(at_end_of_file(opened.file()));
  }
}

}  // namespace
}  // namespace tarvel
