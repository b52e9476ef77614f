#include "platform/files.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <cstring>
#include <filesystem>
#include <string>

#include "support/temp_folder.h"

namespace tarvel::platform {
namespace {

const char* outcome_name(InputOpening outcome) {
  switch (outcome) {
    case InputOpening::kRegularFile:
      return "regular file";
    case InputOpening::kRefused:
      return "refused";
    case InputOpening::kFolder:
      return "folder";
    case InputOpening::kNotRegular:
      return "not regular";
  }
  return "?";
}

TEST(OpenInput, TellsWhatTheNameLeadsTo) {
  testing::TempFolder folder;
  folder.write("data.txt", "1 2 3\n");
  std::filesystem::create_directory(folder.file("sub"));
  std::filesystem::create_directory(folder.file("sub/deeper"));
  folder.write("sub/deeper/data.txt", "1 2 3\n");
#ifndef _WIN32
  ASSERT_EQ(::mkfifo(folder.file("fifo").c_str(), 0600), 0);
  // A bound socket leaves a name in the folder that open(2) cannot open.
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = folder.file("sock");
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size() + 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
#endif

  const struct {
    std::string name;
    InputOpening outcome;
  } rows[] = {
      {folder.file("data.txt"), InputOpening::kRegularFile},
      {folder.file("missing.txt"), InputOpening::kRefused},
      {folder.file("data.txt") + std::string(1, '\0') + "x", InputOpening::kRefused},
      {folder.file("sub"), InputOpening::kFolder},
      {folder.file("sub/deeper/data.txt"), InputOpening::kRegularFile},
#ifdef _WIN32
      {"NUL", InputOpening::kNotRegular},
      {"CON", InputOpening::kNotRegular},
      {folder.file("sub/com1.txt"), InputOpening::kNotRegular},
#else
      {folder.file("fifo"), InputOpening::kNotRegular},  // no writer: must not block
      {"/dev/zero", InputOpening::kNotRegular},
      {"/dev/null", InputOpening::kNotRegular},
      {socket_path, InputOpening::kRefused},
#endif
  };
  for (const auto& row : rows) {
    const OpenedInput opened = open_input(row.name);
    EXPECT_EQ(opened.outcome, row.outcome) << row.name << ": " << outcome_name(opened.outcome)
                                           << ", expected " << outcome_name(row.outcome);
    EXPECT_EQ(opened.file != kNoFile, row.outcome == InputOpening::kRegularFile) << row.name;
    if (opened.file != kNoFile) close_file(opened.file);
  }
#ifndef _WIN32
  ::close(listener);
#endif
}

TEST(Files, ReadsAtAnOffsetAndFromThePosition) {
  testing::TempFolder folder;
  folder.write("data.txt", "0123456789");
  const OpenedInput opened = open_input(folder.file("data.txt"));
  ASSERT_EQ(opened.outcome, InputOpening::kRegularFile);
  unsigned char bytes[16] = {};
  EXPECT_EQ(read_at(opened.file, bytes, 4, 3), 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 4), "3456");
  EXPECT_EQ(read_at(opened.file, bytes, 16, 8), 2u);  // short only at the end
  ASSERT_TRUE(seek_to(opened.file, 6));
  EXPECT_EQ(read_some(opened.file, bytes, 16), 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 4), "6789");
  EXPECT_EQ(read_some(opened.file, bytes, 16), 0u);
  close_file(opened.file);
}

TEST(Files, CreateTruncatesAndWritesFully) {
  testing::TempFolder folder;
  folder.write("out.txt", "old contents that are longer");
  const FileHandle file = create_for_writing(folder.file("out.txt"));
  ASSERT_NE(file, kNoFile);
  const std::string text(100000, 'x');
  EXPECT_TRUE(write_fully(file, text.data(), text.size()));
  close_file(file);
  EXPECT_EQ(testing::read_file(folder.file("out.txt")), text);
  EXPECT_EQ(create_for_writing(folder.file("missing/out.txt")), kNoFile);
  EXPECT_EQ(create_for_writing(std::string("a\0b", 3)), kNoFile);
}

TEST(FileVersion, SameFileThroughTwoOpensAndNewVersionAfterAWrite) {
  testing::TempFolder folder;
  folder.write("a.txt", "one\n");
  folder.write("b.txt", "one\n");
  const FileHandle a = open_for_reading(folder.file("a.txt"));
  const FileHandle again = open_for_reading(folder.file("a.txt"));
  const FileHandle b = open_for_reading(folder.file("b.txt"));
  ASSERT_NE(a, kNoFile);
  ASSERT_NE(again, kNoFile);
  ASSERT_NE(b, kNoFile);
  const std::optional<FileVersion> first = regular_file_version(a);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->size, 4);
  EXPECT_EQ(regular_file_version(again), first);
  EXPECT_FALSE(same_file(*regular_file_version(b), *first));

  const FileHandle writer = create_for_writing(folder.file("a.txt"));
  ASSERT_NE(writer, kNoFile);
  ASSERT_TRUE(write_fully(writer, "two lines\n", 10));
  close_file(writer);
  const std::optional<FileVersion> second = regular_file_version(a);
  ASSERT_TRUE(second.has_value());
  EXPECT_TRUE(same_file(*second, *first));
  EXPECT_NE(*second, *first);
  EXPECT_EQ(second->size, 10);
  for (FileHandle file : {a, again, b}) close_file(file);
}

#ifndef _WIN32
TEST(FileVersion, NoneForAFolderOrAPipe) {
  testing::TempFolder folder;
  const FileHandle opened_folder = open_for_reading(folder.path());
  if (opened_folder != kNoFile) {
    EXPECT_FALSE(regular_file_version(opened_folder).has_value());
    close_file(opened_folder);
  }
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  EXPECT_FALSE(regular_file_version(ends[0]).has_value());
  ::close(ends[0]);
  ::close(ends[1]);
}
#endif

}  // namespace
}  // namespace tarvel::platform
