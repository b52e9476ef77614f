// Fuzz target of the public library on sample views: the same samples laid
// out row-major, column-major and in one more layout the input chooses (gaps
// between elements, negative strides from a pointer to the last element, or
// a zero stride that repeats one sample or one channel). For every layout,
// estimate and combine must give an Estimate, never an error, and the same
// bits in every field, NaN payloads included; the combined samples must be
// the same bits in every layout, and so must the report text. (The views that
// cannot be read are a table of the library's unit tests.) Only tarvel::Error
// is caught: any other exception ends the process and so is a finding.
//
// Input: byte 0 gives S - 1 (mod 64); byte 1 K - 1 (bits 0-2), the value
// coding (bit 3: raw float bits, 4 bytes each, so that NaN, infinities and
// subnormals occur, or when set one byte each, a multiple of 1/8 that keeps
// the covariance mostly invertible) and whether the chosen layout walks the
// channels backwards (bit 4); byte 2 the chosen layout: channels inside
// (bit 0), the gap after each inner element (bits 1-2) and after each outer
// run (bits 3-4), samples backwards (bit 5), a zero channel (1) or sample (2)
// stride (bits 6-7); byte 3 is unused. Then
// the samples, sample by sample, each channel's real then imaginary part;
// missing values are 0.
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "tarvel/tarvel.h"

namespace tarvel::fuzz {
namespace {

using Complex = std::complex<float>;

constexpr std::int64_t kMaxSamples = 64;
constexpr std::int64_t kMaxChannels = 8;
constexpr std::size_t kControlBytes = 4;

// What fills the gaps of a strided layout: a value no sample is read as,
// unless the view reads outside its elements.
constexpr std::uint32_t kGapBits = 0x7fa5a5a5;  // a signalling NaN

float bits_to_float(std::uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

std::uint32_t float_bits(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// The samples the input gives, x[n * K + k], before any layout.
std::vector<Complex> sample_values(std::span<const std::uint8_t> bytes, std::int64_t samples,
                                   std::int64_t channels, bool raw_bits) {
  const std::size_t parts = static_cast<std::size_t>(2 * samples * channels);
  std::vector<float> values(parts, 0.0f);
  if (raw_bits) {
    for (std::size_t i = 0; i < parts && 4 * i + 3 < bytes.size(); ++i) {
      std::uint32_t bits = 0;
      std::memcpy(&bits, bytes.data() + 4 * i, sizeof bits);
      values[i] = bits_to_float(bits);
    }
  } else {
    for (std::size_t i = 0; i < parts && i < bytes.size(); ++i) {
      values[i] = static_cast<float>(static_cast<std::int8_t>(bytes[i])) / 8.0f;
    }
  }
  std::vector<Complex> x(static_cast<std::size_t>(samples * channels));
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = {values[2 * i], values[2 * i + 1]};
  return x;
}

// Samples in memory with the view that reads them.
struct Laid {
  std::vector<Complex> memory;
  SampleView view;
};

// x (row-major, S x K) laid out with the given element steps: `inner_gap`
// unused elements after each element of the inner dimension, `outer_gap`
// after each run of it, channels inside or outside, and either stride
// negative, the view then starting from the element farthest into memory.
Laid lay_out(const std::vector<Complex>& x, std::int64_t samples, std::int64_t channels,
             bool channels_inside, std::int64_t inner_gap, std::int64_t outer_gap,
             bool samples_backwards, bool channels_backwards) {
  const std::int64_t inner_count = channels_inside ? channels : samples;
  const std::int64_t inner = 1 + inner_gap;
  const std::int64_t outer = inner_count * inner + outer_gap;
  std::int64_t sample_step = channels_inside ? outer : inner;
  std::int64_t channel_step = channels_inside ? inner : outer;
  const std::int64_t size = (samples - 1) * sample_step + (channels - 1) * channel_step + 1;
  std::int64_t origin = 0;
  if (samples_backwards) {
    origin += (samples - 1) * sample_step;
    sample_step = -sample_step;
  }
  if (channels_backwards) {
    origin += (channels - 1) * channel_step;
    channel_step = -channel_step;
  }
  Laid laid;
  laid.memory.assign(static_cast<std::size_t>(size), {bits_to_float(kGapBits), 0.0f});
  for (std::int64_t n = 0; n < samples; ++n) {
    for (std::int64_t k = 0; k < channels; ++k) {
      laid.memory[static_cast<std::size_t>(origin + n * sample_step + k * channel_step)] =
          x[static_cast<std::size_t>(n * channels + k)];
    }
  }
  laid.view = {laid.memory.data() + origin, samples, channels, sample_step, channel_step};
  return laid;
}

bool same_bits_exactly(float a, float b) {
  return float_bits(a) == float_bits(b);
}

void expect_same(float got, float want, const char* what, const char* how) {
  if (!same_bits_exactly(got, want)) {
    fail("%s: %s is %s (0x%08x), against %s (0x%08x)", how, what, hex(got).c_str(), float_bits(got),
         hex(want).c_str(), float_bits(want));
  }
}

void expect_same(std::span<const Complex> got, std::span<const Complex> want, const char* what,
                 const char* how) {
  if (got.size() != want.size()) {
    fail("%s: %s has %zu values, against %zu", how, what, got.size(), want.size());
  }
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (!same_bits_exactly(got[i].real(), want[i].real()) ||
        !same_bits_exactly(got[i].imag(), want[i].imag())) {
      fail("%s: %s[%zu] is %s %s (0x%08x 0x%08x), against %s %s (0x%08x 0x%08x)", how, what, i,
           hex(got[i].real()).c_str(), hex(got[i].imag()).c_str(), float_bits(got[i].real()),
           float_bits(got[i].imag()), hex(want[i].real()).c_str(), hex(want[i].imag()).c_str(),
           float_bits(want[i].real()), float_bits(want[i].imag()));
    }
  }
}

void expect_same(const Estimate& got, const Estimate& want, const char* how) {
  expect_same(got.signals, want.signals, "signals", how);
  if (got.snr_db.size() != want.snr_db.size()) fail("%s: the SNRs differ in number", how);
  for (std::size_t k = 0; k < got.snr_db.size(); ++k) {
    expect_same(got.snr_db[k], want.snr_db[k], "snr_db", how);
  }
  expect_same(got.covariance, want.covariance, "covariance", how);
  expect_same(got.inverse, want.inverse, "inverse", how);
  expect_same(got.weights, want.weights, "weights", how);
  expect_same(got.normalized_weights, want.normalized_weights, "normalized_weights", how);
  if (got.reference != want.reference) {
    fail("%s: reference %lld, against %lld", how, static_cast<long long>(got.reference),
         static_cast<long long>(want.reference));
  }
  expect_same(std::span<const Complex>(&got.combined_signal, 1),
              std::span<const Complex>(&want.combined_signal, 1), "combined_signal", how);
  expect_same(got.combined_snr_db, want.combined_snr_db, "combined_snr_db", how);
}

// The sizes the header promises for K channels.
void expect_shape(const Estimate& e, std::int64_t channels) {
  const auto k = static_cast<std::size_t>(channels);
  if (e.signals.size() != k || e.snr_db.size() != k || e.covariance.size() != k * k ||
      e.inverse.size() != k * k || e.weights.size() != k || e.normalized_weights.size() != k ||
      e.reference < 0 || e.reference >= channels) {
    fail("an estimate of %zu channels has sizes %zu %zu %zu %zu %zu %zu and reference %lld", k,
         e.signals.size(), e.snr_db.size(), e.covariance.size(), e.inverse.size(), e.weights.size(),
         e.normalized_weights.size(), static_cast<long long>(e.reference));
  }
}

// estimate and combine on one view, which must both succeed, and the same
// bits from both.
struct Outcome {
  Estimate estimated;
  std::vector<Complex> combined;
  std::string text;
};

Outcome run_both(const SampleView& x, const Options& options, const char* how) {
  Outcome out;
  out.combined.assign(static_cast<std::size_t>(x.samples), {});
  try {
    out.estimated = estimate(x, options);
    const Estimate combined = combine(x, out.combined, options);
    expect_shape(out.estimated, x.channels);
    expect_same(combined, out.estimated, (std::string(how) + ", combine against estimate").c_str());
    out.text = report(out.estimated);
  } catch (const Error& error) {
    fail("%s: a readable view of S = %lld, K = %lld threw Error %d: %s", how,
         static_cast<long long>(x.samples), static_cast<long long>(x.channels), error.code(),
         error.what());
  }
  return out;
}

}  // namespace
}  // namespace tarvel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvel;
  using namespace tarvel::fuzz;
  const SplitInput<kControlBytes> input(data, size);
  const std::uint8_t* control = input.control;
  const std::int64_t samples = 1 + control[0] % kMaxSamples;
  const std::int64_t channels = 1 + (control[1] & 7);
  static_assert(kMaxChannels == 8, "three bits of byte 1 give K");
  const bool raw_bits = (control[1] & 8) == 0;
  const bool channels_backwards = (control[1] & 16) != 0;
  const Options options{(control[1] & 32) != 0 ? Arithmetic::command : Arithmetic::exact};
  std::vector<Complex> x =
      sample_values({reinterpret_cast<const std::uint8_t*>(input.file.data()), input.file.size()},
                    samples, channels, raw_bits);

  // The chosen layout, and a zero stride only where the samples repeat so.
  const std::uint8_t layout = control[2];
  const int zero_stride = (layout >> 6) & 3;  // 1: channel stride 0, 2: sample stride 0
  if (zero_stride == 1) {
    for (std::int64_t n = 0; n < samples; ++n) {
      for (std::int64_t k = 1; k < channels; ++k) {
        x[static_cast<std::size_t>(n * channels + k)] = x[static_cast<std::size_t>(n * channels)];
      }
    }
  } else if (zero_stride == 2) {
    for (std::int64_t i = channels; i < samples * channels; ++i) {
      x[static_cast<std::size_t>(i)] = x[static_cast<std::size_t>(i % channels)];
    }
  }

  const Laid row_major = lay_out(x, samples, channels, true, 0, 0, false, false);
  const Laid column_major = lay_out(x, samples, channels, false, 0, 0, false, false);
  if (row_major.view.sample_stride != channels || row_major.view.channel_stride != 1 ||
      column_major.view.sample_stride != 1 || column_major.view.channel_stride != samples) {
    fail("the row- and column-major layouts are not the plain ones");
  }
  Laid chosen = lay_out(x, samples, channels, (layout & 1) != 0, (layout >> 1) & 3,
                        (layout >> 3) & 3, (layout & 0x20) != 0, channels_backwards);
  if (zero_stride == 1) {
    std::vector<Complex> first_channel(static_cast<std::size_t>(samples));
    for (std::int64_t n = 0; n < samples; ++n) {
      first_channel[static_cast<std::size_t>(n)] = x[static_cast<std::size_t>(n * channels)];
    }
    chosen =
        lay_out(first_channel, samples, 1, true, (layout >> 1) & 3, 0, (layout & 0x20) != 0, false);
    chosen.view.channels = channels;
    chosen.view.channel_stride = 0;
  } else if (zero_stride == 2) {
    chosen = lay_out(x, 1, channels, true, (layout >> 1) & 3, 0, false, channels_backwards);
    chosen.view.samples = samples;
    chosen.view.sample_stride = 0;
  }

  const Outcome by_rows = run_both(row_major.view, options, "row-major");
  const Outcome by_columns = run_both(column_major.view, options, "column-major");
  const Outcome by_choice = run_both(chosen.view, options, "the chosen layout");
  for (const Outcome* other : {&by_columns, &by_choice}) {
    const char* how = other == &by_columns ? "column-major" : "the chosen layout";
    const std::string against = std::string(how) + " against row-major";
    expect_same(other->estimated, by_rows.estimated, against.c_str());
    expect_same(other->combined, by_rows.combined, "the combined samples", against.c_str());
    if (other->text != by_rows.text) {
      fail("%s: the report\n%s\ndiffers from the row-major one\n%s", how,
           visible(other->text).c_str(), visible(by_rows.text).c_str());
    }
  }

  return 0;
}
