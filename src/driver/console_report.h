// The sections of the console report, each printed where the run sequence
// reaches it.
#pragma once

#include <cstdint>
#include <string_view>

#include "combine/estimation.h"

namespace tarvel {

// "reading <name> <K> channels <S> samples".
void print_reading_line(std::string_view input_name, std::int64_t channel_count,
                        std::int64_t sample_count);

// An empty line, "signals:", then per channel "mr mij  snr dB SNR"; an empty
// line, "noise covariance:" and its rows. Before the inversion uses the
// covariance up.
void print_statistics(const EstimateArrays& e);

// An empty line, "inverted noise covariance:" and its rows.
void print_inverse(const EstimateArrays& e);

// The optimum and the normalised weights, each under an empty line and its
// title.
void print_weights(const EstimateArrays& e);

// An empty line, "combined signal:", then "ybr ybij  snrc dB SNR".
void print_combined(const CombinedStatistics& combined);

}  // namespace tarvel
