// The library's estimate and combine against the tool's own statistics and
// combining phases on the same samples in memory, as ratios measured in one
// run. The baseline (a) is the run sequence's steps on the planar sample
// table, as src/driver/run_sequence.cpp calls them: the statistics, the SNR,
// the inversion, the weights, the combined signal into two new arrays and its
// statistics. Against it: tarvel::estimate (b) and tarvel::combine (c) on the
// samples interleaved row-major, as an SDR file sink writes them, and both on
// the samples column-major, one channel after another (d, e), all in the
// command's arithmetic; then the exact arithmetic's estimate and combine on
// the same layouts (f, g, h), with the ratio of the exact estimate to the
// command's. The output of
// combine is a new buffer on every call, as the tool's arrays are, so both
// sides pay for touching fresh memory.
//
// Each repetition times every variant once, starting from a different one
// each time; the table gives the best and the median of each and the ratios
// of the best times to (a)'s best. Before timing, every variant's results are
// compared with the tool's steps, bit for bit, so that a variant that takes a
// wrong path cannot go unnoticed: the program exits 1 on any difference.
//
//   library_speed [--samples S] [--channels K] [--repeat R]
//
// Defaults: S = 10^7, K = 4, R = 7.
#include <algorithm>
#include <chrono>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "combine/combining.h"
#include "combine/estimation.h"
#include "runtime/arrays.h"
#include "runtime/fp_environment.h"
#include "tarvel/tarvel.h"

namespace {

using Complex = std::complex<float>;
using tarvel::Array1;
using tarvel::Array2;

struct Options {
  std::int64_t samples = 10'000'000;
  std::int64_t channels = 4;
  int repeat = 7;
};

[[noreturn]] void usage(const char* program) {
  std::fprintf(stderr, "usage: %s [--samples S] [--channels K] [--repeat R]\n", program);
  std::exit(2);
}

Options parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (i + 1 >= argc) usage(argv[0]);
    const long long value = std::atoll(argv[++i]);
    if (value < 1) usage(argv[0]);
    if (name == "--samples") {
      options.samples = value;
    } else if (name == "--channels") {
      options.channels = value;
    } else if (name == "--repeat") {
      options.repeat = static_cast<int>(value);
    } else {
      usage(argv[0]);
    }
  }
  return options;
}

// The same samples in the three layouts.
struct Samples {
  std::vector<Complex> rows;     // S x K, interleaved row-major
  std::vector<Complex> columns;  // K x S, one channel after another
  Array2<float> xr;              // the tool's planar table, S x K
  Array2<float> xi;
};

// One constant signal per channel, with its own gain and phase, under
// Gaussian noise that the channels partly share, from a fixed seed.
void generate(std::int64_t samples, std::int64_t channels, Samples& x) {
  if (x.xr.allocate(samples, channels) != 0 || x.xi.allocate(samples, channels) != 0) {
    std::fprintf(stderr, "no memory for %lld x %lld samples\n", static_cast<long long>(samples),
                 static_cast<long long>(channels));
    std::exit(1);
  }
  x.rows.resize(static_cast<std::size_t>(samples * channels));
  x.columns.resize(x.rows.size());
  std::mt19937_64 random(20261207);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
  std::vector<Complex> signal(static_cast<std::size_t>(channels));
  for (Complex& s : signal) s = std::polar(0.2f + uniform(random), 6.2831853f * uniform(random));
  for (std::int64_t n = 0; n < samples; ++n) {
    const Complex shared(noise(random), noise(random));
    for (std::int64_t k = 0; k < channels; ++k) {
      const Complex value = signal[static_cast<std::size_t>(k)] + 0.5f * shared +
                            Complex(noise(random), noise(random));
      x.rows[static_cast<std::size_t>(n * channels + k)] = value;
      x.columns[static_cast<std::size_t>(k * samples + n)] = value;
      x.xr(n + 1, k + 1) = value.real();
      x.xi(n + 1, k + 1) = value.imag();
    }
  }
}

tarvel::SampleView row_major(const Samples& x, std::int64_t samples, std::int64_t channels) {
  return {x.rows.data(), samples, channels, channels, 1};
}

tarvel::SampleView column_major(const Samples& x, std::int64_t samples, std::int64_t channels) {
  return {x.columns.data(), samples, channels, 1, samples};
}

// What the tool's steps leave, as the library's Estimate holds it, with the
// combined signal interleaved.
struct ToolResult {
  tarvel::Estimate estimate;
  std::vector<Complex> combined;
};

void require(tarvel::RuntimeErrorCode code, const char* what) {
  if (code != tarvel::kNoError) {
    std::fprintf(stderr, "the tool's %s could not be allocated (code %d)\n", what, code);
    std::exit(1);
  }
}

std::vector<Complex> values(const tarvel::ComplexVector& v) {
  std::vector<Complex> out;
  for (std::int64_t k = 1; k <= v.re.size(); ++k) out.emplace_back(v.re(k), v.im(k));
  return out;
}

std::vector<Complex> values(const tarvel::ComplexMatrix& m) {
  std::vector<Complex> out;
  for (std::int64_t i = 1; i <= m.re.rows(); ++i) {
    for (std::int64_t j = 1; j <= m.re.columns(); ++j) out.emplace_back(m.re(i, j), m.im(i, j));
  }
  return out;
}

// The run sequence's steps from the statistics to the combined statistics.
// With `result`, what each step leaves is kept there too (outside what a
// timing run does).
tarvel::CombinedStatistics tool_steps(const Samples& x, ToolResult* result) {
  const std::int64_t samples = x.xr.rows();
  const std::int64_t channels = x.xr.columns();
  tarvel::EstimateArrays e;
  require(tarvel::allocate_statistics(e, samples, channels), "statistics");
  tarvel::compute_statistics(tarvel::TableBlocks(x.xr, x.xi), e);
  require(tarvel::allocate_snr(e), "SNR");
  tarvel::compute_snr(e);
  // The inversion uses the covariance up.
  if (result != nullptr) result->estimate.covariance = values(e.covariance);
  require(tarvel::allocate_inverse_and_weights(e), "inverse and weights");
  tarvel::invert_covariance(e);
  tarvel::compute_weights(e);
  Array1<float> yr;
  Array1<float> yi;
  require(yr.allocate(samples), "combined signal");
  require(yi.allocate(samples), "combined signal");
  tarvel::combine_signal(x.xr, x.xi, e.normalised, yr, yi);
  const tarvel::CombinedStatistics combined = tarvel::compute_combined_statistics(yr, yi);
  if (result != nullptr) {
    tarvel::Estimate& out = result->estimate;
    out.signals = values(e.means);
    out.snr_db.assign(e.snr.data(), e.snr.data() + e.snr.size());
    out.inverse = values(e.inverse);
    out.weights = values(e.weights);
    out.normalized_weights = values(e.normalised);
    out.reference = e.reference - 1;
    out.combined_signal = {combined.mean_re, combined.mean_im};
    out.combined_snr_db = combined.snr;
    result->combined.resize(static_cast<std::size_t>(samples));
    for (std::int64_t n = 1; n <= samples; ++n) {
      result->combined[static_cast<std::size_t>(n - 1)] = {yr(n), yi(n)};
    }
  }
  return combined;
}

// A fresh output buffer, as the tool's arrays are: its pages are touched
// first by combine.
struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using Output = std::unique_ptr<Complex, FreeDeleter>;

Output fresh_output(std::int64_t samples) {
  Output y(static_cast<Complex*>(std::calloc(static_cast<std::size_t>(samples), sizeof(Complex))));
  if (!y) {
    std::fprintf(stderr, "no memory for the combined signal\n");
    std::exit(1);
  }
  return y;
}

bool same_bits(float a, float b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

bool same_bits(std::span<const Complex> a, std::span<const Complex> b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size_bytes()) == 0;
}

// Prints each field that differs; true when none does.
bool same_estimate(const tarvel::Estimate& got, const tarvel::Estimate& want, const char* name) {
  bool same = true;
  const auto check = [&](bool equal, const char* field) {
    if (!equal) std::fprintf(stderr, "%s: %s differs from the tool's\n", name, field);
    same = same && equal;
  };
  check(same_bits(got.signals, want.signals), "the means");
  check(got.snr_db.size() == want.snr_db.size() &&
            std::equal(got.snr_db.begin(), got.snr_db.end(), want.snr_db.begin(),
                       [](float a, float b) { return same_bits(a, b); }),
        "the SNRs");
  check(same_bits(got.covariance, want.covariance), "the covariance");
  check(same_bits(got.inverse, want.inverse), "the inverse");
  check(same_bits(got.weights, want.weights), "the weights");
  check(same_bits(got.normalized_weights, want.normalized_weights), "the normalized weights");
  check(got.reference == want.reference, "the reference channel");
  check(same_bits({&got.combined_signal, 1}, {&want.combined_signal, 1}),
        "the combined signal's mean");
  check(same_bits(got.combined_snr_db, want.combined_snr_db), "the combined signal's SNR");
  return same;
}

enum Variant {
  kTool,
  kEstimateRows,
  kCombineRows,
  kEstimateColumns,
  kCombineColumns,
  kExactEstimateRows,
  kExactCombineRows,
  kExactEstimateColumns,
  kVariants
};

const char* const kNames[kVariants] = {
    "(a) tool steps, planar table", "(b) estimate, row-major",    "(c) combine, row-major",
    "(d) estimate, column-major",   "(e) combine, column-major",  "(f) exact estimate, row-major",
    "(g) exact combine, row-major", "(h) exact estimate, columns"};

const tarvel::Options kCommand{tarvel::Arithmetic::command};

// Runs one variant; the result's combined SNR is kept so that no call can be
// left out.
float run(Variant variant, const Samples& x, std::int64_t samples, std::int64_t channels) {
  switch (variant) {
    case kTool:
      return tool_steps(x, nullptr).snr;
    case kEstimateRows:
      return tarvel::estimate(row_major(x, samples, channels), kCommand).combined_snr_db;
    case kEstimateColumns:
      return tarvel::estimate(column_major(x, samples, channels), kCommand).combined_snr_db;
    case kExactEstimateRows:
      return tarvel::estimate(row_major(x, samples, channels)).combined_snr_db;
    case kExactEstimateColumns:
      return tarvel::estimate(column_major(x, samples, channels)).combined_snr_db;
    case kCombineRows:
    case kCombineColumns: {
      Output y = fresh_output(samples);
      const tarvel::SampleView view = variant == kCombineRows ? row_major(x, samples, channels)
                                                              : column_major(x, samples, channels);
      return tarvel::combine(view, {y.get(), static_cast<std::size_t>(samples)}, kCommand)
          .combined_snr_db;
    }
    case kExactCombineRows: {
      Output y = fresh_output(samples);
      return tarvel::combine(row_major(x, samples, channels),
                             {y.get(), static_cast<std::size_t>(samples)})
          .combined_snr_db;
    }
    default:
      std::abort();
  }
}

bool verify(const Samples& x, std::int64_t samples, std::int64_t channels) {
  ToolResult tool;
  tool_steps(x, &tool);
  bool same = same_estimate(tarvel::estimate(row_major(x, samples, channels), kCommand),
                            tool.estimate, kNames[kEstimateRows]);
  same = same_estimate(tarvel::estimate(column_major(x, samples, channels), kCommand),
                       tool.estimate, kNames[kEstimateColumns]) &&
         same;
  for (const Variant variant : {kCombineRows, kCombineColumns}) {
    std::vector<Complex> y(static_cast<std::size_t>(samples));
    const tarvel::SampleView view = variant == kCombineRows ? row_major(x, samples, channels)
                                                            : column_major(x, samples, channels);
    same =
        same_estimate(tarvel::combine(view, y, kCommand), tool.estimate, kNames[variant]) && same;
    if (!same_bits(y, tool.combined)) {
      std::fprintf(stderr, "%s: the combined samples differ from the tool's\n", kNames[variant]);
      same = false;
    }
  }
  if (same) {
    std::printf(
        "same bits as the tool's steps: means, SNRs, covariance, inverse, weights, "
        "reference, combined mean and SNR, and every combined sample\n");
    std::printf("combined signal %.7g %.7gj, %.7g dB SNR\n", tool.estimate.combined_signal.real(),
                tool.estimate.combined_signal.imag(), tool.estimate.combined_snr_db);
  }
  return same;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse(argc, argv);
  // The tool's main sets the environment once for the run; the library sets
  // its own for each call and puts the caller's back.
  tarvel::set_floating_point_environment();
  std::printf("S = %lld, K = %lld, %d repetitions\n", static_cast<long long>(options.samples),
              static_cast<long long>(options.channels), options.repeat);
  Samples x;
  generate(options.samples, options.channels, x);
  try {
    if (!verify(x, options.samples, options.channels)) return 1;

    std::vector<double> seconds[kVariants];
    float kept = 0;
    for (int r = 0; r < options.repeat; ++r) {
      for (int i = 0; i < kVariants; ++i) {
        const Variant variant = static_cast<Variant>((r + i) % kVariants);
        const auto start = std::chrono::steady_clock::now();
        kept += run(variant, x, options.samples, options.channels);
        const auto end = std::chrono::steady_clock::now();
        seconds[variant].push_back(std::chrono::duration<double>(end - start).count());
      }
    }
    std::printf("%-30s %10s %10s %10s\n", "", "best s", "median s", "best/(a)");
    double baseline = 0;
    for (int v = 0; v < kVariants; ++v) {
      std::vector<double>& times = seconds[v];
      std::sort(times.begin(), times.end());
      if (v == kTool) baseline = times.front();
      std::printf("%-30s %10.4f %10.4f %10.3f\n", kNames[v], times.front(), times[times.size() / 2],
                  times.front() / baseline);
    }
    std::printf("exact estimate / command estimate, best of each: %.3f row-major, %.3f columns\n",
                seconds[kExactEstimateRows].front() / seconds[kEstimateRows].front(),
                seconds[kExactEstimateColumns].front() / seconds[kEstimateColumns].front());
    // Printed so that no call's result is unused.
    std::printf("(sum of the combined SNRs: %g dB)\n", static_cast<double>(kept));
  } catch (const tarvel::Error& error) {
    std::fprintf(stderr, "Error %d: %s\n", error.code(), error.what());
    return 1;
  }
  return 0;
}
