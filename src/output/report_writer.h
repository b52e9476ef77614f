// The tool's console report, written once for every place that shows it: the
// reading line, the estimate's sections and the writing line, each after the
// first under an empty line, every line CR LF ended. A sink takes the text:
// the console, as the run reaches each part, or a string.
#pragma once

#include <complex>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tarvel {

class ReportSink {
 public:
  virtual void put(std::string_view text) = 0;

 protected:
  ~ReportSink() = default;
};

// Standard output, one write a piece; a lost console write is not reported.
class ConsoleSink final : public ReportSink {
 public:
  void put(std::string_view text) override;
};

class StringSink final : public ReportSink {
 public:
  void put(std::string_view text) override { text_ += text; }
  std::string& text() { return text_; }

 private:
  std::string text_;
};

// "reading <name> <K> channels <S> samples".
void write_reading_line(ReportSink& sink, std::string_view input_name, std::int64_t channel_count,
                        std::int64_t sample_count);

// "signals:", then per channel "mr mij  snr dB SNR".
void write_signals(ReportSink& sink, std::span<const std::complex<float>> signals,
                   std::span<const float> snr_db);

// A matrix's title, then its rows one by one, each element as "re imj  ": a
// large matrix is written a row at a time, never held as text whole.
void write_matrix_title(ReportSink& sink, std::string_view title);
void write_matrix_row(ReportSink& sink, std::span<const std::complex<float>> row);

// The title, then one line per row of the order x order matrix (row-major).
void write_matrix(ReportSink& sink, std::string_view title,
                  std::span<const std::complex<float>> matrix, std::int64_t order);

// The optimum and the normalised weights, each under its title, per element
// "re imj".
void write_weights(ReportSink& sink, std::span<const std::complex<float>> weights,
                   std::span<const std::complex<float>> normalized_weights);

// "combined signal:", then "ybr ybij  snrc dB SNR".
void write_combined(ReportSink& sink, std::complex<float> mean, float snr_db);

// "writing <name>".
void write_writing_line(ReportSink& sink, std::string_view output_name);

}  // namespace tarvel
