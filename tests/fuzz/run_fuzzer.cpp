// Fuzz target of a whole run, in-process: the fuzz input is written as the
// input file in a temporary folder and tarvel::run is driven on it, with a
// process-end hook that throws the exit status back here instead of ending the
// process. Standard output goes to /dev/null and standard error into memory
// for the length of the run.
//
// From the byte-at-a-time reference (S lines, K channels from the first line,
// the samples the second pass finds) the end of the run is known in advance:
// status 1 with the abort report of kSampleTableLine when S or K is 0; status 17 with
// nothing on standard error and no output file when the file ends before S
// samples; otherwise status 0, nothing on standard error, and an output file
// of exactly S lines, each ending CR LF. After every run no numbered file may
// be left open and the folder holds nothing else.
//
// A run costs about S * K * K for the covariance and K * K * K for the
// inversion; the fuzzer's -max_len bounds S, and inputs whose first line gives
// more than kMaxChannels channels are refused, so that every run is fast.
#include <dirent.h>
#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/run_sequence.h"
#include "fuzz_reference.h"
#include "fuzz_support.h"
#include "runtime/fp_environment.h"
#include "runtime/open_files.h"
#include "runtime/report_lines.h"
#include "runtime/runtime_error.h"

namespace tarvel::fuzz {
namespace {

constexpr std::int64_t kMaxChannels = 16;
constexpr char kInputName[] = "in.txt";
constexpr char kOutputName[] = "in_out.txt";

// Thrown by the process-end hook: how the run ended.
struct RunEnded {
  int status;
};

[[noreturn]] void throw_run_end(int status) {
  throw RunEnded{status};
}

struct Harness {
  std::string folder;
  int null_fd = -1;
  int err_fd = -1;  // a memfd that receives standard error during a run
};

Harness g_harness;

void remove_folder() {
  ::unlink((g_harness.folder + "/" + kInputName).c_str());
  ::unlink((g_harness.folder + "/" + kOutputName).c_str());
  ::rmdir(g_harness.folder.c_str());
}

void write_whole_file(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) fail("cannot create %s: %s", path.c_str(), std::strerror(errno));
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written <= 0) fail("cannot write %s: %s", path.c_str(), std::strerror(errno));
    done += static_cast<std::size_t>(written);
  }
  ::close(fd);
}

// The whole contents of `fd` from its start.
std::string read_from_start(int fd) {
  std::string bytes;
  char chunk[4096];
  for (off_t at = 0;;) {
    const ssize_t got = ::pread(fd, chunk, sizeof chunk, at);
    if (got <= 0) return bytes;
    bytes.append(chunk, static_cast<std::size_t>(got));
    at += got;
  }
}

// Whether `path` exists, and its contents.
bool read_whole_file(const std::string& path, std::string& bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bytes = read_from_start(fd);
  ::close(fd);
  return true;
}

// Runs the tool on `input_name` with standard output discarded and standard
// error captured; returns the exit status and fills `err`.
int run_in_process(const std::string& input_name, std::string& err) {
  sigset_t signal_mask;
  ::pthread_sigmask(SIG_SETMASK, nullptr, &signal_mask);
  if (::ftruncate(g_harness.err_fd, 0) != 0 || ::lseek(g_harness.err_fd, 0, SEEK_SET) != 0) {
    fail("cannot empty the standard error file");
  }
  const int saved_out = ::dup(STDOUT_FILENO);
  const int saved_err = ::dup(STDERR_FILENO);
  ::dup2(g_harness.null_fd, STDOUT_FILENO);
  ::dup2(g_harness.err_fd, STDERR_FILENO);
  int status = -1;
  try {
    run(input_name);
  } catch (const RunEnded& ended) {
    status = ended.status;
  }
  ::dup2(saved_out, STDOUT_FILENO);
  ::dup2(saved_err, STDERR_FILENO);
  ::close(saved_out);
  ::close(saved_err);
  // The process end holds the fatal signals off for good; this process goes on.
  ::pthread_sigmask(SIG_SETMASK, &signal_mask, nullptr);
  err = read_from_start(g_harness.err_fd);
  return status;
}

// Every line of `bytes` ends with CR LF, and there are `lines` of them.
bool has_crlf_lines(const std::string& bytes, std::int64_t lines) {
  std::int64_t count = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r') {
      if (i + 1 >= bytes.size() || bytes[i + 1] != '\n') return false;
      ++count;
      ++i;
    } else if (bytes[i] == '\n') {
      return false;
    }
  }
  const bool ends_with_line_end = bytes.empty() || bytes.back() == '\n';
  return ends_with_line_end && count == lines;
}

// The names in the folder other than "." and "..".
std::vector<std::string> folder_entries() {
  std::vector<std::string> names;
  DIR* dir = ::opendir(g_harness.folder.c_str());
  if (dir == nullptr) fail("cannot list %s", g_harness.folder.c_str());
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

}  // namespace
}  // namespace tarvel::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  using namespace tarvel;
  using namespace tarvel::fuzz;
  set_floating_point_environment();
  set_process_end_hook(throw_run_end);

  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tarvel-fuzz-run-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) fail("mkdtemp failed: %s", std::strerror(errno));
  g_harness.folder = pattern;
  std::atexit(remove_folder);

  g_harness.null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  g_harness.err_fd = ::memfd_create("tarvel-fuzz-stderr", MFD_CLOEXEC);
  if (g_harness.null_fd < 0 || g_harness.err_fd < 0) fail("cannot set up the output redirection");
  // Sanitizer reports keep going to the real standard error while fd 2 is
  // redirected during a run.
  const int report_fd = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(report_fd)));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvel;
  using namespace tarvel::fuzz;
  const std::string_view raw(reinterpret_cast<const char*>(data), size);

  // What the run must do, from the reference.
  const std::string delivered = reference_delivery(raw);
  const std::vector<std::string> lines = reference_lines(delivered);
  const std::int64_t sample_count = static_cast<std::int64_t>(lines.size());
  const std::int64_t channel_count = reference_count_fields(lines.empty() ? "" : lines.front());
  if (channel_count > kMaxChannels) return -1;
  int want_status = 0;
  std::string want_err;
  if (sample_count == 0 || channel_count == 0) {
    want_status = kIllegalFunctionCall;
    want_err = "\nAborting due to runtime error 1 (illegal function call) at line " +
               std::to_string(kSampleTableLine) + " of tarvel()\n\n";
  } else if (reference_read_samples(delivered, sample_count, channel_count).read < sample_count) {
    want_status = kEndOfFile;
  }

  const std::string input_path = g_harness.folder + "/" + kInputName;
  const std::string output_path = g_harness.folder + "/" + kOutputName;
  write_whole_file(input_path, raw);
  std::string err;
  const int status = run_in_process(input_path, err);

  if (status != 0 && status != 1 && status != 2 && status != 4 && status != 17) {
    fail("the run ended with status %d, which no end of a run gives", status);
  }
  if (status != want_status) {
    fail("the run ended with status %d, expected %d (S = %lld, K = %lld)", status, want_status,
         static_cast<long long>(sample_count), static_cast<long long>(channel_count));
  }
  if (err != want_err) {
    fail("standard error was \"%s\", expected \"%s\"", visible(err).c_str(),
         visible(want_err).c_str());
  }
  for (int number = kFirstFileNumber; number <= kLastFileNumber; ++number) {
    if (is_file_open(number)) fail("file number %d is left open after the run", number);
  }
  std::string output;
  const bool has_output = read_whole_file(output_path, output);
  if (status == 0) {
    if (!has_output) fail("status 0 without an output file");
    if (!has_crlf_lines(output, sample_count)) {
      fail("the output file is not %lld lines ending CR LF: \"%s\"",
           static_cast<long long>(sample_count), visible(output).c_str());
    }
  } else if (has_output) {
    fail("status %d left an output file", status);
  }
  const std::vector<std::string> entries = folder_entries();
  for (const std::string& name : entries) {
    if (name != kInputName && name != kOutputName) fail("the run left %s behind", name.c_str());
  }
  ::unlink(input_path.c_str());
  ::unlink(output_path.c_str());
  return 0;
}
