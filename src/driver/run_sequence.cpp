#include "driver/run_sequence.h"

#include <algorithm>

#include "combine/combining.h"
#include "combine/estimation.h"
#include "driver/console_report.h"
#include "input/two_pass_reader.h"
#include "output/output_file.h"
#include "output/print.h"
#include "runtime/open_files.h"
#include "runtime/report_lines.h"
#include "runtime/runtime_error.h"

namespace tarvel {
namespace {

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
    print_line(kConsoleFileNumber, "filename missing");
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
    print_line(kConsoleFileNumber, "error: file too short");
    end_run(kFileTooShortStatus);
  }

  EstimateArrays e;
  check(allocate_statistics(e, sample_count, channel_count), kStatisticsLine);
  compute_statistics(TableBlocks(table.xr, table.xi), e);
  check(allocate_snr(e), kSnrLine);
  compute_snr(e);
  print_statistics(e);

  check(allocate_inverse_and_weights(e), kInverseAndWeightsLine);
  invert_covariance(e);
  print_inverse(e);
  compute_weights(e);
  print_weights(e);

  Array1<float> combined_re;
  Array1<float> combined_im;
  check(combined_re.allocate(sample_count), kCombinedSignalLine);
  check(combined_im.allocate(sample_count), kCombinedSignalLine);
  combine_signal(table.xr, table.xi, e.normalised, combined_re, combined_im);
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
