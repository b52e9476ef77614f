#include "output/output_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "output/early_lines.h"
#include "output/output_lines.h"
#include "output/real_format.h"
#include "runtime/open_files.h"
#include "support/temp_folder.h"

namespace tarvel {
namespace {

TEST(MakeOutputName, DropsAnExactFinalTxtOnly) {
  struct Row {
    const char* input;
    const char* output;
  };
  const Row rows[] = {
      {"data.txt", "data_out.txt"},
      {"data.TXT", "data.TXT_out.txt"},
      {"data", "data_out.txt"},
      {"data.txt.txt", "data.txt_out.txt"},
      {".txt", "_out.txt"},
      {"txt", "txt_out.txt"},
      {"a", "a_out.txt"},
      {"dir/sub/x.txt", "dir/sub/x_out.txt"},
      {"my data.txt", "my data_out.txt"},
      {"x.tx", "x.tx_out.txt"},
  };
  for (const Row& row : rows) EXPECT_EQ(make_output_name(row.input), row.output) << row.input;
}

TEST(OpenForOutput, Codes) {
  testing::TempFolder folder;
  EXPECT_EQ(open_for_output("", 2), kIllegalFunctionCall);
  EXPECT_EQ(open_for_output(folder.file("missing/x.txt"), 2), kFileNotFound);
  EXPECT_EQ(open_for_output(folder.path(), 2), kFileNotFound);
  EXPECT_EQ(open_for_output(std::string("a\0b", 3), 2), kFileNotFound);
  ASSERT_EQ(open_for_output(folder.file("x.txt"), 2), kNoError);
  EXPECT_EQ(open_for_output(folder.file("y.txt"), 2), kIllegalFunctionCall);
  EXPECT_EQ(close_file(2), kNoError);
}

TEST(OpenForOutput, TruncatesAnExistingFile) {
  testing::TempFolder folder;
  folder.write("x.txt", std::string(100, 'o'));
  ASSERT_EQ(open_for_output(folder.file("x.txt"), 2), kNoError);
  EXPECT_EQ(close_file(2), kNoError);
  EXPECT_EQ(testing::read_file(folder.file("x.txt")), "");
}

// The times and the combined signal of `line_count` samples, zero-filled.
struct Signal {
  explicit Signal(std::int64_t line_count) {
    EXPECT_EQ(t.allocate(line_count), kNoError);
    EXPECT_EQ(yr.allocate(line_count), kNoError);
    EXPECT_EQ(yi.allocate(line_count), kNoError);
  }
  Array1<double> t;
  Array1<float> yr;
  Array1<float> yi;
};

// Whatever the number of lines, around and across the blocks the lines are
// formatted in, the file holds each line as its three numbers print.
TEST(WriteOutputFile, EveryLineAsItsNumbersPrint) {
#ifdef _WIN32
  GTEST_SKIP() << "GoogleTest's capture of standard output does not take the tool's console "
                  "writes on Windows (under Wine the test hangs)";
#endif
  std::mt19937_64 random(42);
  // Up to output past several of the large writes the blocks are gathered in.
  for (const std::int64_t line_count : {1, 2, 1023, 1024, 1025, 2048, 3073, 5000, 60000}) {
    Signal signal(line_count);
    Array1<double>& t = signal.t;
    Array1<float>& yr = signal.yr;
    Array1<float>& yi = signal.yi;
    std::string expected;
    for (std::int64_t n = 1; n <= line_count; ++n) {
      // Random bit patterns: every kind of value, NaN, infinities and
      // subnormals included.
      t(n) = n % 3 == 0 ? static_cast<double>(n) / 48000 : std::bit_cast<double>(random());
      yr(n) = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
      yi(n) = n % 5 == 0 ? 0.5f : std::bit_cast<float>(static_cast<std::uint32_t>(random()));
      char text[kRealTextCapacity];
      expected.append(text, format_real(t(n), kDoubleDigits, true, text));
      expected += ' ';
      expected.append(text, format_real(yr(n), kSingleDigits, true, text));
      expected += ' ';
      expected.append(text, format_real(yi(n), kSingleDigits, true, text));
      expected += "\r\n";
    }
    testing::TempFolder folder;
    ::testing::internal::CaptureStdout();
    write_output_file(folder.file("out.txt"), t, yr, yi);
    const std::string console = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(console, "\r\nwriting " + folder.file("out.txt") + "\r\n");
    EXPECT_EQ(testing::read_file(folder.file("out.txt")), expected) << line_count << " lines";
    EXPECT_FALSE(is_file_open(kOutputFileNumber));

    // With the first blocks formatted ahead into buffers of several sizes:
    // none, one block, some blocks, all of them.
    for (const std::size_t capacity :
         {std::size_t{0}, kBlockCapacity, 5 * kBlockCapacity / 2, std::size_t{64} << 20}) {
      EarlyLines early;
      early.start(t, yr, yi, capacity);
      // Time for the first blocks, so that the file does start with them.
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      ::testing::internal::CaptureStdout();
      write_output_file(folder.file("early.txt"), t, yr, yi, &early);
      ::testing::internal::GetCapturedStdout();
      EXPECT_EQ(testing::read_file(folder.file("early.txt")), expected)
          << line_count << " lines, " << capacity << " bytes ahead";
      EXPECT_LE(early.size(), capacity);
      if (capacity >= kBlockCapacity) {
        EXPECT_GT(early.blocks(), 0);
      }
    }
  }
}

// The bytes of the first `lines` lines of `text`.
std::size_t bytes_of_lines(const std::string& text, std::int64_t lines) {
  std::size_t end = 0;
  for (std::int64_t i = 0; i < lines; ++i) end = text.find("\r\n", end) + 2;
  return end;
}

// Whatever moment the stop comes at, what was formatted ahead is whole
// blocks from the first on, within the buffer.
TEST(EarlyLines, HoldsTheFirstWholeBlocksThatFit) {
  const std::int64_t line_count = 20000;
  Signal signal(line_count);
  Array1<double>& t = signal.t;
  Array1<float>& yr = signal.yr;
  Array1<float>& yi = signal.yi;
  for (std::int64_t n = 1; n <= line_count; ++n) {
    t(n) = static_cast<double>(n) / 48000;
    yr(n) = static_cast<float>(n) / 7;
    yi(n) = -static_cast<float>(n) / 3;
  }
  std::string all;
  std::vector<char> block(kBlockCapacity);
  for (std::int64_t b = 0; b < block_count(line_count); ++b) {
    all.append(block.data(), format_block(t, yr, yi, b, block.data()));
  }
  for (const std::size_t capacity : {kBlockCapacity, 3 * kBlockCapacity, std::size_t{64} << 20}) {
    for (const int wait_us : {0, 200, 5000}) {
      EarlyLines early;
      early.start(t, yr, yi, capacity);
      std::this_thread::sleep_for(std::chrono::microseconds(wait_us));
      early.stop();
      EXPECT_LE(early.size(), capacity);
      const std::int64_t lines = std::min(line_count, early.blocks() * kLinesPerBlock);
      ASSERT_EQ(early.size(), bytes_of_lines(all, lines))
          << capacity << " bytes, " << wait_us << " us";
      EXPECT_EQ(std::string(early.bytes(), early.size()), all.substr(0, early.size()));
    }
  }
}

}  // namespace
}  // namespace tarvel
