#include "runtime/open_files.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/files.h"
#include "support/temp_folder.h"

namespace tarvel {
namespace {

platform::FileHandle open_new(const std::string& path) {
  return platform::create_for_writing(path);
}

// A device that takes every byte, and one that refuses them as a full disk.
#ifdef _WIN32
constexpr char kNullDevice[] = "NUL";
#else
constexpr char kNullDevice[] = "/dev/null";
#endif
constexpr char kFullDevice[] = "/dev/full";

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
  platform::FileHandle file = open_new(folder.file("a"));
  ASSERT_EQ(register_open_file(3, file, 0), kNoError);
  platform::FileHandle other = open_new(folder.file("b"));
  EXPECT_EQ(register_open_file(3, other, 0), kIllegalFunctionCall);
  platform::close_file(other);
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
  platform::FileHandle full = platform::create_for_writing(kFullDevice);
  if (full == platform::kNoFile) GTEST_SKIP() << "/dev/full is not available";
  ASSERT_EQ(register_open_file(5, full, 16), kNoError);
  OpenFile& file = *open_file_entry(5);
  std::memcpy(file.buffer, "x", 1);
  file.buffered.store(1);
  EXPECT_FALSE(flush_open_file(file));
  EXPECT_EQ(close_file(5), kFileIoError);
  // The failure belongs to that open only.
  ASSERT_EQ(register_open_file(5, platform::create_for_writing(kNullDevice), 16), kNoError);
  EXPECT_EQ(close_file(5), kNoError);
}

TEST(OpenFiles, FinalFlushFailureIsReportedByClose) {
  platform::FileHandle full = platform::create_for_writing(kFullDevice);
  if (full == platform::kNoFile) GTEST_SKIP() << "/dev/full is not available";
  ASSERT_EQ(register_open_file(6, full, 16), kNoError);
  OpenFile& file = *open_file_entry(6);
  std::memcpy(file.buffer, "x", 1);
  file.buffered.store(1);
  EXPECT_EQ(close_file(6), kFileIoError);
}

}  // namespace
}  // namespace tarvel
