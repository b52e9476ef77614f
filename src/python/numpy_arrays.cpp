#include "numpy_arrays.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>

#include "errors.h"

namespace py = pybind11;

namespace tarvel::python {
namespace {

using Complex = std::complex<float>;
constexpr py::ssize_t kElement = sizeof(Complex);

// An IEEE half-precision value, exactly as a float.
float half_value(std::uint16_t bits) {
  const std::uint32_t sign = static_cast<std::uint32_t>(bits & 0x8000u) << 16;
  const std::uint32_t exponent = (bits >> 10) & 0x1Fu;
  std::uint32_t fraction = bits & 0x3FFu;
  std::uint32_t out = 0;
  if (exponent == 0x1F) {
    out = sign | 0x7F800000u | (fraction << 13);
  } else if (exponent != 0) {
    out = sign | ((exponent + 112) << 23) | (fraction << 13);
  } else if (fraction != 0) {
    // A subnormal half is a normal float: shift its leading one into place.
    int shift = 0;
    while ((fraction & 0x400u) == 0) {
      fraction <<= 1;
      ++shift;
    }
    out = sign | (static_cast<std::uint32_t>(113 - shift) << 23) | ((fraction & 0x3FFu) << 13);
  } else {
    out = sign;
  }
  float value = 0;
  std::memcpy(&value, &out, sizeof value);
  return value;
}

std::string shape_text(const py::array& a) {
  return py::str(py::tuple(a.attr("shape"))).cast<std::string>();
}

std::string dtype_text(const py::array& a) {
  return py::str(a.dtype()).cast<std::string>();
}

bool is_native_complex64(const py::array& a) {
  return a.dtype().equal(py::dtype::of<Complex>()) && a.dtype().attr("isnative").cast<bool>() &&
         (a.flags() & py::detail::npy_api::NPY_ARRAY_ALIGNED_) != 0;
}

// numpy.asarray(x), raising TypeError unless it holds integers, reals or
// complex numbers (`kinds`).
py::array numeric_array(py::handle x, const char* name, const char* kinds) {
  py::array a = py::module_::import("numpy").attr("asarray")(x);
  const char kind = a.dtype().kind();
  if (std::string(kinds).find(kind) == std::string::npos) {
    raise_with_code(PyExc_TypeError,
                    std::string(name) + " must hold " +
                        (std::string(kinds).find('c') != std::string::npos
                             ? "numbers (integer, real or complex)"
                             : "real numbers (integer or floating)") +
                        ", not dtype " + dtype_text(a),
                    1);
  }
  return a;
}

// A half-precision part, read as its 16 bits.
struct Half {
  std::uint16_t bits;
};

// One part stored as T at `bytes`, byte-swapped first when `Swap`, rounded
// once to single.
template <typename T, bool Swap>
float part_value(const unsigned char* bytes) {
  unsigned char b[sizeof(T)];
  for (std::size_t i = 0; i < sizeof(T); ++i) b[i] = Swap ? bytes[sizeof(T) - 1 - i] : bytes[i];
  T value;
  std::memcpy(&value, b, sizeof value);
  if constexpr (std::is_same_v<T, Half>) {
    return half_value(value.bits);
  } else {
    return static_cast<float>(value);
  }
}

using PartReader = float (*)(const unsigned char* bytes);

template <typename T>
PartReader part_reader(bool swap) {
  return swap ? &part_value<T, true> : &part_value<T, false>;
}

// The reader of one part of numpy kind 'i', 'u' or 'f' and `size` bytes,
// chosen once per array rather than per element; none for other sizes.
PartReader part_reader(char kind, int size, bool swap) {
  if (kind == 'f') {
    if (size == 2) return part_reader<Half>(swap);
    if (size == 4) return part_reader<float>(swap);
    if (size == 8) return part_reader<double>(swap);
    return nullptr;
  }
  const bool is_signed = kind == 'i';
  switch (size) {
    case 1:
      return is_signed ? part_reader<std::int8_t>(swap) : part_reader<std::uint8_t>(swap);
    case 2:
      return is_signed ? part_reader<std::int16_t>(swap) : part_reader<std::uint16_t>(swap);
    case 4:
      return is_signed ? part_reader<std::int32_t>(swap) : part_reader<std::uint32_t>(swap);
    case 8:
      return is_signed ? part_reader<std::int64_t>(swap) : part_reader<std::uint64_t>(swap);
    default:
      return nullptr;
  }
}

// A reader of the rows of `a`, whatever its numeric dtype, byte order and
// strides; none for a dtype with no portable layout (long double).
std::optional<tarvel::SampleReader> reader_of(const py::array& a) {
  const char kind = a.dtype().kind();
  const bool is_complex = kind == 'c';
  const int part_size = static_cast<int>(a.itemsize()) / (is_complex ? 2 : 1);
  // Complex halves are no numpy type.
  const PartReader read_part = is_complex && part_size == 2
                                   ? nullptr
                                   : part_reader(is_complex ? 'f' : kind, part_size,
                                                 !a.dtype().attr("isnative").cast<bool>());
  if (read_part == nullptr) return std::nullopt;
  const auto* base = static_cast<const unsigned char*>(a.data());
  const std::int64_t row_step = a.strides(0);
  const std::int64_t column_step = a.strides(1);
  const std::int64_t channels = a.shape(1);
  return [=](std::int64_t first, std::int64_t count, Complex* out) {
    for (std::int64_t n = 0; n < count; ++n) {
      const unsigned char* row = base + (first + n) * row_step;
      for (std::int64_t k = 0; k < channels; ++k) {
        const unsigned char* element = row + k * column_step;
        out[n * channels + k] = {read_part(element),
                                 is_complex ? read_part(element + part_size) : 0.0f};
      }
    }
  };
}

// A stride in whole elements; a dimension of one element has no step.
bool element_stride(const py::array& a, int dim, std::int64_t& stride) {
  if (a.shape(dim) == 1) {
    stride = 0;
    return true;
  }
  stride = a.strides(dim) / kElement;
  return a.strides(dim) % kElement == 0;
}

}  // namespace

Samples samples_of(py::handle x) {
  py::array a = numeric_array(x, "x", "iufc");
  if (a.ndim() != 2) {
    raise_with_code(PyExc_ValueError,
                    "x must have shape (S, K), samples by channels, not " + shape_text(a), 1);
  }
  if (a.shape(0) < 1 || a.shape(1) < 1) {
    raise_with_code(
        PyExc_ValueError,
        "x has shape " + shape_text(a) + ": it needs at least one sample and one channel", 1);
  }
  std::int64_t sample_stride = 0, channel_stride = 0;
  if (!is_native_complex64(a) || !element_stride(a, 0, sample_stride) ||
      !element_stride(a, 1, channel_stride)) {
    // Each part rounded to single once, as the tool stores what it reads; a
    // real value has a zero imaginary part.
    if (std::optional<tarvel::SampleReader> read = reader_of(a)) {
      return {a, {nullptr, a.shape(0), a.shape(1), 0, 0}, std::move(*read)};
    }
    a = a.attr("astype")(py::dtype::of<Complex>(), py::arg("order") = "C");
    sample_stride = a.shape(1);
    channel_stride = 1;
  }
  return {a,
          {static_cast<const Complex*>(a.data()), a.shape(0), a.shape(1), sample_stride,
           channel_stride},
          {}};
}

tarvel::Estimate estimate_samples(const Samples& samples, const tarvel::Options& options,
                                  std::stop_token stop) {
  if (samples.read) {
    return tarvel::estimate(samples.view.samples, samples.view.channels, samples.read, options,
                            stop);
  }
  return tarvel::estimate(samples.view, options, stop);
}

tarvel::Estimate combine_samples(const Samples& samples, std::span<Complex> y,
                                 const tarvel::Options& options, std::stop_token stop) {
  if (samples.read) {
    return tarvel::combine(samples.view.samples, samples.view.channels, samples.read, y, options,
                           stop);
  }
  return tarvel::combine(samples.view, y, options, stop);
}

void add_samples(tarvel::Accumulator& sums, const Samples& samples, const tarvel::Options& options,
                 std::stop_token stop) {
  // The reader writes a row of x's K values where the accumulator takes its
  // own K: they must agree before the first block.
  if (samples.view.channels != sums.channels()) {
    throw tarvel::Error(1, "x has " + std::to_string(samples.view.channels) +
                               " channels, the accumulator " + std::to_string(sums.channels()));
  }
  if (samples.read) {
    sums.add(samples.view.samples, samples.read, options, stop);
  } else {
    sums.add(samples.view, options, stop);
  }
}

std::span<Complex> out_buffer(py::array out, std::int64_t samples) {
  const std::string wanted = "out must be a writable contiguous complex64 array of shape (" +
                             std::to_string(samples) + ",)";
  if (!is_native_complex64(out))
    raise_with_code(PyExc_ValueError, wanted + ", not dtype " + dtype_text(out), 1);
  if (out.ndim() != 1 || out.shape(0) != samples) {
    raise_with_code(PyExc_ValueError, wanted + ", not shape " + shape_text(out), 1);
  }
  if (samples > 1 && out.strides(0) != kElement) {
    raise_with_code(
        PyExc_ValueError,
        wanted + ", not one with a stride of " + std::to_string(out.strides(0)) + " bytes", 1);
  }
  if (!out.writeable()) raise_with_code(PyExc_ValueError, wanted + ", not a read-only one", 1);
  return {static_cast<Complex*>(out.mutable_data()), static_cast<std::size_t>(samples)};
}

bool may_overlap(const Samples& samples, std::span<const Complex> y) {
  const auto y_begin = reinterpret_cast<std::uintptr_t>(y.data());
  const auto y_end = reinterpret_cast<std::uintptr_t>(y.data() + y.size());
  if (samples.read) {
    const py::tuple bounds = py::module_::import("numpy").attr("byte_bounds")(samples.holder);
    return bounds[0].cast<std::uintptr_t>() < y_end && y_begin < bounds[1].cast<std::uintptr_t>();
  }
  const tarvel::SampleView& view = samples.view;
  // The elements the view reaches lie between its lowest and highest offset.
  const std::int64_t last_sample = (view.samples - 1) * view.sample_stride;
  const std::int64_t last_channel = (view.channels - 1) * view.channel_stride;
  const std::int64_t low =
      std::min<std::int64_t>(last_sample, 0) + std::min<std::int64_t>(last_channel, 0);
  const std::int64_t high =
      std::max<std::int64_t>(last_sample, 0) + std::max<std::int64_t>(last_channel, 0);
  const auto begin = reinterpret_cast<std::uintptr_t>(view.data + low);
  const auto end = reinterpret_cast<std::uintptr_t>(view.data + high + 1);
  return begin < y_end && y_begin < end;
}

py::array_t<double> times_of(py::handle t, const char* name) {
  py::array a = numeric_array(t, name, "iuf");
  if (a.ndim() != 1) {
    raise_with_code(PyExc_ValueError,
                    std::string(name) + " must have shape (S,), not " + shape_text(a), 1);
  }
  return py::module_::import("numpy").attr("ascontiguousarray")(a, py::dtype::of<double>());
}

py::array_t<Complex> values_of(py::handle y, const char* name) {
  py::array a = numeric_array(y, name, "iufc");
  if (a.ndim() != 1) {
    raise_with_code(PyExc_ValueError,
                    std::string(name) + " must have shape (S,), not " + shape_text(a), 1);
  }
  return py::module_::import("numpy").attr("ascontiguousarray")(a, py::dtype::of<Complex>());
}

}  // namespace tarvel::python
