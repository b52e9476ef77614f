#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/e2e_run.h"

extern char** environ;

namespace tarvel::testing {
namespace {

// Reads both pipes until both are closed, so neither can fill and block; a
// descriptor of -1 counts as closed.
void drain(int out_fd, int err_fd, std::string& out, std::string& err) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open = (out_fd >= 0) + (err_fd >= 0);
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

StartedRun start_tarvel(const TempFolder& folder, const std::vector<std::string>& arguments,
                        const std::vector<std::string>& prefix, Streams streams) {
  std::vector<std::string> words = command_words(prefix, arguments);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  StartedRun started;
  int out_pipe[2] = {-1, -1};
  int err_pipe[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (streams == Streams::kFiles) {
    started.stream_files = std::make_shared<TempFolder>();
    const int flags = O_WRONLY | O_CREAT | O_TRUNC;
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO,
                                     started.stream_files->file("out").c_str(), flags, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO,
                                     started.stream_files->file("err").c_str(), flags, 0600);
  } else {
    if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe failed";
      posix_spawn_file_actions_destroy(&actions);
      return started;
    }
    if (streams == Streams::kUnreadOutput) {
      ::close(out_pipe[0]);
      out_pipe[0] = -1;
    }
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
  }
  posix_spawn_file_actions_addchdir_np(&actions, folder.path().c_str());
  pid_t pid = 0;
  int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  for (int end : {out_pipe[1], err_pipe[1]}) {
    if (end >= 0) ::close(end);
  }
  if (spawned != 0) {
    for (int end : {out_pipe[0], err_pipe[0]}) {
      if (end >= 0) ::close(end);
    }
    ADD_FAILURE() << "cannot start " << argv[0];
    return started;
  }
  started.process = pid;
  started.out = out_pipe[0];
  started.err = err_pipe[0];
  return started;
}

RunResult finish_tarvel(StartedRun& run) {
  RunResult result;
  if (run.process < 0) return result;
  drain(static_cast<int>(run.out), static_cast<int>(run.err), result.out, result.err);
  int wait_status = 0;
  while (::waitpid(static_cast<pid_t>(run.process), &wait_status, 0) < 0) {
  }
  run.process = -1;
  if (WIFEXITED(wait_status)) {
    result.status = WEXITSTATUS(wait_status);
  } else if (WIFSIGNALED(wait_status)) {
    result.status = 128 + WTERMSIG(wait_status);
  }
  if (run.stream_files) {
    result.out = read_file(run.stream_files->file("out"));
    result.err = read_file(run.stream_files->file("err"));
  }
  return result;
}

}  // namespace tarvel::testing
