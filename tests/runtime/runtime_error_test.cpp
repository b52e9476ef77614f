#include "runtime/runtime_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "runtime/open_files.h"
#include "runtime/signal_errors.h"
#include "support/temp_folder.h"
#include "support/wine.h"

namespace tarvel {
namespace {

using ::testing::Eq;
using ::testing::ExitedWithCode;

struct MessageRow {
  int code;
  const char* message;
};

TEST(RuntimeErrorMessage, EveryCodeHasItsFixedMessage) {
  const MessageRow rows[] = {
      {0, ""},
      {1, "illegal function call"},
      {2, "file not found"},
      {3, "file I/O error"},
      {4, "out of memory"},
      {5, "illegal resume"},
      {6, "out of bounds array access"},
      {7, "null pointer access"},
      {8, "no privileges"},
      {9, "\"interrupted\" signal"},
      {10, "\"illegal instruction\" signal"},
      {11, "\"floating point error\" signal"},
      {12, "\"segmentation violation\" signal"},
      {13, "\"termination request\" signal"},
      {14, "\"abnormal termination\" signal"},
      {15, "\"quit request\" signal"},
      {16, "return without gosub"},
      {17, "end of file"},
  };
  for (const MessageRow& row : rows) {
    ASSERT_NE(runtime_error_message(row.code), nullptr) << row.code;
    EXPECT_STREQ(runtime_error_message(row.code), row.message) << row.code;
  }
  EXPECT_EQ(runtime_error_message(-1), nullptr);
  EXPECT_EQ(runtime_error_message(18), nullptr);
}

struct ReportRow {
  int code;
  int line;
  const char* text;
};

TEST(RuntimeErrorReport, FormatsCodeMessageLineAndModule) {
  const ReportRow rows[] = {
      {2, 19, "\nAborting due to runtime error 2 (file not found) at line 19 of tarvel()\n\n"},
      {1, 40,
       "\nAborting due to runtime error 1 (illegal function call) at line 40 of tarvel()\n\n"},
      {9, 0, "\nAborting due to runtime error 9 (\"interrupted\" signal)\n\n"},
      {12, 0, "\nAborting due to runtime error 12 (\"segmentation violation\" signal)\n\n"},
      {0, 0, "\nAborting due to runtime error 0 ()\n\n"},
      // A code without a message has no parenthesised part.
      {42, 7, "\nAborting due to runtime error 42 at line 7 of tarvel()\n\n"},
      {-3, 0, "\nAborting due to runtime error -3\n\n"},
  };
  for (const ReportRow& row : rows) {
    char report[1024];
    std::size_t size =
        format_runtime_error_report(row.code, row.line, kModuleName, report, sizeof report);
    EXPECT_EQ(std::string(report, size), row.text) << row.code;
  }
}

TEST(RuntimeErrorReport, IsCutAt1023Bytes) {
  std::string module(2000, 'm');
  char report[1024];
  std::memset(report, 'x', sizeof report);
  std::size_t size = format_runtime_error_report(2, 19, module.c_str(), report, sizeof report);
  EXPECT_EQ(size, 1023u);
  EXPECT_EQ(report[1023], '\0');
  std::string expected_start = "\nAborting due to runtime error 2 (file not found) at line 19 of ";
  EXPECT_EQ(std::string(report, expected_start.size()), expected_start);
  EXPECT_EQ(report[1022], 'm');
}

TEST(RuntimeErrorDeathTest, GuardedStepReportGoesToStandardErrorWithCodeAsStatus) {
  EXPECT_EXIT(raise_runtime_error(2, 19), ExitedWithCode(2),
              Eq("\nAborting due to runtime error 2 (file not found) at line 19 of tarvel()\n\n"));
  EXPECT_EXIT(raise_runtime_error(4, 178), ExitedWithCode(4),
              Eq("\nAborting due to runtime error 4 (out of memory) at line 178 of tarvel()\n\n"));
}

TEST(RuntimeErrorDeathTest, EndRunWritesNothingAndExitsWithStatus) {
  EXPECT_EXIT(end_run(0), ExitedWithCode(0), Eq(""));
  EXPECT_EXIT(end_run(17), ExitedWithCode(17), Eq(""));
}

struct SignalRow {
  int signal_number;
  int code;
  const char* report;
};

const SignalRow kSignalRows[] = {
    {SIGINT, 9, "\nAborting due to runtime error 9 (\"interrupted\" signal)\n\n"},
    {SIGILL, 10, "\nAborting due to runtime error 10 (\"illegal instruction\" signal)\n\n"},
    {SIGFPE, 11, "\nAborting due to runtime error 11 (\"floating point error\" signal)\n\n"},
    {SIGSEGV, 12, "\nAborting due to runtime error 12 (\"segmentation violation\" signal)\n\n"},
    {SIGTERM, 13, "\nAborting due to runtime error 13 (\"termination request\" signal)\n\n"},
    {SIGABRT, 14, "\nAborting due to runtime error 14 (\"abnormal termination\" signal)\n\n"},
};

TEST(SignalDeathTest, EachFatalSignalAbortsWithItsCode) {
  for (const SignalRow& row : kSignalRows) {
    EXPECT_EQ(signal_error_code(row.signal_number), row.code);
    EXPECT_EXIT(
        {
          install_signal_handlers();
          ::raise(row.signal_number);
        },
        ExitedWithCode(row.code), Eq(row.report))
        << "signal " << row.signal_number;
  }
#ifdef SIGHUP
  EXPECT_EQ(signal_error_code(SIGHUP), 0);
#endif
}

TEST(SignalDeathTest, AbortCallReportsAbnormalTermination) {
  EXPECT_EXIT(
      {
        install_signal_handlers();
        std::abort();
      },
      ExitedWithCode(14), Eq(kSignalRows[5].report));
}

// Recursion that overflows any default stack; the volatile frame keeps the
// compiler from turning it into a loop, and the depth test (never true in
// practice) keeps it from proving the recursion endless.
volatile int g_recursion_limit = 1 << 30;

int recurse(int depth) {
  volatile char frame[1024];
  frame[0] = static_cast<char>(depth);
  if (depth >= g_recursion_limit) return frame[0];
  return recurse(depth + 1) + frame[0];
}

TEST(SignalDeathTest, StackOverflowStillReportsSegmentationViolation) {
#ifdef _WIN32
  if (testing::running_under_wine())
    GTEST_SKIP() << "Wine 8 does not honour SetThreadStackGuarantee: it runs out of stack "
                    "itself while raising the overflow and ends the process before any handler";
#endif
  EXPECT_EXIT(
      {
        install_signal_handlers();
        recurse(0);
      },
      ExitedWithCode(12), Eq(kSignalRows[3].report));
}

TEST(SignalDeathTest, HeldSignalIsDeliveredWhenTheHoldEnds) {
  EXPECT_EXIT(
      {
        install_signal_handlers();
        {
          SignalHold hold;
          ::raise(SIGTERM);
          // Still here: the signal waits for the hold to end.
          ::write(STDERR_FILENO, "held", 4);
        }
        ::write(STDERR_FILENO, "not reached", 11);
      },
      ExitedWithCode(13), Eq(std::string("held") + kSignalRows[4].report));
}

// A file the dying process writes: the same name in the process that checks
// it and in the one that dies, also where a death test starts the test
// binary afresh (Windows) instead of forking, and so makes a new folder.
class DeathTestFile {
 public:
  explicit DeathTestFile(const char* name)
      : path_((std::filesystem::temp_directory_path() / name).generic_string()) {}
  ~DeathTestFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(ProcessEndDeathTest, AbortWritesOutBufferedFileBytesBeforeEnding) {
  const DeathTestFile out("tarvel-abort-writes-out.txt");
  const std::string& path = out.path();
  EXPECT_EXIT(
      {
        install_signal_handlers();
        const platform::FileHandle file_handle = platform::create_for_writing(path);
        if (register_open_file(2, file_handle, 8192) != kNoError) std::_Exit(99);
        OpenFile& file = *open_file_entry(2);
        std::memcpy(file.buffer, "kept bytes\r\n", 12);
        file.buffered.store(12);
        ::raise(SIGINT);
      },
      ExitedWithCode(9), Eq(kSignalRows[0].report));
  EXPECT_EQ(testing::read_file(path), "kept bytes\r\n");
}

TEST(ProcessEndDeathTest, EndRunClosesEveryOpenFileWithItsBuffer) {
  const DeathTestFile out("tarvel-end-run-closes.txt");
  const std::string& path = out.path();
  EXPECT_EXIT(
      {
        const platform::FileHandle file_handle = platform::create_for_writing(path);
        if (register_open_file(255, file_handle, 8192) != kNoError) std::_Exit(99);
        OpenFile& file = *open_file_entry(255);
        std::memcpy(file.buffer, "abc", 3);
        file.buffered.store(3);
        end_run(0);
      },
      ExitedWithCode(0), Eq(""));
  EXPECT_EQ(testing::read_file(path), "abc");
}

}  // namespace
}  // namespace tarvel
