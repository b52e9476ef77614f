// End-to-end: the runs that end in a fault, as one table. Each row sets up a
// fresh folder and runs the built binary in it; the console text, the exit
// status and the abort report on standard error (or none) are compared byte
// for byte, and the folder must hold what the set-up left in it and nothing
// more: a run that fails writes no output file.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "runtime/report_lines.h"
#include "support/abort_report.h"
#include "support/e2e_run.h"
#include "support/one_channel.h"
#include "support/temp_folder.h"

namespace tarvel::testing {
namespace {

// The report line of a run that ends with its reason on the console and
// nothing on standard error.
constexpr int kNoReport = 0;

// Whether the console text of a row is the whole of it or its end: a large
// input's report is not spelled out.
enum class Console { kWhole, kEnd };

struct FaultRow {
  const char* name;  // the test's name
  void (*set_up)(const TempFolder& folder);
  std::vector<std::string> arguments;
  std::string out;
  int status;
  int report_line;
  Console console = Console::kWhole;
  // Why the row cannot run here, or nullptr.
  const char* (*skip)() = nullptr;
};

// The abort report's message of each status a run ends with.
const char* abort_message(int status) {
  switch (status) {
    case 1:
      return "illegal function call";
    case 2:
      return "file not found";
    case 3:
      return "file I/O error";
  }
  ADD_FAILURE() << "no abort report ends a run with status " << status;
  return "";
}

void nothing(const TempFolder&) {}

// The folder the Windows device rows name a device in; made for every
// device row alike.
void sub_folder(const TempFolder& folder) {
  std::filesystem::create_directory(folder.file("sub"));
}

void one_channel_file(const TempFolder& folder) {
  folder.write("data.txt", kOneChannelData);
}

const char* too_slow_under_a_wrapper() {
  return running_under_wrapper() ? "too slow under a wrapper" : nullptr;
}

#ifndef _WIN32
const char* no_full_device() {
  return ::access("/dev/full", W_OK) != 0 ? "/dev/full is not available" : nullptr;
}

const char* permissions_do_not_bind() {
  return ::geteuid() == 0 ? "permissions do not bind root" : nullptr;
}
#endif

// The input name fits a folder entry; the output name, four bytes longer,
// does not.
const std::string kLongName = std::string(251, 'n') + ".txt";

const FaultRow kRows[] = {
    {"NoArgument", nothing, {}, "filename missing\r\n", 1, kNoReport},
    {"OneEmptyArgument", nothing, {""}, "filename missing\r\n", 1, kNoReport},

    // The first open: a name that opens nothing, a folder, a device.
    {"NameOfNoFile", nothing, {"nothing.txt"}, "", 2, kFirstOpenLine},
    {"Folder",
     [](const TempFolder& folder) { std::filesystem::create_directory(folder.file("sub.txt")); },
     {"sub.txt"},
     "",
     2,
     kFirstOpenLine},
    // Two names that match no single file are one name that fails to open.
    {"ArgumentsJoinedNameNoFile",
     [](const TempFolder& folder) { folder.write("my data.txt", kOneChannelData); },
     {"my", "data.txt", "extra.txt"},
     "",
     2,
     kFirstOpenLine},
// A device is no regular file: its size says nothing of where its data ends
// (/dev/zero never ends), so it is refused at the first open like a FIFO.
// Windows' device names hold in any case and in any folder.
#ifdef _WIN32
    {"DeviceNUL", sub_folder, {"NUL"}, "", 1, kFirstOpenLine},
    {"DeviceNulInLowerCase", sub_folder, {"nul"}, "", 1, kFirstOpenLine},
    {"DeviceCON", sub_folder, {"CON"}, "", 1, kFirstOpenLine},
    {"DeviceNULInAFolder", sub_folder, {"sub\\NUL"}, "", 1, kFirstOpenLine},
    {"DeviceConInAFolder", sub_folder, {"sub/con"}, "", 1, kFirstOpenLine},
#else
    {"DeviceDevNull", sub_folder, {"/dev/null"}, "", 1, kFirstOpenLine},
    {"DeviceDevZero", sub_folder, {"/dev/zero"}, "", 1, kFirstOpenLine},
    {"DeviceDevUrandom", sub_folder, {"/dev/urandom"}, "", 1, kFirstOpenLine},
    // A FIFO has no size, and the run does not wait for a writer. (Windows
    // has no FIFOs among its files.)
    {"Fifo",
     [](const TempFolder& folder) {
       ASSERT_EQ(::mkfifo(folder.file("pipe.txt").c_str(), 0600), 0);
     },
     {"pipe.txt"},
     "",
     1,
     kFirstOpenLine},
#endif

    // The sample table: no channel, or no sample.
    {"EmptyFile",
     [](const TempFolder& folder) { folder.write("empty.txt", ""); },
     {"empty.txt"},
     "reading empty.txt 0 channels 0 samples\r\n",
     1,
     kSampleTableLine},
    {"TabSeparatedFields",
     [](const TempFolder& folder) { folder.write("tabs.txt", "0\t1\t1\n1\t3\t1\n"); },
     {"tabs.txt"},
     "reading tabs.txt 0 channels 2 samples\r\n",
     1,
     kSampleTableLine},
    // Only the first line decides the count of channels.
    {"TwoFieldsMakeNoChannel",
     [](const TempFolder& folder) { folder.write("two-fields.txt", "0 1\n1 2\n"); },
     {"two-fields.txt"},
     "reading two-fields.txt 0 channels 2 samples\r\n",
     1,
     kSampleTableLine},
    {"LineOf64MiBWithoutLineEnd",
     [](const TempFolder& folder) {
       folder.write_repeated("long.txt", std::string(1024, 'a'), 64 * 1024);
     },
     {"long.txt"},
     "reading long.txt 0 channels 1 samples\r\n",
     1,
     kSampleTableLine,
     Console::kWhole,
     too_slow_under_a_wrapper},
    {"TenMillionEmptyLines",
     [](const TempFolder& folder) { folder.write_repeated("empty-lines.txt", "\n", 10000000); },
     {"empty-lines.txt"},
     "reading empty-lines.txt 0 channels 10000000 samples\r\n",
     1,
     kSampleTableLine,
     Console::kWhole,
     too_slow_under_a_wrapper},

    // The second pass: two empty lines at the end, which S counts, so the
    // fields run out one sample early.
    {"FileTooShort",
     [](const TempFolder& folder) { folder.write("short.txt", "0 1 1\n1 3 1\n\n\n"); },
     {"short.txt"},
     "reading short.txt 1 channels 4 samples\r\nerror: file too short\r\n",
     17,
     kNoReport},

    // The output file, after the whole report.
    {"OutputNameTooLong",
     [](const TempFolder& folder) { folder.write(kLongName, kOneChannelData); },
     {kLongName},
     one_channel_report(kLongName, kLongName.substr(0, 251) + "_out.txt"),
     2,
     kOpenOutputLine},
    {"FolderInTheWayOfTheOutput",
     [](const TempFolder& folder) {
       one_channel_file(folder);
       std::filesystem::create_directory(folder.file("data_out.txt"));
     },
     {"data.txt"},
     one_channel_report("data.txt", "data_out.txt"),
     2,
     kOpenOutputLine},
// Windows has no device like /dev/full that refuses every write, and a
// folder's read-only attribute does not stop files being made in it (a
// read-only file: windows_e2e_test).
#ifndef _WIN32
    {"FullDiskUnderATwoLineOutput",
     [](const TempFolder& folder) {
       one_channel_file(folder);
       std::filesystem::create_symlink("/dev/full", folder.file("data_out.txt"));
     },
     {"data.txt"},
     one_channel_report("data.txt", "data_out.txt"),
     3,
     kCloseOutputLine,
     Console::kWhole,
     no_full_device},
    // The output lines are formatted in blocks of 1024 on as many threads as
    // there are processors; a write that fails among them still ends the run
    // at the close.
    {"FullDiskUnderBlocksFormattedOnSeveralThreads",
     [](const TempFolder& folder) {
       folder.write_repeated("big.txt", "0.5 1.25 -0.75\n", 50000);
       std::filesystem::create_symlink("/dev/full", folder.file("big_out.txt"));
     },
     {"big.txt"},
     "\r\nwriting big_out.txt\r\n",
     3,
     kCloseOutputLine,
     Console::kEnd,
     no_full_device},
    {"ReadOnlyFolder",
     [](const TempFolder& folder) {
       std::filesystem::create_directory(folder.file("ro"));
       folder.write("ro/data.txt", kOneChannelData);
       std::filesystem::permissions(folder.file("ro"), std::filesystem::perms::owner_read |
                                                           std::filesystem::perms::owner_exec);
     },
     {"ro/data.txt"},
     one_channel_report("ro/data.txt", "ro/data_out.txt"),
     2,
     kOpenOutputLine,
     Console::kWhole,
     permissions_do_not_bind},
#endif
};

// The files of the set-up, each with the same bytes, and no other.
void expect_same_files(const std::map<std::string, std::string>& expected,
                       const std::map<std::string, std::string>& actual) {
  std::vector<std::string> expected_names;
  std::vector<std::string> actual_names;
  for (const auto& [name, bytes] : expected) expected_names.push_back(name);
  for (const auto& [name, bytes] : actual) actual_names.push_back(name);
  ASSERT_EQ(actual_names, expected_names) << "the files in the folder";
  for (const auto& [name, bytes] : expected) EXPECT_BYTES(name, bytes, actual.at(name));
}

// A failing row is named by its name, not by its bytes.
void PrintTo(const FaultRow& row, std::ostream* out) {
  *out << row.name;
}

class FaultEnd : public ::testing::TestWithParam<FaultRow> {};

TEST_P(FaultEnd, ConsoleStatusAndReportAsTheRowSays) {
  const FaultRow& row = GetParam();
  if (row.skip != nullptr) {
    if (const char* reason = row.skip()) GTEST_SKIP() << reason;
  }
  TempFolder folder;
  ASSERT_NO_FATAL_FAILURE(row.set_up(folder));
  const auto set_up_files = folder.files();
  RunResult run = run_tarvel(folder, row.arguments);
  if (row.console == Console::kWhole) {
    EXPECT_BYTES("stdout", row.out, run.out);
  } else {
    EXPECT_TRUE(run.out.ends_with(row.out)) << run.out;
  }
  EXPECT_BYTES("stderr",
               row.report_line == kNoReport
                   ? std::string()
                   : abort_report(row.status, abort_message(row.status), row.report_line),
               run.err);
  EXPECT_EQ(run.status, row.status);
  expect_same_files(set_up_files, folder.files());
}

INSTANTIATE_TEST_SUITE_P(RunEnds, FaultEnd, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<FaultRow>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace tarvel::testing
