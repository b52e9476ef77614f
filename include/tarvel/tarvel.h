// tarvel: the optimum combination of several simultaneously recorded complex
// channels that carry one coherent signal, as a library on arrays in memory.
//
// Two arithmetics give the estimate (Arithmetic below). By default the sums
// over samples are exact: each channel mean and covariance element is the
// exact value rounded once to single precision, whatever the number of
// samples, threads, blocks or the order they came in. The command's
// arithmetic, one option away, gives exactly the bits the tarvel command
// gives for the same samples: every running sum stored in single precision
// after each step, so that a sum stops growing once it is about 2^24 times
// its terms. In both, every later value (SNR, inverse, weights) is stored in
// single precision, each formula evaluated in extended precision (a 64-bit
// significand, rounding to nearest) in a fixed order and rounded once. NaN
// and infinities in the samples are data: they propagate into the results.
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
#include <memory>
#include <span>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <system_error>
#include <vector>

// The library's version, which the package files give as well.
#define TARVEL_VERSION_MAJOR 1
#define TARVEL_VERSION_MINOR 2
#define TARVEL_VERSION_PATCH 0

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

  // Samples one after another, each with its K channels side by side.
  static SampleView rows(const std::complex<float>* data, std::int64_t samples,
                         std::int64_t channels) noexcept {
    return {data, samples, channels, channels, 1};
  }
  // Channels one after another, each with its S samples side by side.
  static SampleView columns(const std::complex<float>* data, std::int64_t samples,
                            std::int64_t channels) noexcept {
    return {data, samples, channels, 1, samples};
  }
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
  std::vector<double> times;                // S
  std::vector<std::complex<float>> values;  // S*K, row-major
  std::int64_t sample_count, channel_count;
};

// Every way a call can fail, each valued as the exit status the command ends
// with for the same input.
enum class Failure : int {
  illegal_function_call = 1,  // S or K below 1, a device, pipe or other file
                              // that is not regular, bad arguments
  file_not_found = 2,         // a file that cannot be opened or created
  file_io_error = 3,          // a failed write
  out_of_memory = 4,          // also counts past the 32-bit bounds
  interrupted = 9,            // a requested stop
  end_of_file = 17,           // a file too short
};

// A failure, with the command's message for it. what() says what failed and
// names the file where there is one; path() is that file, and reason() why,
// as an error number in std::generic_category: the system's for a failed
// open, create or write, EISDIR for a folder, EINVAL for a file the reader
// cannot take (a device, pipe or socket); else empty.
class Error : public std::runtime_error {
 public:
  Error(Failure failure, const std::string& what, std::error_code reason = {},
        std::filesystem::path path = {});
  // As written against version 1.1: the failure by its exit status.
  Error(int code, const std::string& what) : Error(static_cast<Failure>(code), what) {}
  Failure failure() const noexcept { return failure_; }
  int code() const noexcept { return static_cast<int>(failure_); }
  std::error_code reason() const noexcept { return reason_; }
  const std::filesystem::path& path() const noexcept { return path_; }

 private:
  Failure failure_;
  std::error_code reason_;
  std::filesystem::path path_;
};

// How the sums over samples are taken.
//  exact:   each channel mean m(k) is the exact mean of its samples, R(k,l)
//           the exact (1/S) sum of (x(n,k) - mu(k)) conj(x(n,l) - mu(l)), mu
//           the exact mean, each part rounded once to single precision
//           (beyond the single range: +-inf). The combined signal's mean and
//           noise power are the exact mean of sum_k x(n,k) v(k) and
//           sum_k,l v(k) R(k,l) conj(v(l)) over the exact R, rounded once.
//           A mean part with an infinity or NaN among its samples is what
//           IEEE addition gives (+inf, -inf or NaN); the covariance row and
//           column of a channel with any non-finite part are NaN (the
//           diagonal's imaginary part stays 0). The samples are read once.
//  command: the tarvel command's running sums, bit for bit; the combined
//           signal's statistics take two more passes over the samples, and
//           S and K are bounded by 2^31 - 1 as in the command.
enum class Arithmetic { exact, command };

struct Options {
  Arithmetic arithmetic = Arithmetic::exact;
  // The most threads a call may use, the calling one included; 0 means every
  // processor this process may run on (at most 64).
  int workers = 0;
  // Diagonal loading: before the inversion, loading·trace(R)/K is added to
  // each diagonal element of the covariance (the trace summed in channel
  // order in extended precision, each element rounded once), for short
  // blocks (S <= K) and nearly singular noise. The Estimate's covariance
  // and SNRs are those of the samples, without it; 0 changes nothing.
  // Negative or NaN: Error 1.
  float loading = 0;
};

// S samples of K channels held as interleaved integer I/Q pairs, as SDRs
// write them (USRP sc16, 8-bit file sinks), read in place: the pair of sample
// n of channel k starts at element (n * sample_stride + k * channel_stride)
// * 2 of the type's array, I first, strides in pairs, either negative or
// zero. int16 and int8 values are taken as they are; uint8 ones as value -
// 127.5, the unsigned 8-bit convention. Every value is exact in single
// precision, so the results are those of the same values as complex floats.
enum class PairType { int16, int8, uint8 };
struct PairView {
  const void* data;
  PairType type;
  std::int64_t samples;         // S
  std::int64_t channels;        // K
  std::int64_t sample_stride;   // pairs from sample n to n+1
  std::int64_t channel_stride;  // pairs from channel k to k+1
};

// The row-major view of samples read by read_text.
SampleView view(const TextSamples& samples) noexcept;

// Estimates the channels' signals, SNRs and noise covariance, its inverse, the
// optimum and normalised weights, and the combined signal's mean and SNR,
// without storing the combined channel: the working memory is O(K^2) per
// worker plus a fixed block of samples, whatever S, and x is read in place
// in any layout. Throws Error 1 for S or K below 1, a null data pointer,
// strides whose extent overflows or negative workers, 4 for K past
// 2^31 - 1 (in the command's arithmetic also S) or no memory, 9 when `stop`
// is requested (looked at between blocks of samples and between the steps,
// so within about 0.1 s of work). The overloads without options take the
// defaults: exact sums on every processor.
Estimate estimate(const SampleView& x, std::stop_token stop = {});
Estimate estimate(const SampleView& x, const Options& options, std::stop_token stop = {});

// As estimate, and writes the combined channel y(n) = sum_k x(n,k) v(k) into y
// (S values), each sample by the command's formula in both arithmetics.
// Throws as estimate, and Error 1 when y's size is not S or y shares memory
// with x; y may then hold part of the result after a stop.
Estimate combine(const SampleView& x, std::span<std::complex<float>> y, std::stop_token stop = {});
Estimate combine(const SampleView& x, std::span<std::complex<float>> y, const Options& options,
                 std::stop_token stop = {});

// Samples held in a form the library does not read in place (other number
// types, other byte orders), handed over a block at a time: fills `out` with
// samples [first, first + count) of every channel, row-major (count * K
// values, each part already rounded to single precision). Called from several
// threads at once for disjoint ranges, each range once or more. An exception
// it throws, on any thread, ends the call it serves: the other threads stop
// taking blocks and the exception is thrown again to the caller, on the
// calling thread (a combine's y may then hold part of the result, an
// accumulator is left as it was).
using SampleReader =
    std::function<void(std::int64_t first, std::int64_t count, std::complex<float>* out)>;

// estimate and combine on S = `samples` samples of K = `channels` channels
// taken from `read` block by block, with the same results as on a view of
// the same values; the working memory stays O(K^2) plus a few blocks per
// worker.
Estimate estimate(std::int64_t samples, std::int64_t channels, const SampleReader& read,
                  std::stop_token stop = {});
Estimate estimate(std::int64_t samples, std::int64_t channels, const SampleReader& read,
                  const Options& options, std::stop_token stop = {});
Estimate combine(std::int64_t samples, std::int64_t channels, const SampleReader& read,
                 std::span<std::complex<float>> y, std::stop_token stop = {});
Estimate combine(std::int64_t samples, std::int64_t channels, const SampleReader& read,
                 std::span<std::complex<float>> y, const Options& options,
                 std::stop_token stop = {});

// Samples in any of the forms the library reads: a view of complex floats,
// a view of integer pairs, or a reader of S samples of K channels (which
// must outlive every call given this). The calls below take any of them;
// the views convert implicitly.
class Samples {
 public:
  Samples(const SampleView& x) : view_(x), form_(Form::view) {}
  Samples(const PairView& x) : pairs_(x), form_(Form::pairs) {}
  Samples(std::int64_t samples, std::int64_t channels, const SampleReader& read)
      : read_(&read), samples_(samples), channels_(channels), form_(Form::reader) {}

  enum class Form { view, pairs, reader };
  Form form() const noexcept { return form_; }
  const SampleView& view() const noexcept { return view_; }
  const PairView& pairs() const noexcept { return pairs_; }
  const SampleReader& reader() const noexcept { return *read_; }
  std::int64_t samples() const noexcept;
  std::int64_t channels() const noexcept;

 private:
  SampleView view_{};
  PairView pairs_{};
  const SampleReader* read_ = nullptr;
  std::int64_t samples_ = 0, channels_ = 0;
  Form form_;
};

// estimate and combine on any form of samples, as above.
Estimate estimate(const Samples& x, const Options& options = {}, std::stop_token stop = {});
Estimate combine(const Samples& x, std::span<std::complex<float>> y, const Options& options = {},
                 std::stop_token stop = {});

// The estimates of x's samples [i·hop, i·hop + block) for every whole block
// i = 0, 1, ...: each, bit for bit, the estimate of that slice alone. In
// exact arithmetic the samples are read once and the sums follow the
// window, the new samples added and the old ones taken out exactly, so the
// memory is O(K^2) whatever S, block and hop. Throws Error 1 for block < 1,
// hop < 1 or block > S, and as estimate.
std::vector<Estimate> estimate_blocks(const Samples& x, std::int64_t block, std::int64_t hop,
                                      const Options& options = {}, std::stop_token stop = {});

// y(n) = sum_k x(n,k) w(k) for every sample, by the command's per-sample
// formula: apply(x, e.normalized_weights, y) gives combine's y bit for bit.
// Throws Error 1 when w's size is not K or y's not S, 9 on a stop (y then
// holds part of the result).
void apply(const Samples& x, std::span<const std::complex<float>> weights,
           std::span<std::complex<float>> y, std::stop_token stop = {});

// Each whole block of `block` samples combined with its own estimate's
// normalised weights into y (S values), a last partial block with the last
// whole block's: returns the whole blocks' estimates (estimate_blocks with
// hop = block). Throws as estimate_blocks and apply.
std::vector<Estimate> combine_blocks(const Samples& x, std::int64_t block,
                                     std::span<std::complex<float>> y, const Options& options = {},
                                     std::stop_token stop = {});

namespace detail {
struct AccumulatorState;
}

// The exact sums of samples of K channels, to which more samples and other
// accumulators' samples can be added in any order and in any number of
// pieces: estimate() gives what estimate() on all of them at once gives, bit
// for bit. It holds O(K^2) exact sums (about 340 bytes per pair of channels)
// and no samples.
class Accumulator {
 public:
  // Throws Error 1 for K below 1, 4 for K past 2^31 - 1 or no memory.
  explicit Accumulator(std::int64_t channels);
  Accumulator(const Accumulator& other);
  Accumulator(Accumulator&& other) noexcept;
  Accumulator& operator=(const Accumulator& other);
  Accumulator& operator=(Accumulator&& other) noexcept;
  ~Accumulator();

  std::int64_t channels() const noexcept;
  // The samples added so far, at most 2^63 - 1.
  std::int64_t samples() const noexcept;

  // Adds x's samples (any layout; S >= 1). Throws as estimate, and Error 1
  // when x has other than K channels, options ask for the command's
  // arithmetic, or the count would pass 2^63 - 1. After a throw, a stop
  // included, the accumulator is as it was before the call.
  void add(const SampleView& x, const Options& options = {}, std::stop_token stop = {});
  // The same for `samples` samples from a reader, and for any form.
  void add(std::int64_t samples, const SampleReader& read, const Options& options = {},
           std::stop_token stop = {});
  void add(const Samples& x, const Options& options = {}, std::stop_token stop = {});

  // Adds the samples of `other`. Throws Error 1 when its K differs or the
  // count would pass 2^63 - 1, leaving this one as it was.
  void merge(const Accumulator& other);

  // The estimate of every sample added. Throws Error 1 when none was.
  Estimate estimate() const;

  // The exact sums as bytes that from_bytes reads on any platform; the
  // layout is described in the README (version 1).
  std::vector<std::uint8_t> to_bytes() const;
  // Throws Error 1 for bytes that are not a valid accumulator (a wrong
  // length, an unknown version or magic, a field out of range), 4 for no
  // memory.
  static Accumulator from_bytes(std::span<const std::uint8_t> bytes);

 private:
  explicit Accumulator(std::unique_ptr<detail::AccumulatorState> state) noexcept;
  std::unique_ptr<detail::AccumulatorState> state_;
};

// The command's report lines from "signals:" through the combined signal's
// value line, byte for byte: each line ends with CR LF, no empty line before
// the first or after the last. Throws Error 1 when e's sizes do not agree.
std::string report(const Estimate& e);

// What the command's run on a text file gives: the estimate, the command's
// standard output byte for byte (from "reading" through the "writing" line,
// CR LF ended) and the output file it wrote.
struct RunResult {
  Estimate estimate;
  std::string standard_output;
  std::filesystem::path output_path;
};

// The command's whole run on `input` as a call: read_text, combine in the
// command's arithmetic, then write_text to output_path(input). Prints
// nothing. Throws as those do; the Error's path() tells which file failed.
RunResult run(const std::filesystem::path& input, std::stop_token stop = {});

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
