// Checks the tool's own logarithm in two ways:
//   accuracy  its error against MPFR's ln on a large sample of floats (every
//             exponent, every float of [√½, √2), values near 1 and near powers
//             of ten, random floats), in units of the last place of a 64-bit
//             significand, beside the error of the C library's logl; fails
//             where the own error exceeds the bound the unit tests hold it to;
//   decibels  decibels() on every non-negative float bit pattern (2^31, NaN
//             included) and on a sample of the negative ones against the logl
//             formula it replaced, where that formula is glibc's on the x87;
//             fails where a non-negative input's float result differs, or a
//             negative one's is not NaN (-0 gives -infinity).
// EVERY takes every EVERY-th value of each sample and pattern range, for the
// short form that CTest runs.
// Usage: natural_log_check [accuracy|decibels|all] [THREADS (1 or 2)] [EVERY]
#include <algorithm>
#include <bit>
#include <cfloat>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "combine/decibels.h"
#include "combine/natural_log.h"
#include "support/log_error.h"

namespace {

using tarvel::detail::decibels;
using tarvel::detail::kLn10;
using tarvel::detail::natural_log;

float float_from_bits(std::uint32_t bits) {
  return std::bit_cast<float>(bits);
}
std::uint32_t bits_of(float x) {
  return std::bit_cast<std::uint32_t>(x);
}

// The decibels of the build before the tool had its own logarithm.
float library_decibels(float x) {
  return static_cast<float>((std::log(static_cast<long double>(x)) * 10) / kLn10);
}

// ---------------------------------------------------------------- accuracy

struct ErrorStats {
  double largest = 0;  // in units of the 64-bit last place of the exact value
  float worst_input = 1;
  std::uint64_t not_correctly_rounded = 0;

  void add(double ulps, bool correctly_rounded, float x) {
    if (std::fabs(ulps) > std::fabs(largest)) {
      largest = ulps;
      worst_input = x;
    }
    if (!correctly_rounded) ++not_correctly_rounded;
  }
  void merge(const ErrorStats& other) {
    if (std::fabs(other.largest) > std::fabs(largest)) {
      largest = other.largest;
      worst_input = other.worst_input;
    }
    not_correctly_rounded += other.not_correctly_rounded;
  }
};

struct Totals {
  std::uint64_t count = 0;
  ErrorStats own;
  ErrorStats library;
  std::uint64_t own_differs_from_library = 0;
};

void measure(const std::vector<float>& xs, std::size_t begin, std::size_t end, Totals& totals) {
  tarvel::testing::LogReference reference;
  for (std::size_t i = begin; i < end; ++i) {
    const float x = xs[i];
    const long double own = natural_log<long double>(x);
    const long double library = std::log(static_cast<long double>(x));
    reference.set(x);
    totals.own.add(reference.ulps(own), reference.correctly_rounded(own), x);
    totals.library.add(reference.ulps(library), reference.correctly_rounded(library), x);
    if (own != library) ++totals.own_differs_from_library;
    ++totals.count;
  }
}

void add_neighbours(std::vector<float>& xs, float centre, std::uint32_t reach) {
  const std::uint32_t bits = bits_of(centre);
  for (std::uint32_t b = bits - reach; b <= bits + reach; ++b) xs.push_back(float_from_bits(b));
}

struct Sample {
  const char* name;
  std::vector<float> xs;
};

std::vector<Sample> accuracy_samples() {
  std::mt19937_64 random(20261207);
  std::vector<Sample> samples;

  Sample exponents{"every exponent (ends + 10000 random fractions each)", {}};
  for (std::uint32_t biased = 0; biased <= 254; ++biased) {
    const std::uint32_t base = biased << 23;
    for (std::uint32_t fraction : {1u, 2u, 0x7ffffeu, 0x7fffffu}) {
      exponents.xs.push_back(float_from_bits(base | fraction));
    }
    if (biased != 0) exponents.xs.push_back(float_from_bits(base));
    for (int i = 0; i < 10000; ++i) {
      exponents.xs.push_back(
          float_from_bits(base | static_cast<std::uint32_t>(random() & 0x7fffff)));
    }
  }
  samples.push_back(std::move(exponents));

  Sample reduced{"every float in [sqrt(1/2), sqrt(2))", {}};
  for (std::uint32_t b = bits_of(0.70710677f); float_from_bits(b) < 1.4142135f; ++b) {
    reduced.xs.push_back(float_from_bits(b));
  }
  samples.push_back(std::move(reduced));

  Sample near_one{"2^17 floats around 1", {}};
  add_neighbours(near_one.xs, 1.0f, 1u << 16);
  samples.push_back(std::move(near_one));

  Sample tens{"2001 floats around each power of ten 1e-45..1e38", {}};
  for (int k = -45; k <= 38; ++k) {
    const float power = std::strtof(("1e" + std::to_string(k)).c_str(), nullptr);
    add_neighbours(tens.xs, power, power < 1e-42f ? 1 : 1000);
  }
  samples.push_back(std::move(tens));

  Sample randoms{"2000000 random positive finite floats", {}};
  while (randoms.xs.size() < 2000000) {
    const auto bits = static_cast<std::uint32_t>(random() & 0x7fffffff);
    if (bits != 0 && bits < 0x7f800000) randoms.xs.push_back(float_from_bits(bits));
  }
  samples.push_back(std::move(randoms));
  return samples;
}

void print_stats(const char* who, const ErrorStats& stats, std::uint64_t count) {
  std::printf("  %-8s largest error %+.4f ulp at x = %a (%.9g); not correctly rounded: %" PRIu64
              " of %" PRIu64 "\n",
              who, stats.largest, static_cast<double>(stats.worst_input),
              static_cast<double>(stats.worst_input), stats.not_correctly_rounded, count);
}

// Whether the own logarithm stays within its bound on every value measured.
bool run_accuracy(unsigned threads, std::size_t every) {
  std::printf("ln against MPFR (error in units of the 64-bit last place):\n");
  Totals all;
  for (const Sample& sample : accuracy_samples()) {
    std::vector<float> xs;
    for (std::size_t i = 0; i < sample.xs.size(); i += every) xs.push_back(sample.xs[i]);
    std::vector<Totals> parts(threads);
    std::vector<std::thread> workers;
    const std::size_t size = xs.size();
    for (unsigned t = 0; t < threads; ++t) {
      workers.emplace_back(measure, std::cref(xs), size * t / threads, size * (t + 1) / threads,
                           std::ref(parts[t]));
    }
    for (std::thread& worker : workers) worker.join();
    Totals totals;
    for (const Totals& part : parts) {
      totals.count += part.count;
      totals.own.merge(part.own);
      totals.library.merge(part.library);
      totals.own_differs_from_library += part.own_differs_from_library;
    }
    std::printf("%s: %" PRIu64 " values, own differs from logl in %" PRIu64 "\n", sample.name,
                totals.count, totals.own_differs_from_library);
    print_stats("own", totals.own, totals.count);
    print_stats("logl", totals.library, totals.count);
    std::fflush(stdout);
    all.count += totals.count;
    all.own.merge(totals.own);
    all.library.merge(totals.library);
    all.own_differs_from_library += totals.own_differs_from_library;
  }
  std::printf("all samples: %" PRIu64 " values, own differs from logl in %" PRIu64 "\n", all.count,
              all.own_differs_from_library);
  print_stats("own", all.own, all.count);
  print_stats("logl", all.library, all.count);
  const bool within = std::fabs(all.own.largest) <= tarvel::testing::kNaturalLogMaxUlps;
  if (!within)
    std::printf("FAILED: own error beyond %.2f ulp\n", tarvel::testing::kNaturalLogMaxUlps);
  return within;
}

// ---------------------------------------------------------------- decibels

struct Differences {
  std::uint64_t patterns = 0;
  std::uint64_t differing = 0;          // float results whose bits differ
  std::vector<std::uint32_t> examples;  // the first few inputs whose results differ
};

void compare_decibels(std::uint64_t first, std::uint64_t end, std::uint64_t stride,
                      Differences& out) {
  for (std::uint64_t pattern = first; pattern < end; pattern += stride) {
    const auto bits = static_cast<std::uint32_t>(pattern);
    const float x = float_from_bits(bits);
    ++out.patterns;
    if (bits_of(decibels(x)) != bits_of(library_decibels(x))) {
      ++out.differing;
      if (out.examples.size() < 8) out.examples.push_back(bits);
    }
  }
}

// The patterns first, first + stride, ... below end, shared out among the
// threads one by one so that each meets the slow NaN operands equally.
Differences compare_decibels_on(std::uint64_t first, std::uint64_t end, std::uint64_t stride,
                                unsigned threads) {
  std::vector<Differences> parts(threads);
  std::vector<std::thread> workers;
  for (unsigned t = 0; t < threads; ++t) {
    workers.emplace_back(compare_decibels, first + t * stride, end, stride * threads,
                         std::ref(parts[t]));
  }
  for (std::thread& worker : workers) worker.join();
  Differences total;
  for (const Differences& part : parts) {
    total.patterns += part.patterns;
    total.differing += part.differing;
    total.examples.insert(total.examples.end(), part.examples.begin(), part.examples.end());
  }
  return total;
}

// Whether every result matched.
bool print_differences(const char* what, const Differences& differences) {
  std::printf("decibels on %s: %" PRIu64 " patterns, %" PRIu64
              " float results differ from the logl formula\n",
              what, differences.patterns, differences.differing);
  for (std::uint32_t bits : differences.examples) {
    const float x = float_from_bits(bits);
    std::printf("  x = %a: own %a, logl %a\n", static_cast<double>(x),
                static_cast<double>(decibels(x)), static_cast<double>(library_decibels(x)));
  }
  std::fflush(stdout);
  return differences.differing == 0;
}

// Every non-negative pattern (zeros, subnormals, normals, +infinity, NaN);
// the negative ones, whose results are NaN (but for -0) and cost some 2 µs
// each through the x87's slow handling of NaN operands, by a stride of 4093
// and at their ends. The formula replaced was glibc's logl on the x87: where
// that is not the build's long double and C library, there is nothing to
// compare with.
bool run_decibels(unsigned threads, std::uint64_t every) {
#if defined(__GLIBC__) && LDBL_MANT_DIG == 64
  const std::uint64_t sign = std::uint64_t{1} << 31;
  bool same = print_differences("every non-negative float bit pattern",
                                compare_decibels_on(0, sign, every, threads));
  same &= print_differences("every 4093rd negative pattern",
                            compare_decibels_on(sign, 2 * sign, 4093 * every, threads));
  const float negatives[] = {-0.0f, -std::numeric_limits<float>::denorm_min(), -1.0f,
                             -std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::quiet_NaN()};
  Differences ends;
  for (float x : negatives) {
    compare_decibels(bits_of(x), std::uint64_t{bits_of(x)} + 1, 1, ends);
  }
  same &= print_differences("-0, the smallest subnormal, -1, -infinity, -NaN", ends);
  return same;
#else
  (void)threads;
  (void)every;
  std::printf("decibels: no glibc logl on an x87 long double here, nothing to compare with\n");
  return true;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "all";
  const unsigned threads = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 2) : 1;
  const std::uint64_t every =
      argc > 3 ? std::max<std::uint64_t>(1, std::strtoull(argv[3], nullptr, 10)) : 1;
  if (what != "accuracy" && what != "decibels" && what != "all") {
    std::fprintf(stderr,
                 "usage: natural_log_check [accuracy|decibels|all] [threads (1 or 2)] [every]\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  bool passed = true;
  if (what != "decibels") passed &= run_accuracy(threads, every);
  if (what != "accuracy") passed &= run_decibels(threads, every);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::printf("%.1f s with %u thread(s)\n", elapsed.count(), threads);
  return passed ? 0 : 1;
}
