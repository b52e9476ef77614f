#include "driver/console_report.h"

#include <complex>
#include <vector>

#include "library/estimate_values.h"
#include "output/report_writer.h"

namespace tarvel {
namespace {

// A matrix is printed a row at a time: its text may be large.
void print_matrix(std::string_view title, const ComplexMatrix& matrix) {
  ConsoleSink console;
  write_matrix_title(console, title);
  const std::int64_t order = matrix.re.columns();
  std::vector<std::complex<float>> row(static_cast<std::size_t>(order));
  for (std::int64_t k = 1; k <= order; ++k) {
    for (std::int64_t l = 1; l <= order; ++l) {
      row[static_cast<std::size_t>(l - 1)] = {matrix.re(k, l), matrix.im(k, l)};
    }
    write_matrix_row(console, row);
  }
}

}  // namespace

void print_reading_line(std::string_view input_name, std::int64_t channel_count,
                        std::int64_t sample_count) {
  ConsoleSink console;
  write_reading_line(console, input_name, channel_count, sample_count);
}

void print_statistics(const EstimateArrays& e) {
  ConsoleSink console;
  write_signals(console, library::complex_values(e.means),
                std::span<const float>(e.snr.data(), e.snr.size()));
  print_matrix("noise covariance:", e.covariance);
}

void print_inverse(const EstimateArrays& e) {
  print_matrix("inverted noise covariance:", e.inverse);
}

void print_weights(const EstimateArrays& e) {
  ConsoleSink console;
  write_weights(console, library::complex_values(e.weights), library::complex_values(e.normalised));
}

void print_combined(const CombinedStatistics& combined) {
  ConsoleSink console;
  write_combined(console, {combined.mean_re, combined.mean_im}, combined.snr);
}

}  // namespace tarvel
