// End-to-end: how a run ends, through the built binary in a fresh folder.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <map>
#include <string>

#include "runtime/report_lines.h"
#include "support/abort_report.h"
#include "support/e2e_run.h"
#include "support/temp_folder.h"

namespace tarvel::testing {
namespace {

TEST(RunEnds, NoArgumentPrintsFilenameMissingAndFails) {
  TempFolder folder;
  RunResult run = run_tarvel(folder, {});
  EXPECT_BYTES("stdout", "filename missing\r\n", run.out);
  EXPECT_BYTES("stderr", "", run.err);
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(folder.files().empty());
}

TEST(RunEnds, OneEmptyArgumentIsNoName) {
  TempFolder folder;
  RunResult run = run_tarvel(folder, {""});
  EXPECT_BYTES("stdout", "filename missing\r\n", run.out);
  EXPECT_EQ(run.status, 1);
}

// Inputs that end the run before any output: a name that opens nothing, a
// folder, and files with no channel (empty, or tab-separated fields).
TEST(RunEnds, InputsWithoutSamplesAbortBeforeAnyOutput) {
  enum class Made { kNothing, kFolder, kFile };
  struct Row {
    const char* name;
    Made made;
    const char* contents;
    const char* stdout_text;
    int status;
    const char* message;
    int report_line;
  };
  const Row rows[] = {
      {"nothing.txt", Made::kNothing, "", "", 2, "file not found", kFirstOpenLine},
      {"sub.txt", Made::kFolder, "", "", 2, "file not found", kFirstOpenLine},
      {"empty.txt", Made::kFile, "", "reading empty.txt 0 channels 0 samples\r\n", 1,
       "illegal function call", kSampleTableLine},
      {"tabs.txt", Made::kFile, "0\t1\t1\n1\t3\t1\n", "reading tabs.txt 0 channels 2 samples\r\n",
       1, "illegal function call", kSampleTableLine},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder folder;
    if (row.made == Made::kFolder) std::filesystem::create_directory(folder.file(row.name));
    if (row.made == Made::kFile) folder.write(row.name, row.contents);
    RunResult run = run_tarvel(folder, {row.name});
    EXPECT_BYTES("stdout", row.stdout_text, run.out);
    EXPECT_BYTES("stderr", abort_report(row.status, row.message, row.report_line), run.err);
    EXPECT_EQ(run.status, row.status);
    EXPECT_EQ(folder.files().size(), row.made == Made::kFile ? 1u : 0u);
  }
}

TEST(RunEnds, ArgumentsAreJoinedWithSingleBlanks) {
  TempFolder folder;
  folder.write("my data.txt", "0 1 1\n1 3 1\n");
  RunResult run = run_tarvel(folder, {"my", "data.txt"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_BYTES("first line", "reading my data.txt 1 channels 2 samples\r\n",
               run.out.substr(0, run.out.find('\n') + 1));
  EXPECT_EQ(folder.files().count("my data_out.txt"), 1u);

  // Two names that match no single file are one name that fails to open.
  RunResult joined = run_tarvel(folder, {"my", "data.txt", "extra.txt"});
  EXPECT_BYTES("stderr", abort_report(2, "file not found", kFirstOpenLine), joined.err);
  EXPECT_EQ(joined.status, 2);
}

// A device is no regular file: its size says nothing of where its data ends
// (/dev/zero never ends), so it is refused at the first open like a FIFO.
// Windows' device names hold in any case and in any folder.
TEST(RunEnds, DevicesAreRefusedAtTheFirstOpen) {
#ifdef _WIN32
  const char* const devices[] = {"NUL", "nul", "CON", "sub\\NUL", "sub/con"};
#else
  const char* const devices[] = {"/dev/null", "/dev/zero", "/dev/urandom"};
#endif
  for (const char* device : devices) {
    SCOPED_TRACE(device);
    TempFolder folder;
    std::filesystem::create_directory(folder.file("sub"));
    RunResult run = run_tarvel(folder, {device});
    EXPECT_BYTES("stdout", "", run.out);
    EXPECT_BYTES("stderr", abort_report(1, "illegal function call", kFirstOpenLine), run.err);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(folder.files().empty());
  }
}

TEST(RunEnds, FifoAsInputHasNoSizeAndDoesNotWait) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no FIFOs among its files";
#else
  TempFolder folder;
  ASSERT_EQ(::mkfifo(folder.file("pipe.txt").c_str(), 0600), 0);
  RunResult run = run_tarvel(folder, {"pipe.txt"});
  EXPECT_BYTES("stdout", "", run.out);
  EXPECT_BYTES("stderr", abort_report(1, "illegal function call", kFirstOpenLine), run.err);
  EXPECT_EQ(run.status, 1);
#endif
}

TEST(RunEnds, FileTooShortFailsWithEndOfFileAndWritesNoOutput) {
  TempFolder folder;
  // Two empty lines at the end: S counts both, the fields run out one early.
  folder.write("short.txt", "0 1 1\n1 3 1\n\n\n");
  RunResult run = run_tarvel(folder, {"short.txt"});
  EXPECT_BYTES("stdout",
               "reading short.txt 1 channels 4 samples\r\n"
               "error: file too short\r\n",
               run.out);
  EXPECT_BYTES("stderr", "", run.err);
  EXPECT_EQ(run.status, 17);
  EXPECT_EQ(folder.files().size(), 1u);
}

TEST(RunEnds, OneChannelOnlyFirstLineDecidesTheCount) {
  TempFolder folder;
  folder.write("two-fields.txt", "0 1\n1 2\n");
  RunResult run = run_tarvel(folder, {"two-fields.txt"});
  EXPECT_BYTES("stdout", "reading two-fields.txt 0 channels 2 samples\r\n", run.out);
  EXPECT_BYTES("stderr", abort_report(1, "illegal function call", kSampleTableLine), run.err);
  EXPECT_EQ(run.status, 1);
}

}  // namespace
}  // namespace tarvel::testing
