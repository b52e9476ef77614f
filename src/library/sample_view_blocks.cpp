#include "library/sample_view_blocks.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "library/failure.h"
#include "library/stoppable_blocks.h"
#include "runtime/arrays.h"
#include "runtime/helper_thread.h"

namespace tarvel::library {
namespace {

// A block's copy: about 256 KiB of sample parts, which stays in the cache
// between the copy and the kernel.
constexpr std::int64_t kBlockParts = std::int64_t{1} << 15;
// A block's covariance work, in channel pairs: a few milliseconds, so a stop
// is seen soon even with many channels.
constexpr std::int64_t kBlockPairs = std::int64_t{1} << 22;

// Adds |stride| * steps to extent; false when anything overflows.
bool add_extent(std::int64_t stride, std::int64_t steps, std::int64_t& extent) {
  if (stride == std::numeric_limits<std::int64_t>::min()) return false;
  std::int64_t span = 0;
  return !__builtin_mul_overflow(std::llabs(stride), steps, &span) &&
         !__builtin_add_overflow(extent, span, &extent);
}

}  // namespace

void check_counts(std::int64_t samples, std::int64_t channels, Arithmetic arithmetic) {
  if (samples < 1 || channels < 1) {
    fail(Failure::illegal_function_call, "the samples need at least one sample and one channel");
  }
  if (channels > kMaxCount || (arithmetic == Arithmetic::command && samples > kMaxCount)) {
    fail(Failure::out_of_memory, "the samples have more samples or channels than 2147483647");
  }
}

int workers_of(const Options& options) {
  return options.workers == 0 ? worker_count() : std::min(options.workers, kMaxWorkers);
}

void check_options(const Options& options) {
  if (options.workers < 0)
    fail(Failure::illegal_function_call, "the workers must be 0 (every processor) or more");
  if (!(options.loading >= 0))
    fail(Failure::illegal_function_call, "the diagonal loading must be 0 or more, not NaN");
}

namespace {

std::size_t pair_bytes(PairType type) {
  return type == PairType::int16 ? 2 * sizeof(std::int16_t) : 2 * sizeof(std::int8_t);
}

// Throws unless every element of S x K at the strides lies within the
// address range from data, in units of `element` bytes.
void check_extent(const void* data, std::int64_t samples, std::int64_t channels,
                  std::int64_t sample_stride, std::int64_t channel_stride, std::size_t element) {
  if (data == nullptr) fail(Failure::illegal_function_call, "a sample view has no data");
  // The farthest element from data, in bytes, must be an offset a pointer
  // can take.
  std::int64_t extent = 0;
  if (!add_extent(sample_stride, samples - 1, extent) ||
      !add_extent(channel_stride, channels - 1, extent) ||
      extent > std::numeric_limits<std::ptrdiff_t>::max() / static_cast<std::int64_t>(element)) {
    fail(Failure::illegal_function_call, "a sample view's strides reach past the address range");
  }
}

}  // namespace

void check_samples(const Samples& x, Arithmetic arithmetic) {
  check_counts(x.samples(), x.channels(), arithmetic);
  if (x.form() == Samples::Form::view) {
    const SampleView& v = x.view();
    check_extent(v.data, v.samples, v.channels, v.sample_stride, v.channel_stride,
                 sizeof(std::complex<float>));
  } else if (x.form() == Samples::Form::pairs) {
    const PairView& v = x.pairs();
    if (v.type != PairType::int16 && v.type != PairType::int8 && v.type != PairType::uint8) {
      fail(Failure::illegal_function_call, "a pair view's type is not int16, int8 or uint8");
    }
    check_extent(v.data, v.samples, v.channels, v.sample_stride, v.channel_stride,
                 pair_bytes(v.type));
  }
}

namespace {

// The bytes [first, last) that S x K elements of `element` bytes at the
// strides take from data (which check_extent has found in the address range).
std::pair<std::uintptr_t, std::uintptr_t> bytes_of(const void* data, std::int64_t samples,
                                                   std::int64_t channels, std::int64_t ss,
                                                   std::int64_t cs, std::size_t element) {
  const std::int64_t low = std::min<std::int64_t>(0, ss * (samples - 1)) +
                           std::min<std::int64_t>(0, cs * (channels - 1));
  const std::int64_t high = std::max<std::int64_t>(0, ss * (samples - 1)) +
                            std::max<std::int64_t>(0, cs * (channels - 1));
  const auto base = reinterpret_cast<std::uintptr_t>(data);
  const auto size = static_cast<std::int64_t>(element);
  return {base + static_cast<std::uintptr_t>(low * size),
          base + static_cast<std::uintptr_t>((high + 1) * size)};
}

}  // namespace

void check_apart(const Samples& x, std::span<const std::complex<float>> y) {
  if (y.empty() || x.form() == Samples::Form::reader) return;
  const auto [first, last] =
      x.form() == Samples::Form::view
          ? bytes_of(x.view().data, x.samples(), x.channels(), x.view().sample_stride,
                     x.view().channel_stride, sizeof(std::complex<float>))
          : bytes_of(x.pairs().data, x.samples(), x.channels(), x.pairs().sample_stride,
                     x.pairs().channel_stride, pair_bytes(x.pairs().type));
  const auto y_first = reinterpret_cast<std::uintptr_t>(y.data());
  const std::uintptr_t y_last = y_first + y.size_bytes();
  if (y_first < last && first < y_last) {
    fail(Failure::illegal_function_call,
         "the combined signal's room shares memory with the samples, which it would overwrite");
  }
}

SampleViewBlocks::SampleViewBlocks(const Samples& x, int workers, std::stop_token stop)
    : x_(x), count_(x.samples()), workers_(workers), stop_(std::move(stop)) {}

SampleViewBlocks::SampleViewBlocks(const Samples& x, int workers, std::stop_token stop,
                                   std::int64_t first, std::int64_t count)
    : x_(x), first_(first), count_(count), workers_(workers), stop_(std::move(stop)) {}

std::int64_t SampleViewBlocks::block_samples() const {
  const std::int64_t k = x_.channels();
  std::int64_t count = kBlockParts / k;
  if (k <= kBlockPairs / k)
    count = std::min(count, kBlockPairs / (k * k));
  else
    count = 1;
  return std::max<std::int64_t>(count, 1);
}

namespace {

// Samples from `base` (sample n of channel k at base[n·ss + k·cs]) into xr
// and xi, each sample's channels adjacent.
void split_parts(const std::complex<float>* base, std::int64_t ss, std::int64_t cs,
                 std::int64_t count, std::int64_t k_count, float* xr, float* xi) {
  // The loop that walks the caller's memory in the smaller steps goes inside.
  if (std::llabs(cs) <= std::llabs(ss)) {
    for (std::int64_t n = 0; n < count; ++n) {
      const std::complex<float>* sample = base + n * ss;
      for (std::int64_t k = 0; k < k_count; ++k) {
        const std::complex<float> value = sample[k * cs];
        xr[n * k_count + k] = value.real();
        xi[n * k_count + k] = value.imag();
      }
    }
  } else {
    for (std::int64_t k = 0; k < k_count; ++k) {
      const std::complex<float>* channel = base + k * cs;
      for (std::int64_t n = 0; n < count; ++n) {
        const std::complex<float> value = channel[n * ss];
        xr[n * k_count + k] = value.real();
        xi[n * k_count + k] = value.imag();
      }
    }
  }
}

// Pairs from `base` (sample n of channel k at pair n·ss + k·cs) into xr
// and xi, each value as a float, exactly; uint8 ones less 127.5.
template <typename T>
void split_pairs(const T* base, std::int64_t ss, std::int64_t cs, std::int64_t count,
                 std::int64_t k_count, float* xr, float* xi) {
  constexpr float kOffset = std::is_same_v<T, std::uint8_t> ? 127.5f : 0.0f;
  for (std::int64_t n = 0; n < count; ++n) {
    const T* sample = base + 2 * n * ss;
    for (std::int64_t k = 0; k < k_count; ++k) {
      xr[n * k_count + k] = static_cast<float>(sample[2 * k * cs]) - kOffset;
      xi[n * k_count + k] = static_cast<float>(sample[2 * k * cs + 1]) - kOffset;
    }
  }
}

}  // namespace

std::size_t SampleViewBlocks::room_per_sample() const {
  const auto k_count = static_cast<std::size_t>(x_.channels());
  // A reader's samples arrive interleaved beside the parts they are split
  // into.
  return 2 * k_count * sizeof(float) +
         (x_.form() == Samples::Form::reader ? k_count * sizeof(std::complex<float>) : 0);
}

SampleBlock SampleViewBlocks::fill_block(std::int64_t first, std::int64_t count, char* room) const {
  const std::int64_t k_count = x_.channels();
  auto* xr = reinterpret_cast<float*>(room);
  float* xi = xr + count * k_count;
  first += first_;
  switch (x_.form()) {
    case Samples::Form::reader: {
      auto* read = reinterpret_cast<std::complex<float>*>(xi + count * k_count);
      x_.reader()(first, count, read);
      split_parts(read, k_count, 1, count, k_count, xr, xi);
      break;
    }
    case Samples::Form::view: {
      const SampleView& v = x_.view();
      split_parts(v.data + first * v.sample_stride, v.sample_stride, v.channel_stride, count,
                  k_count, xr, xi);
      break;
    }
    case Samples::Form::pairs: {
      const PairView& v = x_.pairs();
      const std::int64_t offset = 2 * first * v.sample_stride;
      if (v.type == PairType::int16) {
        split_pairs(static_cast<const std::int16_t*>(v.data) + offset, v.sample_stride,
                    v.channel_stride, count, k_count, xr, xi);
      } else if (v.type == PairType::int8) {
        split_pairs(static_cast<const std::int8_t*>(v.data) + offset, v.sample_stride,
                    v.channel_stride, count, k_count, xr, xi);
      } else {
        split_pairs(static_cast<const std::uint8_t*>(v.data) + offset, v.sample_stride,
                    v.channel_stride, count, k_count, xr, xi);
      }
      break;
    }
  }
  return {xr, xi, count};
}

bool SampleViewBlocks::for_each_block(std::int64_t first, std::int64_t count,
                                      const SampleBlockUse& use) const {
  const std::int64_t k_count = x_.channels();
  const std::int64_t block = block_samples();
  const std::size_t sample_bytes = room_per_sample();
  return make_and_use_blocks((count + block - 1) / block, block, sample_bytes, workers_, stop_,
                             [&](std::int64_t b, char* out) {
                               const std::int64_t start = first + b * block;
                               const std::int64_t n = std::min(block, first + count - start);
                               fill_block(start, n, out);
                               return n;
                             },
                             [&](std::int64_t, const char* bytes, std::int64_t n) {
                               const auto* xr = reinterpret_cast<const float*>(bytes);
                               use({xr, xr + n * k_count, n});
                             });
}

}  // namespace tarvel::library

namespace tarvel {

std::int64_t Samples::samples() const noexcept {
  switch (form_) {
    case Form::view:
      return view_.samples;
    case Form::pairs:
      return pairs_.samples;
    case Form::reader:
      break;
  }
  return samples_;
}

std::int64_t Samples::channels() const noexcept {
  switch (form_) {
    case Form::view:
      return view_.channels;
    case Form::pairs:
      return pairs_.channels;
    case Form::reader:
      break;
  }
  return channels_;
}

}  // namespace tarvel
