#include "input/input_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "input/input_test_files.h"
#include "runtime/open_files.h"
#include "support/temp_folder.h"

namespace tarvel {
namespace {

using testing::kBufferSizes;
using testing::kTestFileNumber;
using testing::OpenedBytes;
using testing::TempFolder;
using testing::visible;

// Every byte `file` delivers, up to the end of the data.
std::string take_all(InputFile& file) {
  std::string taken;
  for (int byte = take_byte(file); byte != kNoByte; byte = take_byte(file)) {
    taken += static_cast<char>(byte);
  }
  return taken;
}

// Every byte a file holding `raw` delivers when read in chunks of
// `buffer_size` bytes.
std::string delivered(const std::string& raw, std::size_t buffer_size = kInputBufferSize) {
  OpenedBytes opened(raw, buffer_size);
  return take_all(opened.file());
}

TEST(OpenForInput, GivesTheCodeOfEachKindOfName) {
  TempFolder folder;
  folder.write("data.txt", "1 2 3\n");
  ASSERT_TRUE(std::filesystem::create_directory(folder.file("folder")));
#ifndef _WIN32
  ASSERT_EQ(::mkfifo(folder.file("fifo").c_str(), 0644), 0);
#endif
  struct Row {
    std::string name;
    RuntimeErrorCode code;
  };
  const Row rows[] = {
      {folder.file("data.txt"), kNoError},
      {folder.file("missing.txt"), kFileNotFound},
      {folder.file("folder"), kFileNotFound},
#ifdef _WIN32
      // Device names, in any folder and with any extension, are no files.
      {"NUL", kIllegalFunctionCall},
      {"CON", kIllegalFunctionCall},
      {folder.file("nul.txt"), kIllegalFunctionCall},
      // "/" is a folder separator there too.
      {folder.path() + "\\data.txt", kNoError},
#else
      // A FIFO has no size; opening it must not wait for a writer.
      {folder.file("fifo"), kIllegalFunctionCall},
      // Devices are no regular files: /dev/zero would be read for ever.
      {"/dev/null", kIllegalFunctionCall},
      {"/dev/zero", kIllegalFunctionCall},
#endif
      {"", kIllegalFunctionCall},
      {folder.file("data.txt") + std::string(1, '\0') + "x", kFileNotFound},
      {std::string(1, '\0'), kFileNotFound},
  };
  for (const Row& row : rows) {
    InputFile file;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(open_for_input(file, row.name, kTestFileNumber), row.code) << visible(row.name);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(is_file_open(kTestFileNumber), row.code == kNoError) << visible(row.name);
    EXPECT_EQ(close_file(file), row.code == kNoError ? kNoError : kIllegalFunctionCall);
    EXPECT_FALSE(is_file_open(kTestFileNumber));
  }
}

TEST(OpenForInput, RefusesAFileNumberInUseOrOutOfRange) {
  OpenedBytes first("1\n");
  InputFile second;
  EXPECT_EQ(open_for_input(second, first.path(), kTestFileNumber), kIllegalFunctionCall);
  // The failed open must leave the first file as it was.
  EXPECT_TRUE(is_open(first.file()));
  EXPECT_EQ(take_byte(first.file()), '1');
  for (int number : {-1, kLastFileNumber + 1}) {
    InputFile file;
    EXPECT_EQ(open_for_input(file, first.path(), number), kIllegalFunctionCall) << number;
  }
  // 0 opens the file outside the table, as often as asked.
  InputFile outside;
  ASSERT_EQ(open_for_input(outside, first.path(), 0), kNoError);
  EXPECT_TRUE(outside.detached);
  EXPECT_EQ(take_byte(outside), '1');
  EXPECT_EQ(close_file(outside), kNoError);
}

TEST(OpenForInput, RefusedDeviceLeavesTheNumberFree) {
  InputFile file;
#ifdef _WIN32
  const char* device = "NUL";
#else
  const char* device = "/dev/zero";
#endif
  ASSERT_EQ(open_for_input(file, device, kTestFileNumber), kIllegalFunctionCall);
  EXPECT_FALSE(is_open(file));
  EXPECT_TRUE(at_end_of_file(file));
  EXPECT_EQ(take_byte(file), kNoByte);
  OpenedBytes regular("1\n");
  EXPECT_TRUE(is_open(regular.file()));
}

TEST(CloseFile, ClosesOnceAndForgetsTheData) {
  OpenedBytes opened("abc");
  InputFile& file = opened.file();
  EXPECT_EQ(take_byte(file), 'a');
  EXPECT_EQ(close_file(file), kNoError);
  EXPECT_FALSE(is_file_open(kTestFileNumber));
  EXPECT_EQ(close_file(file), kIllegalFunctionCall);
  EXPECT_TRUE(at_end_of_file(file));
  EXPECT_EQ(take_byte(file), kNoByte);

  InputFile never_opened;
  EXPECT_EQ(close_file(never_opened), kIllegalFunctionCall);
  EXPECT_TRUE(at_end_of_file(never_opened));
  EXPECT_EQ(take_byte(never_opened), kNoByte);
}

TEST(OpenForInput, OpeningAgainStartsAtTheFirstByte) {
  OpenedBytes opened("ab\r");
  InputFile& file = opened.file();
  EXPECT_EQ(take_all(file), "ab\r");
  EXPECT_TRUE(at_end_of_file(file));
  ASSERT_EQ(close_file(file), kNoError);
  ASSERT_EQ(open_for_input(file, opened.path(), kTestFileNumber, 2), kNoError);
  EXPECT_FALSE(at_end_of_file(file));
  EXPECT_EQ(take_all(file), "ab\r");
}

// The text-mode translation, each row read with chunk boundaries at every
// small offset.
TEST(TextMode, DeliversTheTranslatedBytes) {
  struct Row {
    std::string raw;
    std::string delivered;
  };
  const Row rows[] = {
      {"a b\r\nc d\r\n", "a b\nc d\n"},
      {"\r\n\r\n", "\n\n"},
      {"a\rb", "a\rb"},
      {"\r", "\r"},
      {"\r\r\n", "\r\n"},
      {"\r\r\r", "\r\r\r"},
      {"\n\r", "\n\r"},
      {"\n\r\n\r", "\n\n\r"},
      {"x\x1ay\n", "x"},
      {"\x1a", ""},
      {"1 2\n\x1a", "1 2\n"},
      {"\r\x1a\n", "\r"},
      {"a\r\n\x1a\r\n", "a\n"},
      {std::string("ab\0cd\n", 6), std::string("ab\0cd\n", 6)},
      {std::string("\0\0", 2), std::string("\0\0", 2)},
      {"\x80\xff\xfe\x7f", "\x80\xff\xfe\x7f"},
      // No byte-order mark is skipped.
      {"\xef\xbb\xbf"
       "1 2\n",
       "\xef\xbb\xbf"
       "1 2\n"},
      {"", ""},
  };
  for (const Row& row : rows) {
    for (std::size_t buffer_size : kBufferSizes) {
      EXPECT_EQ(delivered(row.raw, buffer_size), row.delivered)
          << visible(row.raw) << " with chunks of " << buffer_size;
    }
  }
}

// A CR LF pair split by a refill, and a Ctrl-Z that is the first byte of a
// chunk, in files larger than the real buffer.
TEST(TextMode, HandlesChunkBoundariesOfTheRealBuffer) {
  const std::string before = std::string(kInputBufferSize - 1, 'a');
  const std::string full = std::string(kInputBufferSize, 'a');
  EXPECT_TRUE(delivered(before + "\r\nb") == before + "\nb");
  EXPECT_TRUE(delivered(before + "\rb") == before + "\rb");
  EXPECT_TRUE(delivered(before + "\r") == before + "\r");
  EXPECT_TRUE(delivered(full + "\x1a"
                               "b") == full);
  EXPECT_TRUE(delivered(before + "\r\x1a\n") == before + "\r");
  EXPECT_TRUE(delivered(full + "\r\n" + full) == full + "\n" + full);
}

TEST(TextMode, MatchesTheByteByByteTranslationOnRandomBytes) {
  std::mt19937 random(20240611);
  const char alphabet[] = {'a', '\r', '\n', '\x1a', '\0', '\xff', '\r', '\n'};
  std::uniform_int_distribution<int> pick(0, sizeof alphabet - 1);
  std::uniform_int_distribution<int> length(0, 40);
  std::uniform_int_distribution<int> mark_chance(0, 3);
  for (int round = 0; round < 2000; ++round) {
    std::string raw;
    for (int i = length(random); i > 0; --i) {
      char c = alphabet[pick(random)];
      // Keep most files free of Ctrl-Z, which would cut them short.
      if (c == '\x1a' && mark_chance(random) != 0) c = 'a';
      raw += c;
    }
    const std::size_t buffer_size = kBufferSizes[round % std::size(kBufferSizes)];
    ASSERT_EQ(delivered(raw, buffer_size), testing::reference_delivery(raw))
        << visible(raw) << " with chunks of " << buffer_size;
  }
}

// A mark at a place of the file just after an LF gets the place's offset in
// the delivered stream, the bytes are delivered as without it, and a mark
// that does not follow an LF, or that the data ends before, gets none.
TEST(RawMark, GivesTheDeliveredOffsetOfAPlaceAfterALineFeed) {
  std::mt19937 random(20261207);
  const char alphabet[] = {'a', '\r', '\n', '\x1a', '\0', '\n', '\r', '\n'};
  std::uniform_int_distribution<int> pick(0, sizeof alphabet - 1);
  std::uniform_int_distribution<int> length(1, 60);
  int marked = 0;
  for (int round = 0; round < 5000; ++round) {
    std::string raw;
    for (int i = length(random); i > 0; --i) {
      char c = alphabet[pick(random)];
      if (c == '\x1a' && random() % 4 != 0) c = 'a';
      raw += c;
    }
    const std::size_t place = random() % (raw.size() + 1);
    std::uint64_t expected = kNoMark;
    const std::size_t end_mark = raw.find('\x1a');
    if (place > 0 && raw[place - 1] == '\n' && place < raw.size() &&
        (end_mark == std::string::npos || place <= end_mark)) {
      expected = testing::reference_delivery(raw.substr(0, place)).size();
    }
    const std::size_t buffer_size = kBufferSizes[round % std::size(kBufferSizes)];
    OpenedBytes opened(raw, buffer_size);
    opened.file().raw_mark = place;
    ASSERT_EQ(take_all(opened.file()), testing::reference_delivery(raw))
        << visible(raw) << " marked at " << place << ", chunks of " << buffer_size;
    ASSERT_EQ(opened.file().marked_offset, expected)
        << visible(raw) << " marked at " << place << ", chunks of " << buffer_size;
    if (expected != kNoMark) ++marked;
  }
  EXPECT_GT(marked, 500);
}

TEST(AtEndOfFile, TakesNothingAndCanBeAskedAgain) {
  for (std::size_t buffer_size : kBufferSizes) {
    OpenedBytes opened("ab", buffer_size);
    InputFile& file = opened.file();
    EXPECT_FALSE(at_end_of_file(file));
    EXPECT_FALSE(at_end_of_file(file));
    EXPECT_EQ(take_byte(file), 'a');
    EXPECT_FALSE(at_end_of_file(file));
    EXPECT_EQ(take_byte(file), 'b');
    EXPECT_TRUE(at_end_of_file(file));
    EXPECT_TRUE(at_end_of_file(file));
    EXPECT_EQ(take_byte(file), kNoByte);
  }
  for (const char* raw : {"",
                          "\x1a"
                          "abc"}) {
    OpenedBytes opened(raw);
    EXPECT_TRUE(at_end_of_file(opened.file())) << visible(raw);
  }
}

TEST(AtEndOfFile, TheEndOfTheDataStaysEvenWhenTheFileGrows) {
  OpenedBytes opened("a");
  InputFile& file = opened.file();
  EXPECT_EQ(take_byte(file), 'a');
  EXPECT_TRUE(at_end_of_file(file));
  std::ofstream(opened.path(), std::ios::app | std::ios::binary) << "more";
  EXPECT_TRUE(at_end_of_file(file));
  EXPECT_EQ(take_byte(file), kNoByte);
}

TEST(PutBack, DeliversTheLastByteAgainEvenAcrossARefill) {
  for (std::size_t buffer_size : kBufferSizes) {
    OpenedBytes opened("ab\r\ncd", buffer_size);
    InputFile& file = opened.file();
    std::string taken;
    // Take every byte twice: once, then again after putting it back.
    for (int byte = take_byte(file); byte != kNoByte; byte = take_byte(file)) {
      put_back(file);
      EXPECT_FALSE(at_end_of_file(file));
      EXPECT_EQ(take_byte(file), byte);
      taken += static_cast<char>(byte);
    }
    EXPECT_EQ(taken, "ab\ncd") << "chunks of " << buffer_size;
    EXPECT_TRUE(at_end_of_file(file));
  }
}

}  // namespace
}  // namespace tarvel
