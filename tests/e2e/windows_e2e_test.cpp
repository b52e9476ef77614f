// End-to-end, Windows only: folder separators, wildcards, device names,
// binary standard streams and files that another process holds.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "runtime/report_lines.h"
#include "support/abort_report.h"
#include "support/e2e_run.h"
#include "support/one_channel.h"
#include "support/temp_folder.h"
#include "support/wine.h"

namespace tarvel::testing {
namespace {

std::wstring wide(const std::string& path) {
  return std::filesystem::path(path).wstring();
}

// The name is the tool's own in the report; only the system sees "\".
TEST(WindowsNames, FolderSeparatorsEitherWay) {
  struct Row {
    std::string input;
    std::string output;
  };
  TempFolder folder;
  std::filesystem::create_directory(folder.file("sub"));
  // With the \\?\ prefix the system takes the name as it is, where "/" is
  // no separator: only the tool's own turning makes it one.
  const std::string verbatim = "//?/" + folder.path() + "/sub/x.txt";
  const Row rows[] = {
      {"sub/x.txt", "sub/x_out.txt"},
      {"sub\\x.txt", "sub\\x_out.txt"},
      {verbatim, verbatim.substr(0, verbatim.size() - 4) + "_out.txt"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.input);
    folder.write("sub/x.txt", kOneChannelData);
    std::filesystem::remove(folder.file("sub/x_out.txt"));
    RunResult run = run_tarvel(folder, {row.input});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out.starts_with("reading " + row.input + " 1 channels 2 samples\r\n"));
    EXPECT_TRUE(run.out.ends_with("\r\nwriting " + row.output + "\r\n"));
    EXPECT_BYTES("sub/x_out.txt", kOneChannelOutput, read_file(folder.file("sub/x_out.txt")));
  }
}

// The start-up code replaces a pattern by the names it matches, when any.
// The folder part is kept as written; several matches are joined into one
// name, which opens only when a file of that name exists; a pattern that
// matches nothing stays, and names no file.
TEST(WindowsNames, WildcardsAreExpandedBeforeTheNameIsJoined) {
  struct Row {
    const char* pattern;
    const char* input;  // the name the tool reads, or nullptr when it cannot open one
  };
  const Row rows[] = {
      {"d*.txt", "data.txt"},    {"da?a.txt", "data.txt"},    {"sub/x*", "sub/x.txt"},
      {"sub\\x*", "sub\\x.txt"}, {"b?.txt", "b1.txt b2.txt"}, {"a?.txt", nullptr},
      {"z*.txt", nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.pattern);
    TempFolder folder;
    std::filesystem::create_directory(folder.file("sub"));
    for (const char* name :
         {"data.txt", "a1.txt", "a2.txt", "b1.txt", "b2.txt", "b1.txt b2.txt", "sub/x.txt"}) {
      folder.write(name, kOneChannelData);
    }
    RunResult run = run_tarvel(folder, {row.pattern});
    if (row.input == nullptr) {
      EXPECT_BYTES("stdout", "", run.out);
      EXPECT_BYTES("stderr", abort_report(2, "file not found", kFirstOpenLine), run.err);
      EXPECT_EQ(run.status, 2);
    } else {
      EXPECT_TRUE(run.out.starts_with("reading " + std::string(row.input) + " ")) << run.out;
      EXPECT_EQ(run.status, 0) << run.err;
    }
  }
}

// The console report's CR LF is not doubled and the abort report's bare line
// feeds stay bare, into a pipe and into a file alike.
TEST(WindowsStreams, StandardStreamsAreBinary) {
  for (Streams streams : {Streams::kPipes, Streams::kFiles}) {
    TempFolder folder;
    folder.write("empty.txt", "");
    RunResult run = run_tarvel(folder, {"empty.txt"}, {}, streams);
    EXPECT_BYTES("stdout", "reading empty.txt 0 channels 0 samples\r\n", run.out);
    EXPECT_BYTES("stderr", abort_report(1, "illegal function call", kSampleTableLine), run.err);
    EXPECT_EQ(run.status, 1);
  }
}

TEST(WindowsFiles, ReadOnlyOutputFileCannotBeReplaced) {
  TempFolder folder;
  folder.write("data.txt", kOneChannelData);
  folder.write("data_out.txt", "old");
  const std::wstring output = wide(folder.file("data_out.txt"));
  ASSERT_TRUE(::SetFileAttributesW(output.c_str(), FILE_ATTRIBUTE_READONLY));
  if (running_under_wine()) {
    const HANDLE probe = ::CreateFileW(output.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
      ::CloseHandle(probe);
      ::SetFileAttributesW(output.c_str(), FILE_ATTRIBUTE_NORMAL);
      GTEST_SKIP() << "Wine keeps the read-only attribute as Unix permission bits, which do not "
                      "bind root: this process could open the file for writing";
    }
  }
  RunResult run = run_tarvel(folder, {"data.txt"});
  EXPECT_TRUE(run.out.ends_with("\r\nwriting data_out.txt\r\n")) << run.out;
  EXPECT_BYTES("stderr", abort_report(2, "file not found", kOpenOutputLine), run.err);
  EXPECT_EQ(run.status, 2);
  EXPECT_BYTES("data_out.txt", "old", read_file(folder.file("data_out.txt")));
  ::SetFileAttributesW(output.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Another process holds a file open: the tool asks only to read its input
// and to write its output, and lets others read, write and delete, so it is
// refused only by a holder that shares less than that.
TEST(WindowsFiles, FileHeldByAnotherProcess) {
  struct Row {
    const char* held;
    DWORD access;
    DWORD share;
    int line;  // where the run aborts, 0 when it does not
  };
  const Row rows[] = {
      {"data.txt", GENERIC_READ, 0, kFirstOpenLine},
      {"data.txt", GENERIC_READ, FILE_SHARE_READ, 0},
      {"data.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0},
      {"data.txt", GENERIC_WRITE, FILE_SHARE_WRITE, kFirstOpenLine},  // no reader allowed
      {"data_out.txt", GENERIC_READ, 0, kOpenOutputLine},
      {"data_out.txt", GENERIC_READ, FILE_SHARE_READ, kOpenOutputLine},  // no writer allowed
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.held) + " share " + std::to_string(row.share));
    TempFolder folder;
    folder.write("data.txt", kOneChannelData);
    folder.write("data_out.txt", "old");
    const HANDLE held = ::CreateFileW(wide(folder.file(row.held)).c_str(), row.access, row.share,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    RunResult run = run_tarvel(folder, {"data.txt"});
    ::CloseHandle(held);
    if (row.line == 0) {
      EXPECT_BYTES("stderr", "", run.err);
      EXPECT_EQ(run.status, 0);
      EXPECT_BYTES("data_out.txt", kOneChannelOutput, read_file(folder.file("data_out.txt")));
    } else {
      EXPECT_BYTES("stderr", abort_report(2, "file not found", row.line), run.err);
      EXPECT_EQ(run.status, 2);
      EXPECT_BYTES("data_out.txt", "old", read_file(folder.file("data_out.txt")));
    }
  }
}

}  // namespace
}  // namespace tarvel::testing
