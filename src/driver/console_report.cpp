#include "driver/console_report.h"

#include "output/print.h"
#include "runtime/open_files.h"

namespace tarvel {
namespace {

constexpr int kConsole = kConsoleFileNumber;

void print_section_title(std::string_view title) {
  end_line(kConsole, kItemEndsLine);
  print_text(kConsole, title, kItemEndsLine);
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

void print_signals(const ComplexVector& m, const Array1<float>& snr) {
  print_section_title("signals:");
  for (std::int64_t k = 1; k <= m.re.size(); ++k) {
    print_single(kConsole, m.re(k), kItemInLine);
    print_single(kConsole, m.im(k), kItemInLine);
    print_text(kConsole, "j  ", kItemInLine);
    print_single(kConsole, snr(k), kItemInLine);
    print_text(kConsole, " dB SNR", kItemEndsLine);
  }
}

void print_complex_matrix(std::string_view title, const ComplexMatrix& matrix) {
  print_section_title(title);
  for (std::int64_t k = 1; k <= matrix.re.rows(); ++k) {
    for (std::int64_t l = 1; l <= matrix.re.columns(); ++l) {
      print_single(kConsole, matrix.re(k, l), kItemInLine);
      print_single(kConsole, matrix.im(k, l), kItemInLine);
      print_text(kConsole, "j  ", kItemInLine);
    }
    end_line(kConsole, kItemEndsLine);
  }
}

void print_complex_vector(std::string_view title, const ComplexVector& vector) {
  print_section_title(title);
  for (std::int64_t k = 1; k <= vector.re.size(); ++k) {
    print_single(kConsole, vector.re(k), kItemInLine);
    print_single(kConsole, vector.im(k), kItemInLine);
    print_text(kConsole, "j", kItemEndsLine);
  }
}

void print_combined(const CombinedStatistics& combined) {
  print_section_title("combined signal:");
  print_single(kConsole, combined.mean_re, kItemInLine);
  print_single(kConsole, combined.mean_im, kItemInLine);
  print_text(kConsole, "j  ", kItemInLine);
  print_single(kConsole, combined.snr, kItemInLine);
  print_text(kConsole, " dB SNR", kItemEndsLine);
}

}  // namespace tarvel
