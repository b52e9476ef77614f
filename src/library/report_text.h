// The report's sections as text, from "signals:" through the combined
// signal, each a title line and its value lines, every line CR LF ended.
#pragma once

#include <complex>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tarvel::library {

// A section's title line.
void append_title(std::string& out, std::string_view title);

// "signals:", then per channel "mr mij  snr dB SNR".
void append_signals(std::string& out, std::span<const std::complex<float>> signals,
                    std::span<const float> snr_db);

// One matrix row's line, each element as "re imj  ".
void append_matrix_row(std::string& out, std::span<const std::complex<float>> row);

// The title, then one line per row of the order x order matrix (row-major),
// each element as "re imj  ".
void append_matrix(std::string& out, std::string_view title,
                   std::span<const std::complex<float>> matrix, std::int64_t order);

// The title, then per element "re imj".
void append_vector(std::string& out, std::string_view title,
                   std::span<const std::complex<float>> vector);

// "combined signal:", then "ybr ybij  snrc dB SNR".
void append_combined(std::string& out, std::complex<float> mean, float snr_db);

}  // namespace tarvel::library
