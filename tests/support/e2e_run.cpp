#include "support/e2e_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

extern char** environ;

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

// Reads both pipes until both are closed, so neither can fill and block.
void drain(int out_fd, int err_fd, std::string& out, std::string& err) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
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

StartedRun start_tarvel(const TempFolder& folder, const std::vector<std::string>& arguments,
                        const std::vector<std::string>& prefix) {
  std::vector<std::string> words = prefix;
  if (running_under_wrapper()) {
    std::istringstream wrapper(std::getenv("TARVEL_TEST_WRAPPER"));
    for (std::string word; wrapper >> word;) words.push_back(word);
  }
  for (const std::string& word : tarvel_command()) words.push_back(word);
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  StartedRun started;
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    return started;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
  posix_spawn_file_actions_addchdir_np(&actions, folder.path().c_str());
  pid_t pid = 0;
  int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  if (spawned != 0) {
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    ADD_FAILURE() << "cannot start " << argv[0];
    return started;
  }
  started.pid = pid;
  started.out_fd = out_pipe[0];
  started.err_fd = err_pipe[0];
  return started;
}

RunResult finish_tarvel(StartedRun& run) {
  RunResult result;
  if (run.pid < 0) return result;
  drain(run.out_fd, run.err_fd, result.out, result.err);
  int wait_status = 0;
  while (::waitpid(run.pid, &wait_status, 0) < 0) {
  }
  run.pid = -1;
  if (WIFEXITED(wait_status)) {
    result.status = WEXITSTATUS(wait_status);
  } else if (WIFSIGNALED(wait_status)) {
    result.status = 128 + WTERMSIG(wait_status);
  }
  return result;
}

RunResult run_tarvel(const TempFolder& folder, const std::vector<std::string>& arguments,
                     const std::vector<std::string>& prefix) {
  StartedRun started = start_tarvel(folder, arguments, prefix);
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
