// Input phases on a generated file: counting lines (against a bare memchr
// scan of the same file), and scanning and converting fields (against
// std::from_chars on the same fields), each baseline measured in the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "input/field_scanner.h"
#include "input/input_file.h"
#include "input/line_reader.h"
#include "input/two_pass_reader.h"

namespace {

constexpr int kSamples = 200000;
constexpr int kChannels = 4;

// A file of kSamples lines of 1 + 2 kChannels numbers with 7 digits.
const std::string& sample_file() {
  static const std::string path = [] {
    std::string name = "/tmp/tarvel-input-bench-XXXXXX";
    int fd = ::mkstemp(name.data());
    std::mt19937 random(3);
    std::normal_distribution<float> normal(0.0f, 1.0f);
    std::string text;
    char number[32];
    for (int n = 0; n < kSamples; ++n) {
      text += std::to_string(n);
      for (int k = 0; k < 2 * kChannels; ++k) {
        std::snprintf(number, sizeof number, " %.7g", static_cast<double>(normal(random)));
        text += number;
      }
      text += '\n';
    }
    if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::abort();
    ::close(fd);
    return name;
  }();
  return path;
}

std::string whole_file() {
  std::string text;
  std::FILE* in = std::fopen(sample_file().c_str(), "rb");
  char buffer[65536];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
    text.append(buffer, got);
  std::fclose(in);
  return text;
}

void BM_CountLines(benchmark::State& state) {
  const std::size_t size = whole_file().size();  // also makes the file, outside the timing
  for (auto _ : state) {
    tarvel::InputFile file;
    tarvel::open_for_input(file, sample_file(), 1);
    benchmark::DoNotOptimize(tarvel::count_remaining_lines(file));
    tarvel::close_file(file);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}
BENCHMARK(BM_CountLines);

void BM_MemchrLinesBaseline(benchmark::State& state) {
  const std::string text = whole_file();
  for (auto _ : state) {
    std::int64_t lines = 0;
    for (const char* p = text.data();
         (p = static_cast<const char*>(std::memchr(p, '\n', text.data() + text.size() - p))) !=
         nullptr;
         ++p) {
      ++lines;
    }
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_MemchrLinesBaseline);

void BM_ReadFields(benchmark::State& state) {
  sample_file();
  for (auto _ : state) {
    tarvel::InputFile file;
    tarvel::open_for_input(file, sample_file(), 1);
    tarvel::NumericReader reader;
    tarvel::begin_numeric_read(reader, file);
    double sum = 0;
    while (!tarvel::at_end_of_file(file)) {
      sum += tarvel::read_double_field(reader);
      for (int k = 0; k < 2 * kChannels; ++k) sum += tarvel::read_single_field(reader);
    }
    benchmark::DoNotOptimize(sum);
    tarvel::close_file(file);
  }
  state.SetItemsProcessed(state.iterations() * kSamples * (1 + 2 * kChannels));
}
BENCHMARK(BM_ReadFields);

void BM_FromCharsBaseline(benchmark::State& state) {
  const std::string text = whole_file();
  for (auto _ : state) {
    double sum = 0;
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
      while (p < end && (*p == ' ' || *p == '\n')) ++p;
      double value = 0;
      p = std::from_chars(p, end, value).ptr;
      sum += value;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kSamples * (1 + 2 * kChannels));
}
BENCHMARK(BM_FromCharsBaseline);

}  // namespace

BENCHMARK_MAIN();
