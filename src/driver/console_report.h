// The sections of the console report, each printed where the run sequence
// reaches it.
#pragma once

#include <cstdint>
#include <string_view>

#include "combine/combining.h"
#include "combine/complex_arrays.h"
#include "runtime/arrays.h"

namespace tarvel {

// "reading <name> <K> channels <S> samples".
void print_reading_line(std::string_view input_name, std::int64_t channel_count,
                        std::int64_t sample_count);

// An empty line, "signals:", then per channel "mr mij  snr dB SNR".
void print_signals(const ComplexVector& m, const Array1<float>& snr);

// An empty line, the title, then one row per matrix row, each element as
// "re imj  " and the row closed by a bare line end.
void print_complex_matrix(std::string_view title, const ComplexMatrix& matrix);

// An empty line, the title, then per element "re imj".
void print_complex_vector(std::string_view title, const ComplexVector& vector);

// An empty line, "combined signal:", then "ybr ybij  snrc dB SNR".
void print_combined(const CombinedStatistics& combined);

}  // namespace tarvel
