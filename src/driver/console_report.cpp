#include "driver/console_report.h"

#include <complex>
#include <string>
#include <vector>

#include "library/estimate_values.h"
#include "library/report_text.h"
#include "output/print.h"
#include "runtime/open_files.h"

namespace tarvel {
namespace {

constexpr int kConsole = kConsoleFileNumber;

// Each section is printed under an empty line, as one write.
void print_section(const std::string& text) {
  print_text(kConsole, "\r\n" + text, 0);
}

// A matrix is printed a row at a time: its text may be large.
void print_matrix(std::string_view title, const ComplexMatrix& matrix) {
  std::string text;
  library::append_title(text, title);
  print_section(text);
  const std::int64_t order = matrix.re.columns();
  std::vector<std::complex<float>> row(static_cast<std::size_t>(order));
  for (std::int64_t k = 1; k <= order; ++k) {
    for (std::int64_t l = 1; l <= order; ++l) {
      row[static_cast<std::size_t>(l - 1)] = {matrix.re(k, l), matrix.im(k, l)};
    }
    text.clear();
    library::append_matrix_row(text, row);
    print_text(kConsole, text, 0);
  }
}

}  // namespace

void print_reading_line(std::string_view input_name, std::int64_t channel_count,
                        std::int64_t sample_count) {
  print_text(kConsole, "reading ", kItemInLine);
  print_text(kConsole, input_name, kItemInLine);
  print_integer(kConsole, channel_count, kItemInLine);
  print_text(kConsole, "channels", kItemInLine);
  print_integer(kConsole, sample_count, kItemInLine);
  print_text(kConsole, "samples", kItemEndsLine);
}

void print_statistics(const EstimateArrays& e) {
  std::string text;
  library::append_signals(text, library::complex_values(e.means),
                          std::span<const float>(e.snr.data(), e.snr.size()));
  print_section(text);
  print_matrix("noise covariance:", e.covariance);
}

void print_inverse(const EstimateArrays& e) {
  print_matrix("inverted noise covariance:", e.inverse);
}

void print_weights(const EstimateArrays& e) {
  std::string text;
  library::append_vector(text, "optimum weights:", library::complex_values(e.weights));
  print_section(text);
  text.clear();
  library::append_vector(text,
                         "normalized optimum weights:", library::complex_values(e.normalised));
  print_section(text);
}

void print_combined(const CombinedStatistics& combined) {
  std::string text;
  library::append_combined(text, {combined.mean_re, combined.mean_im}, combined.snr);
  print_section(text);
}

}  // namespace tarvel
