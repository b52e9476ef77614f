#include "output/print.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <limits>
#include <string>

#include "output/output_file.h"
#include "output/report_writer.h"
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

TEST(PrintItems, TextAndLinesAsGiven) {
  ConsoleCapture capture;
  print_line(kConsole, "");
  print_text(kConsole, "");
  print_text(kConsole, "a");
  print_line(kConsole, "bc");
  EXPECT_EQ(capture.text(), "\r\nabc\r\n");
}

// The counts of the reading line print truly past the 32-bit range.
TEST(ReportWriter, ReadingLineCounts) {
  struct Row {
    std::int64_t channels, samples;
    const char* text;
  };
  const Row rows[] = {
      {3, 1000, "reading f 3 channels 1000 samples\r\n"},
      {std::numeric_limits<std::int32_t>::max(), 1, "reading f 2147483647 channels 1 samples\r\n"},
      {1, std::int64_t{3000000000}, "reading f 1 channels 3000000000 samples\r\n"},
  };
  for (const Row& row : rows) {
    StringSink sink;
    write_reading_line(sink, "f", row.channels, row.samples);
    EXPECT_EQ(sink.text(), row.text);
  }
}

TEST(PrintErrors, FileWithoutSinkWritesNothingAndSetsCodeOne) {
  for (int number : {-1, 256, 9}) {
    set_current_error(kNoError);
    print_text(number, "x");
    EXPECT_EQ(current_error(), kIllegalFunctionCall) << number;
    set_current_error(kNoError);
    print_line(number, "x");
    EXPECT_EQ(current_error(), kIllegalFunctionCall) << number;
  }
  ConsoleCapture capture;
  set_current_error(kFileNotFound);
  print_text(kConsole, "ok");
  EXPECT_EQ(current_error(), kNoError);
  EXPECT_EQ(capture.text(), "ok");
}

TEST(PrintToFile, BytesAreStoredExactlyAsPrinted) {
  testing::TempFolder folder;
  ASSERT_EQ(open_for_output(folder.file("f.txt"), 2), kNoError);
  print_text(2, " 0.5 ");
  print_line(2, "-0.75");
  print_text(2, "ab");
  EXPECT_EQ(close_file(2), kNoError);
  EXPECT_EQ(testing::read_file(folder.file("f.txt")), " 0.5 -0.75\r\nab");
}

TEST(PrintToFile, ManyBuffersOfOutputArriveWhole) {
  testing::TempFolder folder;
  ASSERT_EQ(open_for_output(folder.file("f.txt"), 2), kNoError);
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    print_line(2, std::to_string(i));
    expected += std::to_string(i);
    expected += "\r\n";
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
    print_text(2, item);
    expected += item;
  }
  EXPECT_EQ(close_file(2), kNoError);
  EXPECT_EQ(testing::read_file(folder.file("f.txt")), expected);
}

TEST(PrintToFile, WriteFailureSetsCodeThree) {
  ASSERT_EQ(open_for_output("/dev/full", 2), kNoError);
  print_text(2, "ab");
  EXPECT_EQ(current_error(), kNoError);  // still in the buffer
  std::string block(9000, 'x');
  print_text(2, block);
  EXPECT_EQ(current_error(), kFileIoError);
  EXPECT_EQ(close_file(2), kFileIoError);
}

}  // namespace
}  // namespace tarvel
