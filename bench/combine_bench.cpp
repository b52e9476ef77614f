// The hot loops of the combining computation, fast against the extended
// reference, on the sizes the tool is measured with: the covariance sums with
// the means (statistics), the combined signal (combining) and its mean and
// noise power (combined). After the runs a table gives each reference time
// divided by the fast time of the same run.
//
//   combine_bench [--benchmark_filter=...] [--benchmark_repetitions=N] ...
#include <benchmark/benchmark.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "combine/channel_statistics.h"
#include "combine/combining.h"
#include "combine/complex_arrays.h"
#include "combine/simd_level.h"
#include "runtime/arrays.h"
#include "support/extended_reference.h"

namespace {

using tarvel::Array1;
using tarvel::Array2;
using tarvel::ComplexMatrix;
using tarvel::ComplexVector;
using tarvel::detail::SimdLevel;

// A float as the input file would give it: the value with 7 significant
// digits, read back.
float seven_digits(double value) {
  char text[32];
  const auto written =
      std::to_chars(text, text + sizeof text, value, std::chars_format::general, 7);
  float parsed = 0;
  std::from_chars(text, written.ptr, parsed);
  return parsed;
}

// One coherent signal on every channel with its own gain and phase, plus
// Gaussian noise, and the weights the run would derive from it.
struct Data {
  Array2<float> xr;
  Array2<float> xi;
  ComplexVector v;
  Array1<float> yr;
  Array1<float> yi;
};

const Data& data(std::int64_t samples, std::int64_t channels) {
  static std::map<std::pair<std::int64_t, std::int64_t>, std::unique_ptr<Data>> cache;
  auto& slot = cache[{samples, channels}];
  if (slot) return *slot;
  slot = std::make_unique<Data>();
  Data& d = *slot;
  if (d.xr.allocate(samples, channels) != 0 || d.xi.allocate(samples, channels) != 0 ||
      d.v.re.allocate(channels) != 0 || d.v.im.allocate(channels) != 0 ||
      d.yr.allocate(samples) != 0 || d.yi.allocate(samples) != 0) {
    std::abort();
  }
  std::mt19937_64 random(20240611 + static_cast<std::uint64_t>(samples * 31 + channels));
  std::normal_distribution<double> noise(0.0, 0.3);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::vector<double> gain(channels);
  std::vector<double> phase(channels);
  for (std::int64_t k = 0; k < channels; ++k) {
    gain[k] = 0.5 + uniform(random);
    phase[k] = 6.283185307179586 * uniform(random);
  }
  for (std::int64_t n = 1; n <= samples; ++n) {
    const double t = static_cast<double>(n) / 48000.0;
    const double signal_re = std::cos(2 * 3.141592653589793 * 1000 * t);
    const double signal_im = std::sin(2 * 3.141592653589793 * 1000 * t);
    for (std::int64_t k = 1; k <= channels; ++k) {
      const double c = gain[k - 1] * std::cos(phase[k - 1]);
      const double s = gain[k - 1] * std::sin(phase[k - 1]);
      d.xr(n, k) = seven_digits(c * signal_re - s * signal_im + noise(random));
      d.xi(n, k) = seven_digits(s * signal_re + c * signal_im + noise(random));
    }
  }
  for (std::int64_t k = 1; k <= channels; ++k) {
    d.v.re(k) = k == 1 ? 1.0f : static_cast<float>(0.3 + uniform(random));
    d.v.im(k) = k == 1 ? 0.0f : static_cast<float>(uniform(random) - 0.5);
  }
  tarvel::reference::combine_signal(d.xr, d.xi, d.v, d.yr, d.yi);
  return d;
}

// How each benchmark is evaluated: the reference, or the fast code at the
// best level or a given one.
enum Variant : int { kReference, kFast, kVector256, kVector128, kScalar };

SimdLevel level_of(Variant variant) {
  switch (variant) {
    case kVector256:
      return SimdLevel::kVector256;
    case kVector128:
      return SimdLevel::kVector128;
    case kScalar:
      return SimdLevel::kScalar;
    default:
      return tarvel::detail::best_simd_level();
  }
}

bool usable(benchmark::State& state, Variant variant) {
  if (variant == kReference || tarvel::detail::simd_level_supported(level_of(variant))) {
    return true;
  }
  state.SkipWithError("level not supported here");
  return false;
}

void statistics(benchmark::State& state, Variant variant) {
  if (!usable(state, variant)) return;
  const Data& d = data(state.range(0), state.range(1));
  const std::int64_t channels = state.range(1);
  ComplexVector m;
  ComplexMatrix R;
  if (m.re.allocate(channels) != 0 || m.im.allocate(channels) != 0 ||
      R.re.allocate(channels, channels) != 0 || R.im.allocate(channels, channels) != 0) {
    std::abort();
  }
  for (auto _ : state) {
    if (variant == kReference) {
      tarvel::reference::compute_means_and_covariance(d.xr, d.xi, m, R);
    } else {
      tarvel::compute_means_and_covariance(d.xr, d.xi, m, R, level_of(variant));
    }
    benchmark::DoNotOptimize(R.re.row(1));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void combining(benchmark::State& state, Variant variant) {
  if (!usable(state, variant)) return;
  const Data& d = data(state.range(0), state.range(1));
  Array1<float> yr;
  Array1<float> yi;
  if (yr.allocate(state.range(0)) != 0 || yi.allocate(state.range(0)) != 0) std::abort();
  for (auto _ : state) {
    if (variant == kReference) {
      tarvel::reference::combine_signal(d.xr, d.xi, d.v, yr, yi);
    } else {
      tarvel::combine_signal(d.xr, d.xi, d.v, yr, yi, level_of(variant));
    }
    benchmark::DoNotOptimize(yr.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void combined(benchmark::State& state, Variant variant) {
  const Data& d = data(state.range(0), state.range(1));
  for (auto _ : state) {
    const tarvel::CombinedStatistics c =
        variant == kReference ? tarvel::reference::compute_combined_statistics(d.yr, d.yi)
                              : tarvel::compute_combined_statistics(d.yr, d.yi);
    benchmark::DoNotOptimize(c);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Args({200000, 16})->Args({1000000, 4})->Args({1000000, 1});
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK_CAPTURE(statistics, reference, kReference)->Apply(sizes);
BENCHMARK_CAPTURE(statistics, fast, kFast)->Apply(sizes);
BENCHMARK_CAPTURE(statistics, vector256, kVector256)->Apply(sizes);
BENCHMARK_CAPTURE(statistics, vector128, kVector128)->Apply(sizes);
BENCHMARK_CAPTURE(statistics, scalar, kScalar)->Apply(sizes);
BENCHMARK_CAPTURE(combining, reference, kReference)->Apply(sizes);
BENCHMARK_CAPTURE(combining, fast, kFast)->Apply(sizes);
BENCHMARK_CAPTURE(combining, vector256, kVector256)->Apply(sizes);
BENCHMARK_CAPTURE(combining, vector128, kVector128)->Apply(sizes);
BENCHMARK_CAPTURE(combining, scalar, kScalar)->Apply(sizes);
BENCHMARK_CAPTURE(combined, reference, kReference)->Apply(sizes);
BENCHMARK_CAPTURE(combined, fast, kFast)->Apply(sizes);

// Console output as usual, and the time per iteration of every run kept by
// name for the table of ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.iterations == 0) continue;
      // With repetitions, keep the median aggregate; without, the one run.
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      if (run.run_type == Run::RT_Iteration && run.repetitions > 1) continue;
      std::string name = run.run_name.str();
      times_[name] = run.GetAdjustedRealTime();
    }
  }

  // reference / fast for every benchmark name with both.
  void print_ratios() const {
    std::printf("\n%-28s %12s %12s %12s\n", "benchmark", "reference", "other", "ratio");
    for (const auto& [name, time] : times_) {
      const auto at = name.find("/reference/");
      if (at != std::string::npos) continue;
      for (const char* variant : {"/fast/", "/vector256/", "/vector128/", "/scalar/"}) {
        const auto pos = name.find(variant);
        if (pos == std::string::npos) continue;
        std::string reference = name;
        reference.replace(pos, std::string(variant).size(), "/reference/");
        const auto it = times_.find(reference);
        if (it == times_.end()) continue;
        std::printf("%-28s %9.3f ms %9.3f ms %11.1fx\n", name.c_str(), it->second, time,
                    it->second / time);
      }
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_ratios();
  benchmark::Shutdown();
  return 0;
}
