// End-to-end: odd names, odd inputs, memory limits, signals and a console
// nobody reads. Whatever happens, a run ends in one of its defined ends, and
// nothing already written is lost. The faults whose set-up alone decides the
// end are the table of run_ends_test.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <csignal>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "runtime/report_lines.h"
#include "support/abort_report.h"
#include "support/e2e_run.h"
#include "support/one_channel.h"
#include "support/temp_folder.h"

namespace tarvel::testing {
namespace {

// For the signal cases, which need POSIX.
[[maybe_unused]] std::string signal_report(int code, const std::string& message) {
  return "\nAborting due to runtime error " + std::to_string(code) + " (" + message + ")\n\n";
}

bool all_digits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// True when `err` is an abort report "\nAborting due to runtime error N (M) at
// line L of tarvel()\n\n" for any code N, message M and line L.
bool is_abort_report(const std::string& err) {
  const std::string head = "\nAborting due to runtime error ";
  const std::string tail = " of tarvel()\n\n";
  if (!err.starts_with(head) || !err.ends_with(tail)) return false;
  const std::string middle = err.substr(head.size(), err.size() - head.size() - tail.size());
  const std::size_t open = middle.find(" (");
  const std::size_t close = middle.rfind(") at line ");
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  return all_digits(middle.substr(0, open)) &&
         middle.substr(open + 2, close - open - 2).find(')') == std::string::npos &&
         all_digits(middle.substr(close + 10));
}

// True when a run ended in one of the ends the tool defines.
::testing::AssertionResult is_defined_end(const RunResult& run) {
  if (run.status == 0 && run.err.empty()) return ::testing::AssertionSuccess();
  if (run.status == 17 && run.err.empty() && run.out.ends_with("error: file too short\r\n")) {
    return ::testing::AssertionSuccess();
  }
  if ((run.status == 1 || run.status == 2 || run.status == 4) && is_abort_report(run.err)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "status " << run.status << ", stderr \"" << run.err << "\"";
}

// Address-space limits break the sanitizers', valgrind's and an emulator's
// own reservations.
bool address_space_is_managed() {
#if defined(TARVEL_SANITIZED) || defined(TARVEL_EMULATOR)
  return true;
#else
  return running_under_wrapper();
#endif
}

// Runs the tool on a one-channel file of that name and checks the output file.
void expect_name_works(const std::string& name) {
  SCOPED_TRACE(name);
  TempFolder folder;
  folder.write(name, kOneChannelData);
  RunResult run = run_tarvel(folder, {name});
  EXPECT_EQ(run.status, 0) << run.err;
  std::string output_name = name.substr(0, name.size() - 4) + "_out.txt";
  EXPECT_BYTES("output", kOneChannelOutput, folder.files()[output_name]);
  EXPECT_TRUE(run.out.ends_with("\r\nwriting " + output_name + "\r\n"));
}

TEST(OddNames, NamesWithSpacesUtf8AndManyBytes) {
  for (const std::string& name :
       {std::string("with  two spaces.txt"), std::string("\xc3\xa9t\xc3\xa9.txt"),
        std::string(247, 'n') + ".txt"}) {
    expect_name_works(name);
  }
}

TEST(OddNames, ArgumentsAreJoinedWithSingleBlanks) {
  TempFolder folder;
  folder.write("my data.txt", kOneChannelData);
  RunResult run = run_tarvel(folder, {"my", "data.txt"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_BYTES("first line", "reading my data.txt 1 channels 2 samples\r\n",
               run.out.substr(0, run.out.find('\n') + 1));
  EXPECT_EQ(folder.files().count("my data_out.txt"), 1u);
}

TEST(OddNames, NamesWithANewlineOrBytesThatAreNotUtf8) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows file names are UTF-16 without control characters: such a name "
                  "cannot be created or given to the tool";
#endif
  for (const char* name : {"line\nbreak.txt", "\xc3\xa9t\xe9.txt"}) {
    expect_name_works(name);
  }
}

TEST(OddInputs, RandomBinaryBytesAndNulBytesEndDefined) {
  std::mt19937 random(12345);
  for (int trial = 0; trial < 20; ++trial) {
    TempFolder folder;
    std::string bytes(1 + random() % 5000, '\0');
    for (char& byte : bytes) {
      // Every other trial is mostly NUL bytes and line ends.
      unsigned value = random() % 256;
      byte = static_cast<char>(trial % 2 == 0 ? value
                                              : (value < 200   ? 0
                                                 : value < 230 ? '\n'
                                                               : '1'));
    }
    folder.write("random.txt", bytes);
    RunResult run = run_tarvel(folder, {"random.txt"});
    EXPECT_TRUE(is_defined_end(run)) << "trial " << trial;
    EXPECT_TRUE(run.out.starts_with("reading random.txt ")) << "trial " << trial;
  }
}

TEST(OddInputs, OverflowAndUnderflowPrintInfAndNan) {
  TempFolder folder;
  folder.write("extreme.txt", "0 1e38 1e38 1e-45 0\n1 -1e38 1e38 1e-45 1e-45\n2 1e38 -1e38 0 0\n");
  RunResult run = run_tarvel(folder, {"extreme.txt"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_BYTES("stderr", "", run.err);
  EXPECT_NE(run.out.find("inf"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("nan"), std::string::npos) << run.out;
  std::string output = folder.files()["extreme_out.txt"];
  EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 3);
}

TEST(Memory, SampleTableBeyondTheAddressSpaceLimitIsOutOfMemory) {
#ifdef _WIN32
  GTEST_SKIP() << "no prlimit on Windows to limit the tool's address space";
#endif
  if (address_space_is_managed()) GTEST_SKIP() << "the address space is not the tool's own";
  TempFolder folder;
  // 2001 fields give 1000 channels; 30000 lines make a table of 240 MB.
  std::string first_line = "0";
  for (int k = 0; k < 2000; ++k) first_line += " 1";
  folder.write_repeated("wide.txt", "\n", 29999);
  std::string contents = read_file(folder.file("wide.txt"));
  folder.write("wide.txt", first_line + "\n" + contents);
  RunResult run = run_tarvel(folder, {"wide.txt"}, {"prlimit", "--as=150000000", "--"});
  EXPECT_BYTES("stdout", "reading wide.txt 1000 channels 30000 samples\r\n", run.out);
  EXPECT_BYTES("stderr", abort_report(4, "out of memory", kSampleTableLine), run.err);
  EXPECT_EQ(run.status, 4);
}

TEST(Memory, HundredThousandFieldsOnTheFirstLine) {
#ifdef _WIN32
  GTEST_SKIP() << "no prlimit on Windows to limit the tool's address space";
#endif
  if (address_space_is_managed()) GTEST_SKIP() << "the address space is not the tool's own";
  TempFolder folder;
  std::string line = "0";
  for (int k = 0; k < 99999; ++k) line += k % 2 == 0 ? " 1" : " 2";
  folder.write("wide.txt", line + "\n");
  // One sample of 49999 channels: the covariance alone needs 10 GB.
  RunResult run = run_tarvel(folder, {"wide.txt"}, {"prlimit", "--as=2000000000", "--"});
  EXPECT_BYTES("stdout", "reading wide.txt 49999 channels 1 samples\r\n", run.out);
  EXPECT_BYTES("stderr", abort_report(4, "out of memory", kStatisticsLine), run.err);
  EXPECT_EQ(run.status, 4);
}

// A run busy on a large file gets a signal once it has printed `marker`.
struct SignalRow {
  int signal_number;
  int code;
  const char* message;
};

class BusyRun : public ::testing::TestWithParam<SignalRow> {};

TEST_P(BusyRun, SignalDuringTheSecondPassAbortsWithItsCode) {
#ifdef _WIN32
  GTEST_SKIP() << "no POSIX signal can be sent to another process on Windows";
#else
  if (running_under_wrapper()) GTEST_SKIP() << "too slow under a wrapper";
  const SignalRow& row = GetParam();
  TempFolder folder;
  folder.write_repeated("big.txt", "0.5 1.25 -0.75 2 3\n", 4000000);
  StartedRun started = start_tarvel(folder, {"big.txt"});
  // Wait for the reading line: the run is then allocating or reading.
  std::string seen;
  char buffer[256];
  while (seen.find('\n') == std::string::npos) {
    ssize_t got = ::read(static_cast<int>(started.out), buffer, sizeof buffer);
    if (got <= 0) break;
    seen.append(buffer, static_cast<std::size_t>(got));
  }
  ::kill(static_cast<pid_t>(started.process), row.signal_number);
  RunResult run = finish_tarvel(started);
  run.out = seen + run.out;
  EXPECT_BYTES("stdout", "reading big.txt 2 channels 4000000 samples\r\n", run.out);
  EXPECT_BYTES("stderr", signal_report(row.code, row.message), run.err);
  EXPECT_EQ(run.status, row.code);
#endif
}

INSTANTIATE_TEST_SUITE_P(Signals, BusyRun,
                         ::testing::Values(SignalRow{SIGINT, 9, "\"interrupted\" signal"},
                                           SignalRow{SIGTERM, 13,
                                                     "\"termination request\" signal"}));

TEST(Signals, SignalWhileWritingKeepsEveryByteWrittenBeforeIt) {
#ifdef _WIN32
  GTEST_SKIP() << "no POSIX signal can be sent to another process on Windows";
#else
  if (running_under_wrapper()) GTEST_SKIP() << "too slow under a wrapper";
  // A run that ends before the signal arrives proves nothing: it is tried
  // again on a file twice as long.
  for (std::size_t lines = 3000000; lines <= 12000000; lines *= 2) {
    TempFolder folder;
    folder.write_repeated("big.txt", "0.5 1.25 -0.75\n", lines);
    RunResult complete = run_tarvel(folder, {"big.txt"});
    ASSERT_EQ(complete.status, 0) << complete.err;
    const std::string full = read_file(folder.file("big_out.txt"));
    std::filesystem::remove(folder.file("big_out.txt"));

    StartedRun started = start_tarvel(folder, {"big.txt"});
    // Wait until the output file has content, then interrupt.
    struct stat info {};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < deadline) {
      if (::stat(folder.file("big_out.txt").c_str(), &info) == 0 && info.st_size > 0) break;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ::kill(static_cast<pid_t>(started.process), SIGTERM);
    RunResult run = finish_tarvel(started);
    if (run.status == 0) {
      EXPECT_BYTES("output of the run the signal missed", full,
                   read_file(folder.file("big_out.txt")));
      continue;
    }

    EXPECT_BYTES("stderr", signal_report(13, "\"termination request\" signal"), run.err);
    ASSERT_EQ(run.status, 13);
    const std::string partial = read_file(folder.file("big_out.txt"));
    ASSERT_GT(partial.size(), 0u);
    ASSERT_LE(partial.size(), full.size());
    // Every byte in the file is the byte the complete run wrote there.
    EXPECT_BYTES("partial output", full.substr(0, partial.size()), partial);
    return;
  }
  FAIL() << "every run wrote its whole output before the signal arrived";
#endif
}

TEST(Console, ClosedPipeOnStandardOutputLosesOnlyTheConsoleText) {
  TempFolder folder;
  folder.write("data.txt", kOneChannelData);
  RunResult run = run_tarvel(folder, {"data.txt"}, {}, Streams::kUnreadOutput);
  EXPECT_BYTES("stderr", "", run.err);
  EXPECT_EQ(run.status, 0);
  EXPECT_BYTES("data_out.txt", kOneChannelOutput, folder.files()["data_out.txt"]);
}

}  // namespace
}  // namespace tarvel::testing
