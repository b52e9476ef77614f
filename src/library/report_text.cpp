#include "library/report_text.h"

#include "library/failure.h"
#include "output/real_format.h"

namespace tarvel::library {
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

}  // namespace

void append_title(std::string& out, std::string_view title) {
  out += title;
  out += kLineEnd;
}

void append_matrix_row(std::string& out, std::span<const std::complex<float>> row) {
  for (const std::complex<float> value : row) {
    append_complex(out, value);
    out += "j  ";
  }
  out += kLineEnd;
}

void append_signals(std::string& out, std::span<const std::complex<float>> signals,
                    std::span<const float> snr_db) {
  append_title(out, "signals:");
  for (std::size_t k = 0; k < signals.size(); ++k) {
    append_complex(out, signals[k]);
    out += "j  ";
    append_single(out, snr_db[k]);
    out += " dB SNR";
    out += kLineEnd;
  }
}

void append_matrix(std::string& out, std::string_view title,
                   std::span<const std::complex<float>> matrix, std::int64_t order) {
  append_title(out, title);
  for (std::int64_t k = 0; k < order; ++k) {
    append_matrix_row(
        out, matrix.subspan(static_cast<std::size_t>(k * order), static_cast<std::size_t>(order)));
  }
}

void append_vector(std::string& out, std::string_view title,
                   std::span<const std::complex<float>> vector) {
  append_title(out, title);
  for (const std::complex<float> value : vector) {
    append_complex(out, value);
    out += "j";
    out += kLineEnd;
  }
}

void append_combined(std::string& out, std::complex<float> mean, float snr_db) {
  append_title(out, "combined signal:");
  append_complex(out, mean);
  out += "j  ";
  append_single(out, snr_db);
  out += " dB SNR";
  out += kLineEnd;
}

}  // namespace tarvel::library

namespace tarvel {

std::string report(const Estimate& e) {
  const std::size_t k = e.signals.size();
  if (k == 0 || e.snr_db.size() != k || e.covariance.size() != k * k || e.inverse.size() != k * k ||
      e.weights.size() != k || e.normalized_weights.size() != k) {
    library::fail(1, "an estimate whose sizes do not agree has no report");
  }
  const auto order = static_cast<std::int64_t>(k);
  std::string text;
  library::append_signals(text, e.signals, e.snr_db);
  text += "\r\n";
  library::append_matrix(text, "noise covariance:", e.covariance, order);
  text += "\r\n";
  library::append_matrix(text, "inverted noise covariance:", e.inverse, order);
  text += "\r\n";
  library::append_vector(text, "optimum weights:", e.weights);
  text += "\r\n";
  library::append_vector(text, "normalized optimum weights:", e.normalized_weights);
  text += "\r\n";
  library::append_combined(text, e.combined_signal, e.combined_snr_db);
  return text;
}

}  // namespace tarvel
