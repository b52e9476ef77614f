#include "driver/run_sequence.h"

#include <algorithm>

#include "combine/channel_statistics.h"
#include "combine/combining.h"
#include "combine/complex_arrays.h"
#include "combine/matrix_inversion.h"
#include "driver/console_report.h"
#include "input/two_pass_reader.h"
#include "output/output_file.h"
#include "output/print.h"
#include "runtime/open_files.h"
#include "runtime/runtime_error.h"

namespace tarvel {
namespace {

// Report line numbers of the guarded allocation steps.
constexpr int kSampleTableLine = 40;
constexpr int kStatisticsLine = 65;
constexpr int kSnrLine = 102;
constexpr int kInverseAndWeightsLine = 124;
constexpr int kCombinedSignalLine = 178;

// The most output formatted ahead of the file's opening.
constexpr std::size_t kMaxEarlyBytes = std::size_t{8} << 20;

// A run that did nothing must not report success.
constexpr int kMissingNameStatus = 1;
constexpr int kFileTooShortStatus = kEndOfFile;

void check(RuntimeErrorCode code, int report_line) {
  if (code != kNoError) raise_runtime_error(code, report_line);
}

}  // namespace

void run(std::string_view input_name) {
  if (input_name.empty()) {
    print_text(kConsoleFileNumber, "filename missing", kItemEndsLine);
    end_run(kMissingNameStatus);
  }

  FirstPass first_pass = count_lines(input_name);
  const std::int64_t sample_count = first_pass.line_count;
  const std::int64_t channel_count = count_fields(first_pass.first_line);
  print_reading_line(input_name, channel_count, sample_count);

  SampleTable table;
  check(allocate_sample_table(table, sample_count, channel_count), kSampleTableLine);
  if (read_samples(input_name, sample_count, channel_count, table, {}, first_pass.split) <
      sample_count) {
    print_text(kConsoleFileNumber, "error: file too short", kItemEndsLine);
    end_run(kFileTooShortStatus);
  }

  ComplexVector means;
  ComplexMatrix covariance;
  check(means.re.allocate(channel_count), kStatisticsLine);
  check(means.im.allocate(channel_count), kStatisticsLine);
  check(covariance.re.allocate(channel_count, channel_count), kStatisticsLine);
  check(covariance.im.allocate(channel_count, channel_count), kStatisticsLine);
  compute_means_and_covariance(table.xr, table.xi, means, covariance);

  Array1<float> snr;
  check(snr.allocate(channel_count), kSnrLine);
  compute_channel_snr(means, covariance, sample_count, snr);
  print_signals(means, snr);
  print_complex_matrix("noise covariance:", covariance);

  ComplexMatrix inverse;
  ComplexVector weights;
  ComplexVector normalised;
  check(inverse.re.allocate(channel_count, channel_count), kInverseAndWeightsLine);
  check(inverse.im.allocate(channel_count, channel_count), kInverseAndWeightsLine);
  check(weights.re.allocate(channel_count), kInverseAndWeightsLine);
  check(weights.im.allocate(channel_count), kInverseAndWeightsLine);
  check(normalised.re.allocate(channel_count), kInverseAndWeightsLine);
  check(normalised.im.allocate(channel_count), kInverseAndWeightsLine);
  invert_complex_matrix(covariance.re, covariance.im, inverse.re, inverse.im, channel_count);
  // The inverse of a Hermitian matrix has a real diagonal; what is left there
  // is rounding residue.
  for (std::int64_t k = 1; k <= channel_count; ++k) inverse.im(k, k) = 0;
  print_complex_matrix("inverted noise covariance:", inverse);

  compute_optimum_weights(means, inverse, weights);
  print_complex_vector("optimum weights:", weights);
  const std::int64_t reference = select_reference_channel(snr);
  normalise_weights(weights, reference, normalised);
  print_complex_vector("normalized optimum weights:", normalised);

  Array1<float> combined_re;
  Array1<float> combined_im;
  check(combined_re.allocate(sample_count), kCombinedSignalLine);
  check(combined_im.allocate(sample_count), kCombinedSignalLine);
  combine_signal(table.xr, table.xi, normalised, combined_re, combined_im);
  // The sample parts are done with. Their memory goes to the first lines of
  // the output, formatted on a helper thread while the combined statistics
  // are computed and the file is opened.
  const std::size_t freed = table.xr.bytes() + table.xi.bytes();
  table.xr = Array2<float>();
  table.xi = Array2<float>();
  EarlyLines early;
  early.start(table.t, combined_re, combined_im, std::min(freed, kMaxEarlyBytes));
  print_combined(compute_combined_statistics(combined_re, combined_im));

  write_output_file(make_output_name(input_name), table.t, combined_re, combined_im, &early);
  end_run(0);
}

}  // namespace tarvel
