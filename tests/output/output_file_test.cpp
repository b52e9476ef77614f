#include "output/output_file.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <string>

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

// Whatever the number of lines, around and across the blocks the lines are
// formatted in, the file holds each line as its three numbers print.
TEST(WriteOutputFile, EveryLineAsItsNumbersPrint) {
  std::mt19937_64 random(42);
  // Up to output past several of the large writes the blocks are gathered in.
  for (const std::int64_t line_count : {1, 2, 1023, 1024, 1025, 2048, 3073, 5000, 60000}) {
    Array1<double> t;
    Array1<float> yr;
    Array1<float> yi;
    ASSERT_EQ(t.allocate(line_count), kNoError);
    ASSERT_EQ(yr.allocate(line_count), kNoError);
    ASSERT_EQ(yi.allocate(line_count), kNoError);
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
  }
}

}  // namespace
}  // namespace tarvel
