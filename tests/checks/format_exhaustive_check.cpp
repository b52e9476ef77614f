// Checks format_real and the output file's format_single_item and
// format_double_item against snprintf, the straightforward formatter they
// replace: every one of the 2^32 single-precision bit patterns with 7 digits
// (or every EVERY-th, for the short form that CTest runs), then random
// doubles with 16 digits.
//
//   format_exhaustive_check [DOUBLE_COUNT] [THREADS] [EVERY]
#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "output/item_figures.h"
#include "output/real_format.h"
#include "support/printf_reference.h"

namespace {

std::mutex g_report;
std::atomic<std::uint64_t> g_mismatches{0};

void check(double value, int digits) {
  char text[tarvel::kRealTextCapacity];
  std::string got(text, tarvel::format_real(value, digits, true, text));
  // The output file's entry points, which take the common values straight
  // to the fast paths.
  std::string item(text, digits == 7 ? tarvel::format_single_item(static_cast<float>(value), text)
                                     : tarvel::format_double_item(value, text));
  std::string expected = tarvel::reference::printf_general(value, digits);
  if (got != expected || item != expected) {
    if (g_mismatches.fetch_add(1) < 20) {
      std::lock_guard<std::mutex> lock(g_report);
      std::printf("mismatch %a (%d digits): got \"%s\" and \"%s\", expected \"%s\"\n", value,
                  digits, got.c_str(), item.c_str(), expected.c_str());
    }
  }
}

std::uint64_t next(std::uint64_t& state) {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return state;
}

// A quarter each: values such as the tool writes (times as multiples of a
// sample period); random bit patterns (every exponent); random significands
// over the range the short path takes, 2^-14 to 2^53, and a little beyond at
// both ends; and values whose 16-digit rounding is a tie or whose figures end
// in zeros: integers and halves from 10^15 up, and short decimals.
double random_double(std::uint64_t kind, std::uint64_t bits, std::uint64_t more) {
  switch (kind) {
    case 0:
      return static_cast<double>(bits % 100000000) / 48000.0;
    case 1:
      return std::bit_cast<double>(bits);
    case 2: {
      const int b = static_cast<int>(more % 70) - 15;
      const double unit = std::ldexp(1.0, b);
      return std::copysign(unit + std::ldexp(static_cast<double>(bits >> 12), b - 52),
                           (more & 0x100) != 0 ? -1.0 : 1.0);
    }
    default: {
      if ((more & 1) != 0) {
        return 1e15 + static_cast<double>(bits % 3500000000000000ull) + ((more & 2) != 0 ? 0.5 : 0);
      }
      const double digits = static_cast<double>(bits % tarvel::kPowersOfTen[(more >> 2) % 17]);
      return digits / static_cast<double>(tarvel::kPowersOfTen[(more >> 8) % 20]);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t double_count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000000;
  const unsigned threads = argc > 2 ? static_cast<unsigned>(std::max(1, std::atoi(argv[2]))) : 2;
  const std::uint64_t every =
      argc > 3 ? std::max<std::uint64_t>(1, std::strtoull(argv[3], nullptr, 10)) : 1;

  std::vector<std::thread> workers;
  for (unsigned t = 0; t < threads; ++t) {
    workers.emplace_back([t, threads, every] {
      for (std::uint64_t bits = t * every; bits <= 0xFFFFFFFFull; bits += threads * every) {
        float single = std::bit_cast<float>(static_cast<std::uint32_t>(bits));
        check(static_cast<double>(single), 7);
      }
    });
  }
  for (auto& worker : workers) worker.join();
  std::printf("singles: %llu bit patterns, %llu mismatches\n",
              static_cast<unsigned long long>((0xFFFFFFFFull + every) / every),
              static_cast<unsigned long long>(g_mismatches.load()));
  std::uint64_t single_mismatches = g_mismatches.exchange(0);

  workers.clear();
  for (unsigned t = 0; t < threads; ++t) {
    workers.emplace_back([t, threads, double_count] {
      std::uint64_t state = 0x9E3779B97F4A7C15ull ^ (t + 1);
      for (std::uint64_t i = t; i < double_count; i += threads) {
        std::uint64_t bits = next(state);
        check(random_double(i % 4, bits, next(state)), 16);
      }
    });
  }
  for (auto& worker : workers) worker.join();
  std::printf("doubles: %llu values, %llu mismatches\n",
              static_cast<unsigned long long>(double_count),
              static_cast<unsigned long long>(g_mismatches.load()));
  return single_mismatches == 0 && g_mismatches.load() == 0 ? 0 : 1;
}
