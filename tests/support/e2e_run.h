// Runs the built tarvel binary and compares what it did byte for byte.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace tarvel::testing {

struct RunResult {
  std::string out;  // standard output
  std::string err;  // standard error
  int status = -1;  // exit status, or 128 + signal number when killed
};

// Runs the tool with `arguments` in `folder` (its working directory), with no
// standard input, and waits for it. `prefix` is put before the binary on the
// command line (for example prlimit), empty for a plain run. The words of the
// environment variable TARVEL_TEST_WRAPPER, when set, come first of all: the
// whole end-to-end suite runs under valgrind that way.
RunResult run_tarvel(const TempFolder& folder, const std::vector<std::string>& arguments,
                     const std::vector<std::string>& prefix = {});

// A run started in the background: its process and the read ends of its
// standard output and standard error.
struct StartedRun {
  int pid = -1;
  int out_fd = -1;
  int err_fd = -1;
};

// Starts the tool as run_tarvel does, without waiting for it.
StartedRun start_tarvel(const TempFolder& folder, const std::vector<std::string>& arguments,
                        const std::vector<std::string>& prefix = {});

// Reads the started run's output to its end and waits for it.
RunResult finish_tarvel(StartedRun& run);

// True when TARVEL_TEST_WRAPPER is set: tests that depend on timing or on the
// address space skip themselves then.
bool running_under_wrapper();

// The path of the tool under test.
std::string tarvel_binary();

// The words that start the tool: a cross build's emulator, then its path.
std::vector<std::string> tarvel_command();

// A gtest assertion result that names the first differing byte with context,
// with CR and LF and other control bytes shown escaped.
::testing::AssertionResult bytes_equal(const std::string& what, const std::string& expected,
                                       const std::string& actual);

// Converts "\n" to CR LF, for writing expected console text readably.
std::string crlf(const std::string& text);

}  // namespace tarvel::testing

#define EXPECT_BYTES(what, expected, actual) \
  EXPECT_TRUE(::tarvel::testing::bytes_equal(what, expected, actual))
