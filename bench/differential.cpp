// Runs two tarvel builds on the same random input files and compares what
// they leave byte for byte: standard output, standard error, exit status and
// the output file. The files cover what the input format allows: plain and
// long values, values next to float and double rounding midpoints, hostile
// exponents, infinities and NaN, radix and D-exponent fields, quotes, commas,
// odd line ends and a Ctrl-Z, constant and near-singular channels, K from 1 to
// 64 and S from 1 to 10^5. Each build is a command line, so one of them may run
// under an emulator:
//
//   differential --count N [--seed S] [--jobs J] [--keep DIR] [--megabytes]
//                --a "build/tarvel" --b "qemu-aarch64 -L /usr/aarch64-linux-gnu
//                build-aarch64/tarvel"
//
// With --megabytes, every file is 1 to 4 MiB long, large enough for the
// tool to share its passes among threads.
//
// With --errors-by-status, a run that both commands end with the same
// nonzero status counts as equal whatever they print (for a command that
// gives the status alone, as bench/library_run does).
//
// --b may be given several times: each is compared with --a on every file.
//
// Prints one line per difference (the input file is kept in DIR) and a summary;
// exits 1 when any file differs.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
  std::string out;
  std::string err;
  int status = -1;
  std::string file;
  bool has_file = false;
};

std::string read_all(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> split_words(const std::string& command) {
  std::istringstream in(command);
  std::vector<std::string> words;
  // The runs start in their own folders: relative paths are taken from here.
  for (std::string word; in >> word;) {
    words.push_back(word.find('/') != std::string::npos && fs::exists(word)
                        ? fs::absolute(word).string()
                        : word);
  }
  return words;
}

// Runs `command input.txt` in `folder`, which holds only input.txt.
Outcome run(const std::vector<std::string>& command, const fs::path& folder) {
  std::vector<std::string> words = command;
  words.push_back("input.txt");
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  const std::string out_path = (folder / "stdout").string();
  const std::string err_path = (folder / "stderr").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t pid = 0;
  Outcome outcome;
  if (::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  } else {
    std::fprintf(stderr, "cannot start %s\n", argv[0]);
    std::exit(2);
  }
  posix_spawn_file_actions_destroy(&actions);
  outcome.out = read_all(out_path);
  outcome.err = read_all(err_path);
  outcome.has_file = fs::exists(folder / "input_out.txt");
  if (outcome.has_file) outcome.file = read_all(folder / "input_out.txt");
  fs::remove(folder / "input_out.txt");
  return outcome;
}

// One random input file, its kind and size drawn from `random`.
class InputMaker {
 public:
  explicit InputMaker(std::uint64_t seed) : random_(seed) {}

  // A file of `min_bytes` to `max_bytes` (of as many samples as that takes),
  // or, with 0, of a number of samples picked as below.
  std::string make(std::size_t min_bytes = 0, std::size_t max_bytes = 0) {
    const int channels = pick_channels();
    const std::size_t size =
        min_bytes +
        static_cast<std::size_t>(uniform() * static_cast<double>(max_bytes - min_bytes));
    const int samples = size > 0 ? std::numeric_limits<int>::max() : pick_samples(channels);
    const int style = below(8);  // 0-3 realistic, 4 constant, 5 near-singular, 6-7 hostile
    const char* line_end = below(4) == 0 ? "\r\n" : "\n";
    std::vector<double> gain_re(channels), gain_im(channels);
    for (int k = 0; k < channels; ++k) {
      gain_re[k] = normal_(random_);
      gain_im[k] = normal_(random_);
    }
    std::string text;
    for (int s = 0; s < samples && (size == 0 || text.size() < size); ++s) {
      text += time_field(s, style);
      const double signal_re = std::cos(0.01 * s), signal_im = std::sin(0.01 * s);
      for (int k = 0; k < channels; ++k) {
        for (int part = 0; part < 2; ++part) {
          text += separator();
          const double gain = part == 0 ? gain_re[k] : gain_im[k];
          const double clean = part == 0 ? gain * signal_re : gain * signal_im;
          text += value_field(style, k, clean);
        }
      }
      text += irregular_line_tail();
      text += line_end;
    }
    if (below(40) == 0) text += "\x1a trailing text after the end of the data\n";
    if (below(20) == 0 && !text.empty()) text.pop_back();  // no final line end
    return text;
  }

 private:
  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  double uniform() { return std::uniform_real_distribution<double>(0, 1)(random_); }

  int pick_channels() {
    const int r = below(10);
    if (r < 3) return 1 + below(2);
    if (r < 8) return 1 + below(8);
    return 1 + below(64);
  }

  // Log-uniform from 1 up to 10^5 samples, kept to about 10^6 fields.
  int pick_samples(int channels) {
    const int most = std::max(1, std::min(100000, 1000000 / (2 * channels + 1)));
    const double top = below(50) == 0 ? std::log(most) : std::log(std::min(most, 300));
    return std::max(1, static_cast<int>(std::exp(uniform() * top)));
  }

  std::string separator() {
    switch (below(30)) {
      case 0:
        return "\t";
      case 1:
        return ",";
      case 2:
        return "  ";
      case 3:
        return " ,";
      default:
        return " ";
    }
  }

  std::string irregular_line_tail() {
    switch (below(200)) {
      case 0:
        return " 7";  // an extra field shifts the following samples
      case 1:
        return "\r";  // a lone CR before the line end
      case 2:
        return "\n";  // an empty line
      default:
        return "";
    }
  }

  std::string time_field(int s, int style) {
    if (style >= 6 && below(20) == 0) return hostile_field();
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17g", s * (1.0 / 48000.0));
    return below(3) == 0 ? buffer : std::to_string(s);
  }

  std::string value_field(int style, int channel, double clean) {
    if (style == 4) return channel % 2 == 0 ? "1.5" : "-0";
    if (style == 5 && channel > 0) return format(clean * (1 + 1e-7 * channel), 7);
    if (style >= 6 && below(4) == 0) return hostile_field();
    if (below(50) == 0) return midpoint_field();
    return format(clean + 0.1 * normal_(random_), 4 + below(6));
  }

  static std::string format(double value, int digits) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
    return buffer;
  }

  // Decimal text next to the midpoint of two neighbouring floats or doubles.
  std::string midpoint_field() {
    char buffer[64];
    if (below(2) == 0) {
      const float f = std::ldexp(static_cast<float>(uniform() + 0.5), below(60) - 30);
      const double mid = (static_cast<double>(f) + std::nextafter(f, 2 * f)) / 2;
      std::snprintf(buffer, sizeof buffer, "%.*g", 8 + below(12), mid);
    } else {
      const double d = std::ldexp(uniform() + 0.5, below(200) - 100);
      std::snprintf(buffer, sizeof buffer, "%.*g", 16 + below(8), d);
    }
    return buffer;
  }

  std::string hostile_field() {
    static const char* const kFields[] = {"1e39",
                                          "-1e39",
                                          "3.4028235e38",
                                          "3.4028236e38",
                                          "1e-45",
                                          "7e-46",
                                          "1.4e-45",
                                          "1e-38",
                                          "1e308",
                                          "1.8e308",
                                          "4.9e-324",
                                          "2e-324",
                                          "inf",
                                          "-inf",
                                          "nan",
                                          "-nan",
                                          "Infinity",
                                          "0x1.8p3",
                                          "1D-3",
                                          "2d5",
                                          "&H1F",
                                          "&O17",
                                          "&B101",
                                          "&17",
                                          "&HFFFFFFFF",
                                          "1e",
                                          "2e+",
                                          ".5",
                                          "-",
                                          "12abc",
                                          "\"1 2\"",
                                          "\"3,5\"",
                                          "0,5",
                                          "-0",
                                          "0",
                                          "1e-400",
                                          "123456789",
                                          "1234567890",
                                          "16777217",
                                          "99999999999999999999",
                                          "1E&2",
                                          "&h1e"};
    return kFields[below(static_cast<int>(std::size(kFields)))];
  }

  std::mt19937_64 random_;
  std::normal_distribution<double> normal_{0.0, 1.0};
};

struct Options {
  long count = 1000;
  std::uint64_t seed = 1;
  int jobs = 2;
  std::vector<std::string> a;
  std::vector<std::vector<std::string>> b;  // each compared with a
  fs::path keep = "differential-failures";
  bool errors_by_status = false;
  bool megabytes = false;
};

Options parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--errors-by-status" || flag == "--megabytes") {
      (flag == "--megabytes" ? options.megabytes : options.errors_by_status) = true;
      --i;
      continue;
    }
    if (i + 1 == argc) break;
    const char* value = argv[i + 1];
    if (flag == "--count")
      options.count = std::atol(value);
    else if (flag == "--seed")
      options.seed = std::strtoull(value, nullptr, 10);
    else if (flag == "--jobs")
      options.jobs = std::max(1, std::atoi(value));
    else if (flag == "--a")
      options.a = split_words(value);
    else if (flag == "--b")
      options.b.push_back(split_words(value));
    else if (flag == "--keep")
      options.keep = value;
  }
  if (options.a.empty() || options.b.empty()) {
    std::fprintf(
        stderr,
        "usage: %s --count N [--seed S] [--jobs J] [--keep DIR] [--errors-by-status] [--megabytes] "
        "--a COMMAND --b COMMAND\n",
        argv[0]);
    std::exit(2);
  }
  return options;
}

const char* first_difference(const Outcome& a, const Outcome& b, bool errors_by_status) {
  if (a.status != b.status) return "exit status";
  if (errors_by_status && a.status != 0) {
    return a.has_file != b.has_file || a.file != b.file ? "output file" : nullptr;
  }
  if (a.out != b.out) return "standard output";
  if (a.err != b.err) return "standard error";
  if (a.has_file != b.has_file || a.file != b.file) return "output file";
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse(argc, argv);
  const fs::path work =
      fs::temp_directory_path() / "tarvel-differential" / std::to_string(::getpid());
  std::atomic<long> next{0}, differing{0}, statuses_nonzero{0};
  std::mutex print_lock;

  auto worker = [&](int id) {
    const fs::path folder_a = work / std::to_string(id) / "a";
    const fs::path folder_b = work / std::to_string(id) / "b";
    fs::create_directories(folder_a);
    fs::create_directories(folder_b);
    for (long i; (i = next++) < options.count;) {
      constexpr std::size_t kMiB = std::size_t{1} << 20;
      const std::string text = options.megabytes
                                   ? InputMaker(options.seed * 1000003 + i).make(kMiB, 4 * kMiB)
                                   : InputMaker(options.seed * 1000003 + i).make();
      std::ofstream(folder_a / "input.txt", std::ios::binary) << text;
      const Outcome a = run(options.a, folder_a);
      if (a.status != 0) ++statuses_nonzero;
      for (std::size_t other = 0; other < options.b.size(); ++other) {
        std::ofstream(folder_b / "input.txt", std::ios::binary) << text;
        const Outcome b = run(options.b[other], folder_b);
        const char* what = first_difference(a, b, options.errors_by_status);
        if (what == nullptr) continue;
        ++differing;
        fs::create_directories(options.keep);
        const fs::path kept = options.keep / std::to_string(i) += ".txt";
        std::ofstream(kept, std::ios::binary) << text;
        std::lock_guard lock(print_lock);
        std::printf("file %ld (%s): %s differs from --b number %zu\n", i, kept.c_str(), what,
                    other + 1);
        std::fflush(stdout);
        break;
      }
    }
  };
  std::vector<std::thread> threads;
  for (int id = 0; id < options.jobs; ++id) threads.emplace_back(worker, id);
  for (std::thread& thread : threads) thread.join();
  fs::remove_all(work);

  std::printf("%ld files, %ld differ; the first build ended %ld runs with a nonzero status\n",
              options.count, differing.load(), statuses_nonzero.load());
  return differing > 0 ? 1 : 0;
}
