// tarvel: the optimum combination of several simultaneously recorded complex
// channels that carry one coherent signal, as a library on arrays in memory.
//
// Every function gives exactly the bits the tarvel command gives for the same
// samples: each value is stored in single precision, each formula evaluated
// in extended precision (a 64-bit significand, rounding to nearest) in a fixed
// order and rounded once when stored. NaN and infinities in the samples are
// data: they propagate into the results as in the command.
//
// Failures are thrown as tarvel::Error, never reported otherwise: the library
// prints nothing, never ends the process, installs no signal handler and holds
// no global mutable state. It sets the floating-point environment it needs
// for each call and restores the caller's before it returns or throws. Two
// threads may call it at once on different data.
#pragma once

#include <complex>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

namespace tarvel {

// S samples of K channels, read in place: sample n of channel k is
// data[n * sample_stride + k * channel_stride], strides in elements, either
// of them negative or zero. Row-major interleaved samples (as an SDR file
// sink writes them) have sample_stride K and channel_stride 1.
struct SampleView {
  const std::complex<float>* data;
  std::int64_t samples;         // S
  std::int64_t channels;        // K
  std::int64_t sample_stride;   // elements from sample n to n+1
  std::int64_t channel_stride;  // elements from channel k to k+1
};

// Everything the command's report prints from "signals:" through the
// combined signal. Indices are 0-based; matrices are K x K, row-major.
struct Estimate {
  std::vector<std::complex<float>> signals;                      // K channel means
  std::vector<float> snr_db;                                     // K
  std::vector<std::complex<float>> covariance, inverse;          // K*K, row-major
  std::vector<std::complex<float>> weights, normalized_weights;  // K
  std::int64_t reference;                                        // 0-based
  std::complex<float> combined_signal;                           // the combined mean
  float combined_snr_db;
};

// A text file's samples as the command reads them.
struct TextSamples {
  std::vector<double> times;                 // S
  std::vector<std::complex<float>> samples;  // S*K, row-major
  std::int64_t sample_count, channel_count;
};

// A failure, with the exit status the command ends with for the same input
// and the command's message for it: 1 illegal function call (S or K below 1,
// a device, pipe or other file that is not regular, bad arguments), 2 file not
// found (also a folder), 3 file I/O error (a failed write), 4 out of memory
// (also counts past the 32-bit bounds), 9 interrupted (a requested stop), 17
// end of file (a file too short). what() says what failed and names the file
// where there is one.
class Error : public std::runtime_error {
 public:
  Error(int code, const std::string& what);
  int code() const noexcept { return code_; }

 private:
  int code_;
};

// The row-major view of samples read by read_text.
SampleView view(const TextSamples& samples) noexcept;

// Estimates the channels' signals, SNRs and noise covariance, its inverse, the
// optimum and normalised weights, and the combined signal's mean and SNR,
// without storing the combined channel: the working memory is O(K^2) plus a
// fixed block of samples, whatever S, and x is read in place in any layout.
// Throws Error 1 for S or K below 1, a null data pointer or strides whose
// extent overflows, 4 for S or K past 2^31 - 1 or no memory, 9 when `stop`
// is requested (looked at between blocks of samples and between the steps).
Estimate estimate(const SampleView& x, std::stop_token stop = {});

// As estimate, and writes the combined channel into y (S values). Throws as
// estimate, and Error 1 when y's size is not S; y may then hold part of the
// result after a stop.
Estimate combine(const SampleView& x, std::span<std::complex<float>> y, std::stop_token stop = {});

// Samples held in a form the library does not read in place (other number
// types, other byte orders), handed over a block at a time: fills `out` with
// samples [first, first + count) of every channel, row-major (count * K
// values, each part already rounded to single precision). Called from several
// threads at once for disjoint ranges, each range once or more; must not
// throw.
using SampleReader =
    std::function<void(std::int64_t first, std::int64_t count, std::complex<float>* out)>;

// estimate and combine on S = `samples` samples of K = `channels` channels
// taken from `read` block by block, with the same results as on a view of
// the same values; the working memory stays O(K^2) plus a few blocks.
Estimate estimate(std::int64_t samples, std::int64_t channels, const SampleReader& read,
                  std::stop_token stop = {});
Estimate combine(std::int64_t samples, std::int64_t channels, const SampleReader& read,
                 std::span<std::complex<float>> y, std::stop_token stop = {});

// The command's report lines from "signals:" through the combined signal's
// value line, byte for byte: each line ends with CR LF, no empty line before
// the first or after the last. Throws Error 1 when e's sizes do not agree.
std::string report(const Estimate& e);

// Reads a text file as the command does (the same line and sample counts, the
// same text-mode stream of fields, Ctrl-Z ending the data), into the
// command's table and then into the returned layout: for a moment it holds
// the samples twice. Throws Error 2 for
// a missing file or a folder, 1 for a device, pipe or empty file, 4 for no
// memory or counts past 2^31 - 1, 17 when the file ends before its last
// sample, 9 when `stop` is requested.
TextSamples read_text(const std::filesystem::path& path, std::stop_token stop = {});

// The command's output file name for an input file: the name less a final
// ".txt", plus "_out.txt".
std::filesystem::path output_path(const std::filesystem::path& input);

// Writes the command's output file: one line "t yr yi" per sample, CR LF
// ended, 16 and 7 significant digits. Creates or truncates the file. Throws
// Error 1 when the sizes differ or are 0, 2 when the file cannot be created,
// 3 when any byte could not be written (the bytes written stay), 9 when `stop`
// is requested (the lines made so far are written out and the file closed,
// as the command leaves it on Ctrl-C).
void write_text(const std::filesystem::path& path, std::span<const double> times,
                std::span<const std::complex<float>> combined, std::stop_token stop = {});

}  // namespace tarvel
