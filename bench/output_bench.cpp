// Output formatting: format_real against snprintf, the straightforward way it
// replaces, measured in the same run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "output/output_lines.h"
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

// A block of output lines such as the tool writes: times as multiples of a
// sample period, parts with seven significant digits.
struct Lines {
  tarvel::Array1<double> t;
  tarvel::Array1<float> yr;
  tarvel::Array1<float> yi;
  std::vector<char> text = std::vector<char>(tarvel::kBlockCapacity);

  Lines() {
    auto singles = sample_singles();
    const std::int64_t count = tarvel::kLinesPerBlock;
    if (t.allocate(count) != tarvel::kNoError || yr.allocate(count) != tarvel::kNoError ||
        yi.allocate(count) != tarvel::kNoError) {
      std::abort();
    }
    for (std::int64_t n = 1; n <= count; ++n) {
      t(n) = static_cast<double>(n + 480000) / 48000.0;
      yr(n) = singles[static_cast<std::size_t>(2 * n)];
      yi(n) = singles[static_cast<std::size_t>(2 * n + 1)];
    }
  }
};

void BM_FormatLines(benchmark::State& state) {
  Lines lines;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        tarvel::format_block(lines.t, lines.yr, lines.yi, 0, lines.text.data()));
  }
  state.SetItemsProcessed(state.iterations() * tarvel::kLinesPerBlock);
}
BENCHMARK(BM_FormatLines);

// The same lines item after item, the way format_lines groups them to avoid.
void BM_FormatLinesItemByItem(benchmark::State& state) {
  Lines lines;
  for (auto _ : state) {
    char* out = lines.text.data();
    for (std::int64_t n = 1; n <= tarvel::kLinesPerBlock; ++n) {
      out += tarvel::format_double_item(lines.t(n), out);
      *out++ = ' ';
      out += tarvel::format_single_item(lines.yr(n), out);
      *out++ = ' ';
      out += tarvel::format_single_item(lines.yi(n), out);
      *out++ = '\r';
      *out++ = '\n';
    }
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations() * tarvel::kLinesPerBlock);
}
BENCHMARK(BM_FormatLinesItemByItem);

}  // namespace

BENCHMARK_MAIN();
