// End-to-end: where the output goes, and what happens when it cannot.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <filesystem>
#include <string>

#include "runtime/report_lines.h"
#include "support/abort_report.h"
#include "support/e2e_run.h"
#include "support/temp_folder.h"

namespace tarvel::testing {
namespace {

const char kOneChannelData[] = "0 1 1\n1 3 1\n";
const char kOneChannelOutput[] = " 0  1  1\r\n 1  3  1\r\n";

// The report of the one-channel data up to the combined-signal section.
std::string report_before_writing(const std::string& input_name) {
  return crlf("reading " + input_name +
              " 1 channels 2 samples\n\nsignals:\n 2 1j   10 dB SNR\n\nnoise covariance:\n"
              " 1 0j  \n\ninverted noise covariance:\n 1 0j  \n\noptimum weights:\n 2-1j\n\n"
              "normalized optimum weights:\n 1 0j\n\ncombined signal:\n 2 1j   10 dB SNR\n");
}

TEST(OutputFile, NameFollowsTheInputName) {
  struct Row {
    const char* input;
    const char* output;
  };
  const Row rows[] = {
      {"data.TXT", "data.TXT_out.txt"}, {"data", "data_out.txt"},
      {"a.txt.txt", "a.txt_out.txt"},   {".txt", "_out.txt"},
      {"txt", "txt_out.txt"},
  };
  for (const Row& row : rows) {
    TempFolder folder;
    folder.write(row.input, kOneChannelData);
    RunResult run = run_tarvel(folder, {row.input});
    EXPECT_EQ(run.status, 0) << row.input << ": " << run.err;
    EXPECT_BYTES(
        "stdout",
        report_before_writing(row.input) + crlf(std::string("\nwriting ") + row.output + "\n"),
        run.out);
    auto files = folder.files();
    EXPECT_EQ(files.size(), 2u) << row.input;
    EXPECT_BYTES(row.output, kOneChannelOutput, files[row.output]);
  }
}

TEST(OutputFile, LandsInTheInputFilesFolder) {
  TempFolder folder;
  std::filesystem::create_directory(folder.file("sub"));
  folder.write("sub/x.txt", kOneChannelData);
  RunResult run = run_tarvel(folder, {"sub/x.txt"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_BYTES("sub/x_out.txt", kOneChannelOutput, read_file(folder.file("sub/x_out.txt")));
}

TEST(OutputFile, LongerExistingFileIsReplacedEntirely) {
  TempFolder folder;
  folder.write("data.txt", kOneChannelData);
  folder.write("data_out.txt", std::string(10000, 'z'));
  RunResult run = run_tarvel(folder, {"data.txt"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_BYTES("data_out.txt", kOneChannelOutput, folder.files()["data_out.txt"]);
}

TEST(OutputFile, FolderInTheWayAbortsAtTheOpenAfterTheWholeReport) {
  TempFolder folder;
  folder.write("data.txt", kOneChannelData);
  std::filesystem::create_directory(folder.file("data_out.txt"));
  RunResult run = run_tarvel(folder, {"data.txt"});
  EXPECT_BYTES("stdout", report_before_writing("data.txt") + crlf("\nwriting data_out.txt\n"),
               run.out);
  EXPECT_BYTES("stderr", abort_report(2, "file not found", kOpenOutputLine), run.err);
  EXPECT_EQ(run.status, 2);
}

TEST(OutputFile, FullDiskUnderATwoLineOutputIsAnIoErrorAtTheClose) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no device like /dev/full that refuses every write";
#else
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not available";
  TempFolder folder;
  folder.write("data.txt", kOneChannelData);
  std::filesystem::create_symlink("/dev/full", folder.file("data_out.txt"));
  RunResult run = run_tarvel(folder, {"data.txt"});
  EXPECT_BYTES("stdout", report_before_writing("data.txt") + crlf("\nwriting data_out.txt\n"),
               run.out);
  EXPECT_BYTES("stderr", abort_report(3, "file I/O error", kCloseOutputLine), run.err);
  EXPECT_EQ(run.status, 3);
#endif
}

TEST(OutputFile, ReadOnlyFolderAbortsAtTheOpen) {
#ifdef _WIN32
  GTEST_SKIP() << "a folder's read-only attribute does not stop files being made in it on "
                  "Windows (a read-only file: windows_e2e_test)";
#else
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  TempFolder folder;
  std::filesystem::create_directory(folder.file("ro"));
  folder.write("ro/data.txt", kOneChannelData);
  std::filesystem::permissions(
      folder.file("ro"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  RunResult run = run_tarvel(folder, {"ro/data.txt"});
  EXPECT_BYTES("stderr", abort_report(2, "file not found", kOpenOutputLine), run.err);
  EXPECT_EQ(run.status, 2);
#endif
}

}  // namespace
}  // namespace tarvel::testing
