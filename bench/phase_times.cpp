// The tool's phases on one input file, each timed alone, for the scaling
// table (scaling.py): the count pass, the read pass, the channel statistics,
// the combining (inverse, weights, combined signal and its statistics) and
// the output file. The workers are the machine's, so `taskset` chooses them,
// unless WORKERS forces their count. Prints one line: the workers, then each
// phase's best time of REPEAT in seconds.
//
//   phase_times FILE OUTPUT_FILE [REPEAT [WORKERS]]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "combine/combining.h"
#include "combine/estimation.h"
#include "input/two_pass_reader.h"
#include "output/output_file.h"
#include "runtime/fp_environment.h"
#include "runtime/helper_thread.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tarvel;
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FILE OUTPUT_FILE [REPEAT [WORKERS]]\n", argv[0]);
    return 2;
  }
  const int repeat = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  if (argc > 4) force_worker_count(std::atoi(argv[4]));
  set_floating_point_environment();
  constexpr int kPhases = 5;
  double best[kPhases];
  std::fill_n(best, kPhases, std::numeric_limits<double>::infinity());
  for (int round = 0; round < repeat; ++round) {
    double times[kPhases];
    Clock::time_point start = Clock::now();
    const FirstPass first = count_lines(argv[1]);
    times[0] = seconds_since(start);
    const std::int64_t samples = first.line_count;
    const std::int64_t channels = count_fields(first.first_line);

    start = Clock::now();
    SampleTable table;
    if (allocate_sample_table(table, samples, channels) != kNoError ||
        read_samples(argv[1], samples, channels, table, {}, first.split) < samples) {
      std::fprintf(stderr, "phase_times: %s cannot be read whole\n", argv[1]);
      return 1;
    }
    times[1] = seconds_since(start);

    start = Clock::now();
    EstimateArrays e;
    allocate_statistics(e, samples, channels);
    compute_statistics(TableBlocks(table.xr, table.xi), e);
    allocate_snr(e);
    compute_snr(e);
    times[2] = seconds_since(start);

    start = Clock::now();
    allocate_inverse_and_weights(e);
    invert_covariance(e);
    compute_weights(e);
    Array1<float> yr;
    Array1<float> yi;
    yr.allocate(samples);
    yi.allocate(samples);
    combine_signal(table.xr, table.xi, e.normalised, yr, yi);
    static_cast<void>(compute_combined_statistics(yr, yi));
    times[3] = seconds_since(start);

    start = Clock::now();
    write_output_file(argv[2], table.t, yr, yi, nullptr);
    times[4] = seconds_since(start);
    for (int p = 0; p < kPhases; ++p) best[p] = std::min(best[p], times[p]);
  }
  std::printf("%d", worker_count());
  for (const double time : best) std::printf(" %.6f", time);
  std::printf("\n");
  return 0;
}
