#include "support/e2e_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace tarvel::testing {
namespace {

std::string escape(const std::string& bytes, std::size_t from, std::size_t to) {
  std::string shown;
  for (std::size_t i = from; i < to && i < bytes.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '\r') {
      shown += "\\r";
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c < 0x20 || c >= 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      shown += hex;
    } else {
      shown += static_cast<char>(c);
    }
  }
  return shown;
}

}  // namespace

std::string tarvel_binary() {
  return TARVEL_BINARY;
}

std::vector<std::string> tarvel_command() {
  std::vector<std::string> words;
#ifdef TARVEL_EMULATOR
  std::istringstream emulator(TARVEL_EMULATOR);
  for (std::string word; emulator >> word;) words.push_back(word);
#endif
  words.push_back(tarvel_binary());
  return words;
}

bool running_under_wrapper() {
  const char* wrapper = std::getenv("TARVEL_TEST_WRAPPER");
  return wrapper != nullptr && *wrapper != '\0';
}

std::vector<std::string> command_words(const std::vector<std::string>& prefix,
                                       const std::vector<std::string>& arguments) {
  std::vector<std::string> words = prefix;
  if (running_under_wrapper()) {
    std::istringstream wrapper(std::getenv("TARVEL_TEST_WRAPPER"));
    for (std::string word; wrapper >> word;) words.push_back(word);
  }
  for (const std::string& word : tarvel_command()) words.push_back(word);
  words.insert(words.end(), arguments.begin(), arguments.end());
  return words;
}

RunResult run_tarvel(const TempFolder& folder, const std::vector<std::string>& arguments,
                     const std::vector<std::string>& prefix, Streams streams) {
  StartedRun started = start_tarvel(folder, arguments, prefix, streams);
  return finish_tarvel(started);
}

::testing::AssertionResult bytes_equal(const std::string& what, const std::string& expected,
                                       const std::string& actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  std::size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  std::size_t from = at < 40 ? 0 : at - 40;
  return ::testing::AssertionFailure()
         << what << " differs at byte " << at << " (expected " << expected.size() << " bytes, got "
         << actual.size() << ")\n  expected: ..." << escape(expected, from, at + 40)
         << "\n  actual:   ..." << escape(actual, from, at + 40);
}

std::string crlf(const std::string& text) {
  std::string converted;
  for (char c : text) {
    if (c == '\n') converted += '\r';
    converted += c;
  }
  return converted;
}

}  // namespace tarvel::testing
