// tarvel::combine on a raw capture of interleaved complex64 samples read
// into memory, timed: the C++ side of bench/python_speed.py, which hands it
// the same samples it gives the Python module. Each repetition combines into
// a new buffer, not zero-filled, as tarvel.combine(x) does with numpy.empty.
// Both buffers are in transparent huge pages where the system gives them on
// request, as numpy asks for them for its large arrays: under the kernel's
// "madvise" setting, measured here, that alone takes over a third off the
// combining's time. Prints the best and the median wall time in seconds and
// the combined SNR (to check both sides agree).
//
//   library_combine_capture FILE CHANNELS [REPEAT]
#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "tarvel/tarvel.h"

namespace {

// `count` complex values in memory of their own, in huge pages where the
// system gives them; not zero-filled. nullptr when there is no memory.
std::complex<float>* allocate(std::size_t count) {
  constexpr std::size_t kHugePage = std::size_t{1} << 21;
  const std::size_t bytes =
      (count * sizeof(std::complex<float>) + kHugePage - 1) / kHugePage * kHugePage;
  void* memory = std::aligned_alloc(kHugePage, bytes);
  if (memory != nullptr) ::madvise(memory, bytes, MADV_HUGEPAGE);
  return static_cast<std::complex<float>*>(memory);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FILE CHANNELS [REPEAT]\n", argv[0]);
    return 1;
  }
  const std::int64_t channels = std::atoll(argv[2]);
  const int repeat = argc > 3 ? std::atoi(argv[3]) : 5;
  std::ifstream file(argv[1], std::ios::binary | std::ios::ate);
  if (!file || channels < 1 || repeat < 1) {
    std::fprintf(stderr, "%s: cannot be read, or bad CHANNELS or REPEAT\n", argv[1]);
    return 1;
  }
  const auto bytes = static_cast<std::size_t>(file.tellg());
  std::complex<float>* x = allocate(bytes / sizeof(std::complex<float>));
  if (x == nullptr) return 4;
  file.seekg(0);
  file.read(reinterpret_cast<char*>(x), static_cast<std::streamsize>(bytes));
  const auto samples = static_cast<std::int64_t>(bytes / sizeof(std::complex<float>)) / channels;
  std::vector<double> seconds;
  float snr = 0;
  try {
    for (int r = 0; r < repeat; ++r) {
      const auto start = std::chrono::steady_clock::now();
      const auto count = static_cast<std::size_t>(samples);
      std::complex<float>* y = allocate(count);
      if (y == nullptr) return 4;
      snr = tarvel::combine({x, samples, channels, channels, 1}, {y, count}).combined_snr_db;
      std::free(y);
      seconds.push_back(
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
  } catch (const tarvel::Error& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return error.code();
  }
  std::free(x);
  std::sort(seconds.begin(), seconds.end());
  std::printf("%.6f %.6f %.9g\n", seconds.front(), seconds[seconds.size() / 2], snr);
}
