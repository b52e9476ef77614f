#include "output/print.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <limits>
#include <string>

#include "output/output_file.h"
#include "runtime/open_files.h"
#include "support/temp_folder.h"

namespace tarvel {
namespace {

constexpr int kConsole = kConsoleFileNumber;

// Sends standard output to a file for the lifetime of the capture, so console
// prints can be compared byte for byte.
class ConsoleCapture {
 public:
  ConsoleCapture() {
    saved_ = ::dup(STDOUT_FILENO);
    int fd = ::open(folder_.file("console").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
  }
  ~ConsoleCapture() { restore(); }

  // Everything printed so far; ends the capture.
  std::string text() {
    restore();
    return testing::read_file(folder_.file("console"));
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
    saved_ = -1;
  }
  testing::TempFolder folder_;
  int saved_ = -1;
};

TEST(PrintInteger, FormsByMask) {
  struct Row {
    std::int64_t value;
    int mask;
    const char* text;
  };
  const Row rows[] = {
      {3, 16, " 3 "},
      {-7, 16, "-7 "},
      {1000, 17, " 1000 \r\n"},
      {0, 0, " 0"},
      {5, PM_LINE_END, " 5\r\n"},
      {5, PM_LINE_END_ALT | PM_BLANK_AFTER, " 5 \r\n"},
      {std::numeric_limits<std::int32_t>::min(), 16, "-2147483648 "},
      {std::numeric_limits<std::int32_t>::max(), 0, " 2147483647"},
      {std::int64_t{3000000000}, 16, " 3000000000 "},
  };
  for (const Row& row : rows) {
    ConsoleCapture capture;
    print_integer(kConsole, row.value, row.mask);
    EXPECT_EQ(capture.text(), row.text) << row.value << " mask " << row.mask;
  }
}

TEST(PrintItems, RealsJoinWithoutBlanksOfTheirOwn) {
  ConsoleCapture capture;
  print_single(kConsole, 1.5f, 16);
  print_single(kConsole, -0.25f, 16);
  print_text(kConsole, "j  ", 16);
  end_line(kConsole, 17);
  print_single(kConsole, 1.5f, 16);
  print_single(kConsole, 0.25f, 16);
  print_text(kConsole, "j  ", 16);
  end_line(kConsole, 17);
  print_single(kConsole, 2.0f, 17);
  print_double(kConsole, 0.1, 17);
  EXPECT_EQ(capture.text(), " 1.5-0.25j  \r\n 1.5 0.25j  \r\n 2\r\n 0.1\r\n");
}

TEST(PrintItems, EmptyTextAndBareLineEnds) {
  ConsoleCapture capture;
  end_line(kConsole, 17);
  print_text(kConsole, "", 17);
  print_text(kConsole, "", 16);
  print_text(kConsole, "a", 4);
  end_line(kConsole, 16);
  EXPECT_EQ(capture.text(), "\r\n\r\na\r\n");
}

TEST(PrintColumn, CountsBytesSinceTheLastLineEnd) {
  ConsoleCapture capture;
  print_text(kConsole, "x", 17);
  EXPECT_EQ(print_column(kConsole), 0);
  print_text(kConsole, "abc\r\nde", 16);
  EXPECT_EQ(print_column(kConsole), 2);
  print_text(kConsole, "abc", 16);
  EXPECT_EQ(print_column(kConsole), 5);
  print_text(kConsole, "a\rbcd", 16);
  EXPECT_EQ(print_column(kConsole), 3);
  print_integer(kConsole, 12, 16);
  EXPECT_EQ(print_column(kConsole), 7);
  print_text(kConsole, "", 17);
  EXPECT_EQ(print_column(kConsole), 0);
  capture.text();
}

TEST(PrintPadding, PadsToTheNextFourteenColumnZone) {
  struct Row {
    const char* before;
    std::size_t blanks;
  };
  const Row rows[] = {
      {"", 14},
      {"1234567890123", 1},
      {"12345678901234", 14},
      {"123456789012345678901234567", 1},
  };
  for (const Row& row : rows) {
    ConsoleCapture capture;
    print_text(kConsole, "", 17);
    print_text(kConsole, row.before, 2);
    std::string expected = std::string("\r\n") + row.before + std::string(row.blanks, ' ');
    EXPECT_EQ(capture.text(), expected) << row.before;
  }
  ConsoleCapture capture;
  print_text(kConsole, "", 17);
  print_integer(kConsole, 7, 2);
  print_single(kConsole, 1.0f, 2);
  EXPECT_EQ(capture.text(),
            std::string("\r\n 7") + std::string(12, ' ') + " 1" + std::string(12, ' '));
}

TEST(PrintErrors, FileWithoutSinkWritesNothingAndSetsCodeOne) {
  for (int number : {-1, 256, 9}) {
    set_current_error(kNoError);
    print_text(number, "x", 17);
    EXPECT_EQ(current_error(), kIllegalFunctionCall) << number;
    set_current_error(kNoError);
    print_single(number, 1.0f, 17);
    EXPECT_EQ(current_error(), kIllegalFunctionCall) << number;
    set_current_error(kNoError);
    print_integer(number, 1, 17);
    EXPECT_EQ(current_error(), kIllegalFunctionCall) << number;
    set_current_error(kNoError);
    end_line(number, 17);
    EXPECT_EQ(current_error(), kIllegalFunctionCall) << number;
  }
  ConsoleCapture capture;
  set_current_error(kFileNotFound);
  print_text(kConsole, "ok", 16);
  EXPECT_EQ(current_error(), kNoError);
  EXPECT_EQ(capture.text(), "ok");
}

TEST(PrintToFile, BytesAreStoredExactlyAsPrinted) {
  testing::TempFolder folder;
  ASSERT_EQ(open_for_output(folder.file("f.txt"), 2), kNoError);
  print_double(2, 0.5, 16);
  print_text(2, " ", 16);
  print_single(2, 1.25f, 16);
  print_text(2, " ", 16);
  print_single(2, -0.75f, 17);
  EXPECT_EQ(print_column(2), 0);
  print_text(2, "ab", 16);
  EXPECT_EQ(print_column(2), 2);
  EXPECT_EQ(close_file(2), kNoError);
  EXPECT_EQ(testing::read_file(folder.file("f.txt")), " 0.5  1.25 -0.75\r\nab");
}

TEST(PrintToFile, ManyBuffersOfOutputArriveWhole) {
  testing::TempFolder folder;
  ASSERT_EQ(open_for_output(folder.file("f.txt"), 2), kNoError);
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    print_integer(2, i, 17);
    expected += ' ';
    expected += std::to_string(i);
    expected += " \r\n";
  }
  EXPECT_EQ(close_file(2), kNoError);
  EXPECT_EQ(testing::read_file(folder.file("f.txt")), expected);
}

// Items as large as the buffer skip it, after whatever it holds, so the
// bytes stay in print order.
TEST(PrintToFile, LargeItemsFollowTheBufferedBytesInOrder) {
  testing::TempFolder folder;
  ASSERT_EQ(open_for_output(folder.file("f.txt"), 2), kNoError);
  std::string expected;
  for (const std::size_t size : {3, 8192, 5, 20000, 8191, 1, 8193}) {
    const std::string item(size, static_cast<char>('a' + size % 26));
    print_text(2, item, 16);
    expected += item;
  }
  EXPECT_EQ(print_column(2), static_cast<std::int64_t>(expected.size()));
  EXPECT_EQ(close_file(2), kNoError);
  EXPECT_EQ(testing::read_file(folder.file("f.txt")), expected);
}

TEST(PrintToFile, WriteFailureSetsCodeThreeAndKeepsTheColumn) {
  ASSERT_EQ(open_for_output("/dev/full", 2), kNoError);
  print_text(2, "ab", 16);
  EXPECT_EQ(current_error(), kNoError);  // still in the buffer
  std::string block(9000, 'x');
  print_text(2, block, 16);
  EXPECT_EQ(current_error(), kFileIoError);
  EXPECT_EQ(print_column(2), 2);
  EXPECT_EQ(close_file(2), kFileIoError);
}

}  // namespace
}  // namespace tarvel
