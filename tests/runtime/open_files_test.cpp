#include "runtime/open_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "support/temp_folder.h"

namespace tarvel {
namespace {

int open_new(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

TEST(OpenFiles, NumbersOutsideOneTo255HaveNoEntry) {
  EXPECT_EQ(open_file_entry(0), nullptr);
  EXPECT_EQ(open_file_entry(256), nullptr);
  EXPECT_EQ(open_file_entry(-1), nullptr);
  EXPECT_NE(open_file_entry(1), nullptr);
  EXPECT_NE(open_file_entry(255), nullptr);
  EXPECT_EQ(register_open_file(0, 5, 0), kIllegalFunctionCall);
  EXPECT_EQ(register_open_file(256, 5, 0), kIllegalFunctionCall);
}

TEST(OpenFiles, CloseOfANumberNotOpenIsIllegal) {
  EXPECT_FALSE(is_file_open(7));
  EXPECT_EQ(close_file(7), kIllegalFunctionCall);
}

TEST(OpenFiles, SecondOpenOfTheSameNumberIsIllegal) {
  testing::TempFolder folder;
  int fd = open_new(folder.file("a"));
  ASSERT_EQ(register_open_file(3, fd, 0), kNoError);
  int other = open_new(folder.file("b"));
  EXPECT_EQ(register_open_file(3, other, 0), kIllegalFunctionCall);
  ::close(other);
  EXPECT_EQ(close_file(3), kNoError);
  EXPECT_FALSE(is_file_open(3));
}

TEST(OpenFiles, CloseWritesOutTheBuffer) {
  testing::TempFolder folder;
  ASSERT_EQ(register_open_file(4, open_new(folder.file("a")), 16), kNoError);
  OpenFile& file = *open_file_entry(4);
  std::memcpy(file.buffer, "0123456789", 10);
  file.buffered.store(10);
  EXPECT_EQ(testing::read_file(folder.file("a")), "");
  EXPECT_EQ(close_file(4), kNoError);
  EXPECT_EQ(testing::read_file(folder.file("a")), "0123456789");
}

TEST(OpenFiles, FailedWriteMakesTheCloseReportAnIoError) {
  int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (fd < 0) GTEST_SKIP() << "/dev/full is not available";
  ASSERT_EQ(register_open_file(5, fd, 16), kNoError);
  OpenFile& file = *open_file_entry(5);
  std::memcpy(file.buffer, "x", 1);
  file.buffered.store(1);
  EXPECT_FALSE(flush_open_file(file));
  EXPECT_EQ(close_file(5), kFileIoError);
  // The failure belongs to that open only.
  ASSERT_EQ(register_open_file(5, ::open("/dev/null", O_WRONLY | O_CLOEXEC), 16), kNoError);
  EXPECT_EQ(close_file(5), kNoError);
}

TEST(OpenFiles, FinalFlushFailureIsReportedByClose) {
  int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (fd < 0) GTEST_SKIP() << "/dev/full is not available";
  ASSERT_EQ(register_open_file(6, fd, 16), kNoError);
  OpenFile& file = *open_file_entry(6);
  std::memcpy(file.buffer, "x", 1);
  file.buffered.store(1);
  EXPECT_EQ(close_file(6), kFileIoError);
}

}  // namespace
}  // namespace tarvel
