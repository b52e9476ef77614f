// The one-channel data the end-to-end tests run the tool on, with the output
// file and the console report it gives, spelled out here rather than taken
// from the code that formats them.
#pragma once

#include <string>

#include "support/e2e_run.h"

namespace tarvel::testing {

inline constexpr char kOneChannelData[] = "0 1 1\n1 3 1\n";
inline constexpr char kOneChannelOutput[] = " 0  1  1\r\n 1  3  1\r\n";

// The whole console report, CR LF lines, of a run on kOneChannelData read
// from `input_name` and written to `output_name`.
inline std::string one_channel_report(const std::string& input_name,
                                      const std::string& output_name) {
  return crlf("reading " + input_name + " 1 channels 2 samples\n" +
              "\n"
              "signals:\n"
              " 2 1j   10 dB SNR\n"
              "\n"
              "noise covariance:\n"
              " 1 0j  \n"
              "\n"
              "inverted noise covariance:\n"
              " 1 0j  \n"
              "\n"
              "optimum weights:\n"
              " 2-1j\n"
              "\n"
              "normalized optimum weights:\n"
              " 1 0j\n"
              "\n"
              "combined signal:\n"
              " 2 1j   10 dB SNR\n"
              "\n"
              "writing " +
              output_name + "\n");
}

}  // namespace tarvel::testing
