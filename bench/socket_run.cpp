// A run of a command that stays loaded: sends the working folder and FILE to
// the server listening on SOCKET (bench/python_run.py --serve), writes the
// standard output it answers with and exits with the status it answers with.
// Lets the differential compare a Python run on 10^5 files without paying the
// interpreter's and numpy's start-up on each:
//
//   python3 bench/python_run.py --serve /tmp/tarvel.sock &
//   differential --count 100000 --errors-by-status --a build/tarvel
//                --b "build/bench/socket_run /tmp/tarvel.sock"
//
//   socket_run SOCKET FILE
//
// The request is the folder, a NUL, the file and a newline; the answer is the
// status as one byte, then the standard output until the server closes.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

bool write_all(int fd, const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SOCKET FILE\n", argv[0]);
    return 125;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (std::strlen(argv[1]) >= sizeof address.sun_path) {
    std::fprintf(stderr, "%s: socket name too long\n", argv[0]);
    return 125;
  }
  std::strcpy(address.sun_path, argv[1]);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::perror("socket_run: connect");
    return 125;
  }
  std::string request = std::filesystem::current_path().string();
  request += '\0';
  request += argv[2];
  request += '\n';
  if (!write_all(fd, request)) {
    std::perror("socket_run: send");
    return 125;
  }
  ::shutdown(fd, SHUT_WR);

  std::string answer;
  char buffer[65536];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) answer.append(buffer, n);
  if (answer.empty()) {
    std::fprintf(stderr, "socket_run: no answer\n");
    return 125;
  }
  if (!write_all(STDOUT_FILENO, answer.substr(1))) return 125;
  return static_cast<unsigned char>(answer[0]);
}
