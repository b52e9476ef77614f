// Runs the built tarvel binary and compares what it did byte for byte.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace tarvel::testing {

struct RunResult {
  std::string out;  // standard output
  std::string err;  // standard error
  int status = -1;  // exit status, or 128 + signal number when killed
};

// Where the started tool's standard output and standard error go.
enum class Streams {
  kPipes,         // two pipes, read to their end into RunResult's out and err
  kUnreadOutput,  // standard output a pipe already closed at its reading end,
                  // so that every console write fails; out stays empty
  kFiles,         // two files in a folder of the runner's own, as a shell's
                  // redirection gives them; read back into out and err
};

// Runs the tool with `arguments` in `folder` (its working directory), with no
// standard input, and waits for it. `prefix` is put before the binary on the
// command line (for example prlimit), empty for a plain run. The words of the
// environment variable TARVEL_TEST_WRAPPER, when set, come between the two:
// the whole end-to-end suite runs under valgrind that way. On Windows the
// arguments are quoted so that the tool's start-up code splits them back
// into the same words; one holding * or ? and no blank goes unquoted, so
// that the start-up code expands it.
RunResult run_tarvel(const TempFolder& folder, const std::vector<std::string>& arguments,
                     const std::vector<std::string>& prefix = {},
                     Streams streams = Streams::kPipes);

// A run started in the background: its process (a process ID on POSIX, a
// process handle on Windows) and the reading ends of its standard output and
// standard error (descriptors or handles), -1 where there is none.
struct StartedRun {
  std::intptr_t process = -1;
  std::intptr_t out = -1;
  std::intptr_t err = -1;
  std::shared_ptr<TempFolder> stream_files;  // for Streams::kFiles
};

// Starts the tool as run_tarvel does, without waiting for it.
StartedRun start_tarvel(const TempFolder& folder, const std::vector<std::string>& arguments,
                        const std::vector<std::string>& prefix = {},
                        Streams streams = Streams::kPipes);

// Reads the started run's output to its end and waits for it.
RunResult finish_tarvel(StartedRun& run);

// True when TARVEL_TEST_WRAPPER is set: tests that depend on timing or on the
// address space skip themselves then.
bool running_under_wrapper();

// The path of the tool under test.
std::string tarvel_binary();

// The words that start the tool: a cross build's emulator, then its path.
std::vector<std::string> tarvel_command();

// The whole command line of a run: `prefix`, the wrapper's words, the tool's
// command and `arguments`.
std::vector<std::string> command_words(const std::vector<std::string>& prefix,
                                       const std::vector<std::string>& arguments);

// A gtest assertion result that names the first differing byte with context,
// with CR and LF and other control bytes shown escaped.
::testing::AssertionResult bytes_equal(const std::string& what, const std::string& expected,
                                       const std::string& actual);

// Converts "\n" to CR LF, for writing expected console text readably.
std::string crlf(const std::string& text);

}  // namespace tarvel::testing

#define EXPECT_BYTES(what, expected, actual) \
  EXPECT_TRUE(::tarvel::testing::bytes_equal(what, expected, actual))
