#include "output/report_writer.h"

#include <string>

#include "output/print.h"
#include "output/real_format.h"
#include "runtime/open_files.h"

namespace tarvel {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

void append_single(std::string& out, float value) {
  char text[kRealTextCapacity];
  out.append(text, format_real(static_cast<double>(value), kSingleDigits, true, text));
}

void append_complex(std::string& out, std::complex<float> value) {
  append_single(out, value.real());
  append_single(out, value.imag());
}

// "re imj  snr dB SNR", the line of a signal and of the combined signal.
void append_signal_line(std::string& out, std::complex<float> value, float snr_db) {
  append_complex(out, value);
  out += "j  ";
  append_single(out, snr_db);
  out += " dB SNR";
  out += kLineEnd;
}

// A count as "% d" prints it, with the blank after it that parts it from
// the next word.
void append_count(std::string& out, std::int64_t count) {
  if (count >= 0) out += ' ';
  out += std::to_string(count);
  out += ' ';
}

// Every section comes under an empty line: it follows the reading line.
std::string section(std::string_view title) {
  std::string text(kLineEnd);
  text += title;
  text += kLineEnd;
  return text;
}

void append_vector(std::string& out, std::string_view title,
                   std::span<const std::complex<float>> values) {
  out += section(title);
  for (const std::complex<float> value : values) {
    append_complex(out, value);
    out += "j";
    out += kLineEnd;
  }
}

}  // namespace

void ConsoleSink::put(std::string_view text) {
  print_text(kConsoleFileNumber, text);
}

void write_reading_line(ReportSink& sink, std::string_view input_name, std::int64_t channel_count,
                        std::int64_t sample_count) {
  std::string text = "reading ";
  text += input_name;
  append_count(text, channel_count);
  text += "channels";
  append_count(text, sample_count);
  text += "samples";
  text += kLineEnd;
  sink.put(text);
}

void write_signals(ReportSink& sink, std::span<const std::complex<float>> signals,
                   std::span<const float> snr_db) {
  std::string text = section("signals:");
  for (std::size_t k = 0; k < signals.size(); ++k) append_signal_line(text, signals[k], snr_db[k]);
  sink.put(text);
}

void write_matrix_title(ReportSink& sink, std::string_view title) {
  sink.put(section(title));
}

void write_matrix_row(ReportSink& sink, std::span<const std::complex<float>> row) {
  std::string text;
  for (const std::complex<float> value : row) {
    append_complex(text, value);
    text += "j  ";
  }
  text += kLineEnd;
  sink.put(text);
}

void write_matrix(ReportSink& sink, std::string_view title,
                  std::span<const std::complex<float>> matrix, std::int64_t order) {
  write_matrix_title(sink, title);
  for (std::int64_t k = 0; k < order; ++k) {
    write_matrix_row(
        sink, matrix.subspan(static_cast<std::size_t>(k * order), static_cast<std::size_t>(order)));
  }
}

void write_weights(ReportSink& sink, std::span<const std::complex<float>> weights,
                   std::span<const std::complex<float>> normalized_weights) {
  std::string text;
  append_vector(text, "optimum weights:", weights);
  sink.put(text);
  text.clear();
  append_vector(text, "normalized optimum weights:", normalized_weights);
  sink.put(text);
}

void write_combined(ReportSink& sink, std::complex<float> mean, float snr_db) {
  std::string text = section("combined signal:");
  append_signal_line(text, mean, snr_db);
  sink.put(text);
}

void write_writing_line(ReportSink& sink, std::string_view output_name) {
  std::string text(kLineEnd);
  text += "writing ";
  text += output_name;
  text += kLineEnd;
  sink.put(text);
}

}  // namespace tarvel
