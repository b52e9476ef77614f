// Output formatting: format_real against snprintf, the straightforward way it
// replaces, measured in the same run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <vector>

#include "output/real_format.h"

namespace {

std::vector<float> sample_singles() {
  std::mt19937 random(7);
  std::normal_distribution<float> normal(0.0f, 1.0f);
  std::vector<float> values(1 << 16);
  for (float& value : values) value = normal(random);
  return values;
}

std::vector<double> sample_times() {
  std::vector<double> values(1 << 16);
  for (std::size_t n = 0; n < values.size(); ++n) values[n] = static_cast<double>(n) / 48000.0;
  return values;
}

void BM_FormatSingle(benchmark::State& state) {
  auto values = sample_singles();
  char text[tarvel::kRealTextCapacity];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(tarvel::format_real(values[i++ & 0xFFFF], 7, true, text));
  }
}
BENCHMARK(BM_FormatSingle);

// The same value over and over: the cost without branch mispredictions.
void BM_FormatSameSingle(benchmark::State& state) {
  char text[tarvel::kRealTextCapacity];
  float value = 0.5801098f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(value);
    benchmark::DoNotOptimize(tarvel::format_real(value, 7, true, text));
  }
}
BENCHMARK(BM_FormatSameSingle);

void BM_SnprintfSingle(benchmark::State& state) {
  auto values = sample_singles();
  char text[64];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        std::snprintf(text, sizeof text, "%.7g", static_cast<double>(values[i++ & 0xFFFF])));
  }
}
BENCHMARK(BM_SnprintfSingle);

void BM_FormatTime(benchmark::State& state) {
  auto values = sample_times();
  char text[tarvel::kRealTextCapacity];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(tarvel::format_real(values[i++ & 0xFFFF], 16, true, text));
  }
}
BENCHMARK(BM_FormatTime);

void BM_SnprintfTime(benchmark::State& state) {
  auto values = sample_times();
  char text[64];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::snprintf(text, sizeof text, "%.16g", values[i++ & 0xFFFF]));
  }
}
BENCHMARK(BM_SnprintfTime);

}  // namespace

BENCHMARK_MAIN();
