#include "numpy_arrays.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
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

// One channel's values as a reader takes them: the parts of sample n at
// base + n * step (the real part) and, unless the values are real, at
// imaginary_offset bytes from it.
struct Column {
  const unsigned char* base;
  std::int64_t step;
  bool has_imaginary;
  std::int64_t imaginary_offset;
  PartReader read_part;
  // Subtracted from each part: 127.5 for unsigned 8-bit pairs, whose
  // midpoint is zero, else 0. Both exact in single, so is the difference.
  float midpoint;
};

// A reader of rows gathered from one column per channel.
tarvel::SampleReader column_reader(std::vector<Column> columns) {
  return [columns = std::move(columns)](std::int64_t first, std::int64_t count, Complex* out) {
    const auto channels = static_cast<std::int64_t>(columns.size());
    for (std::int64_t k = 0; k < channels; ++k) {
      const Column& c = columns[static_cast<std::size_t>(k)];
      const unsigned char* part = c.base + first * c.step;
      for (std::int64_t n = 0; n < count; ++n, part += c.step) {
        out[n * channels + k] = {
            c.read_part(part) - c.midpoint,
            c.has_imaginary ? c.read_part(part + c.imaginary_offset) - c.midpoint : 0.0f};
      }
    }
  };
}

bool is_native(const py::array& a) {
  return a.dtype().attr("isnative").cast<bool>();
}

bool is_aligned(const py::array& a) {
  return (a.flags() & py::detail::npy_api::NPY_ARRAY_ALIGNED_) != 0;
}

// The part reader of `a`'s dtype: one of its parts for integer pairs and
// real values, half an element for complex ones; none for a dtype with no
// portable layout (long double) or none at all (complex halves).
PartReader part_reader_of(const py::array& a) {
  const char kind = a.dtype().kind();
  if (kind == 'c') {
    const int part_size = static_cast<int>(a.itemsize()) / 2;
    return part_size == 2 ? nullptr : part_reader('f', part_size, !is_native(a));
  }
  return part_reader(kind, static_cast<int>(a.itemsize()), !is_native(a));
}

// The column of values `a` holds at `base`, `step` bytes apart: complex
// elements, real values, or with `pairs` I/Q pairs whose Q lies
// `pair_step` bytes after the I.
Column column_of(const py::array& a, const unsigned char* base, std::int64_t step, bool pairs,
                 std::int64_t pair_step, PartReader read_part) {
  const bool is_complex = a.dtype().kind() == 'c';
  const bool midpoint = pairs && a.dtype().kind() == 'u' && a.itemsize() == 1;
  return {base,
          step,
          is_complex || pairs,
          pairs ? pair_step : a.itemsize() / 2,
          read_part,
          midpoint ? 127.5f : 0.0f};
}

// A stride in whole units of `unit` bytes; a dimension of one has no step.
bool whole_stride(const py::array& a, int dim, py::ssize_t unit, std::int64_t& stride) {
  if (a.shape(dim) == 1) {
    stride = 0;
    return true;
  }
  stride = a.strides(dim) / unit;
  return a.strides(dim) % unit == 0;
}

// The bytes [first, last) an array's elements take, from its data pointer,
// shape and strides (numpy 2 has no numpy.byte_bounds in its namespace).
std::pair<std::uintptr_t, std::uintptr_t> byte_extent(const py::array& a) {
  auto first = reinterpret_cast<std::uintptr_t>(a.data());
  std::uintptr_t last = first + static_cast<std::uintptr_t>(a.itemsize());
  for (py::ssize_t dim = 0; dim < a.ndim(); ++dim) {
    if (a.shape(dim) == 0) return {first, first};
    const auto reach = static_cast<std::uintptr_t>(
        (a.shape(dim) - 1) * (a.strides(dim) < 0 ? -a.strides(dim) : a.strides(dim)));
    if (a.strides(dim) < 0) {
      first -= reach;
    } else {
      last += reach;
    }
  }
  return {first, last};
}

// Raises OSError (code 17) when `a` is, or is a view of, a numpy.memmap
// whose file is now shorter than the bytes it mapped: reading past a mapped
// file's end would end the process with SIGBUS.
void check_mapped_file(const py::array& a) {
  const py::object memmap = py::module_::import("numpy").attr("memmap");
  const py::object mapping = py::module_::import("mmap").attr("mmap");
  for (py::object o = a; py::isinstance<py::array>(o); o = o.attr("base")) {
    const py::object base = o.attr("base");
    // The memmap over the mapping itself knows the file and its bytes.
    if (!py::isinstance(o, memmap) || !py::isinstance(base, mapping)) continue;
    const auto mapped =
        o.attr("offset").cast<std::int64_t>() + o.attr("nbytes").cast<std::int64_t>();
    // The size of the file mapped (fstat of the map's own descriptor), not
    // of whatever now has its name.
    const auto size = base.attr("size")().cast<std::int64_t>();
    const py::object name = o.attr("filename");
    if (size < mapped) {
      // As open() raises it: errno, message, file name.
      py::object error = py::reinterpret_borrow<py::object>(PyExc_OSError)(
          EIO,
          "the file has " + std::to_string(size) + " bytes, fewer than the " +
              std::to_string(mapped) + " it had when it was mapped: it was cut short",
          name);
      error.attr("code") = 17;
      PyErr_SetObject(PyExc_OSError, error.ptr());
      throw py::error_already_set();
    }
    return;
  }
}

int channel_axis_of(py::handle channel_axis) {
  if (!PyBool_Check(channel_axis.ptr()) && PyIndex_Check(channel_axis.ptr())) {
    const auto axis = py::reinterpret_steal<py::object>(PyNumber_Index(channel_axis.ptr()));
    if (!axis) throw py::error_already_set();
    const long value = PyLong_AsLong(axis.ptr());
    if (value == 0 || value == 1) return static_cast<int>(value);
    PyErr_Clear();
  }
  raise_with_code(PyExc_ValueError,
                  "channel_axis must be 0 (channels first) or 1 (samples first), not " +
                      py::repr(channel_axis).cast<std::string>(),
                  1);
}

// The samples of a list or tuple of K numpy arrays, one channel each.
HeldSamples channel_list_samples(const py::sequence& list) {
  HeldSamples held;
  held.channels = static_cast<std::int64_t>(py::len(list));
  py::list kept;
  std::vector<Column> columns;
  for (std::int64_t k = 0; k < held.channels; ++k) {
    py::array a = numeric_array(list[static_cast<std::size_t>(k)], "x", "iufc");
    const std::string which = "channel " + std::to_string(k) + " of x";
    const bool pairs = a.ndim() == 2 && (a.dtype().kind() == 'i' || a.dtype().kind() == 'u');
    if (!(a.ndim() == 1 || (pairs && a.shape(1) == 2))) {
      raise_with_code(PyExc_ValueError,
                      which +
                          " must have shape (S,) of numbers or (S, 2) of integer I/Q pairs, "
                          "not " +
                          shape_text(a),
                      1);
    }
    if (k == 0) held.samples = a.shape(0);
    if (a.shape(0) != held.samples || a.shape(0) < 1) {
      raise_with_code(PyExc_ValueError,
                      which + " has " + std::to_string(a.shape(0)) +
                          " samples: every channel needs the same number, at least 1, and "
                          "channel 0 has " +
                          std::to_string(held.samples),
                      1);
    }
    check_mapped_file(a);
    // Long double values, with no portable layout, are converted whole.
    if (part_reader_of(a) == nullptr) a = a.attr("astype")(py::dtype::of<Complex>());
    columns.push_back(column_of(a, static_cast<const unsigned char*>(a.data()), a.strides(0), pairs,
                                pairs ? a.strides(1) : 0, part_reader_of(a)));
    held.extents.push_back(byte_extent(a));
    kept.append(a);
  }
  held.holder = kept;
  held.read = column_reader(std::move(columns));
  return held;
}

}  // namespace

tarvel::Samples HeldSamples::library() const {
  if (view.data != nullptr) return view;
  if (pairs.data != nullptr) return pairs;
  return {samples, channels, read};
}

HeldSamples samples_of(py::handle x, py::handle channel_axis) {
  const int axis = channel_axis_of(channel_axis);
  py::object given = py::reinterpret_borrow<py::object>(x);
  const bool capture = py::hasattr(given, "__tarvel_samples__");
  if (capture) given = given.attr("__tarvel_samples__")();
  // A capture of one file per channel gives its channels as a list of
  // arrays; any other list is numpy's to read, rows of samples as ever.
  bool arrays = capture && (py::isinstance<py::list>(given) || py::isinstance<py::tuple>(given)) &&
                py::len(given) > 0;
  for (std::size_t k = 0; arrays && k < py::len(given); ++k) {
    arrays = py::isinstance<py::array>(given[py::int_(k)]);
  }
  if (capture && axis != 1) {
    raise_with_code(PyExc_ValueError,
                    "channel_axis must be 1 for a capture, whose channels are its own, not 0", 1);
  }
  if (arrays) return channel_list_samples(py::reinterpret_borrow<py::sequence>(given));

  py::array a = numeric_array(given, "x", "iufc");
  const std::string form = axis == 0 ? "(K, S)" : "(S, K)";
  const char kind = a.dtype().kind();
  const bool integer = kind == 'i' || kind == 'u';
  if (a.ndim() == 3 && integer && a.shape(2) != 2) {
    raise_with_code(PyExc_ValueError,
                    "x of integers with three axes holds I/Q pairs: its last axis must be 2, not " +
                        std::to_string(a.shape(2)) + " (shape " + shape_text(a) + ")",
                    1);
  }
  if (!(a.ndim() == 2 || (a.ndim() == 3 && integer))) {
    raise_with_code(PyExc_ValueError,
                    "x must have shape " + form + ", samples and channels, or " +
                        form.substr(0, form.size() - 1) + ", 2) of integer I/Q pairs, not " +
                        shape_text(a),
                    1);
  }
  if (a.shape(0) < 1 || a.shape(1) < 1) {
    raise_with_code(
        PyExc_ValueError,
        "x has shape " + shape_text(a) + ": it needs at least one sample and one channel", 1);
  }
  check_mapped_file(a);
  // Channels first is the same samples with the strides swapped.
  if (axis == 0) a = a.attr("swapaxes")(0, 1);
  HeldSamples held;
  held.holder = a;
  held.samples = a.shape(0);
  held.channels = a.shape(1);
  held.extents.push_back(byte_extent(a));
  const bool pairs = a.ndim() == 3;
  std::int64_t sample_stride = 0, channel_stride = 0;
  const py::ssize_t unit = pairs ? 2 * a.itemsize() : kElement;
  const bool whole =
      whole_stride(a, 0, unit, sample_stride) && whole_stride(a, 1, unit, channel_stride);
  if (pairs && whole && a.strides(2) == a.itemsize() && is_aligned(a) &&
      (a.itemsize() == 1 || (a.itemsize() == 2 && kind == 'i' && is_native(a)))) {
    const tarvel::PairType type = a.itemsize() == 2 ? tarvel::PairType::int16
                                  : kind == 'i'     ? tarvel::PairType::int8
                                                    : tarvel::PairType::uint8;
    held.pairs = {a.data(), type, held.samples, held.channels, sample_stride, channel_stride};
    return held;
  }
  if (!pairs && whole && is_native_complex64(a)) {
    held.view = {static_cast<const Complex*>(a.data()), held.samples, held.channels, sample_stride,
                 channel_stride};
    return held;
  }
  if (const PartReader read_part = part_reader_of(a)) {
    // Each part rounded to single once, as the tool stores what it reads; a
    // real value has a zero imaginary part.
    std::vector<Column> columns;
    const auto* base = static_cast<const unsigned char*>(a.data());
    for (std::int64_t k = 0; k < held.channels; ++k) {
      columns.push_back(column_of(a, base + k * a.strides(1), a.strides(0), pairs,
                                  pairs ? a.strides(2) : 0, read_part));
    }
    held.read = column_reader(std::move(columns));
    return held;
  }
  // Long double values (never pairs, which are integers), converted whole.
  a = a.attr("astype")(py::dtype::of<Complex>(), py::arg("order") = "C");
  held.holder = a;
  held.view = {static_cast<const Complex*>(a.data()), held.samples, held.channels, held.channels,
               1};
  return held;
}

tarvel::Estimate estimate_samples(const HeldSamples& samples, const tarvel::Options& options,
                                  std::stop_token stop) {
  return tarvel::estimate(samples.library(), options, stop);
}

tarvel::Estimate combine_samples(const HeldSamples& samples, std::span<Complex> y,
                                 const tarvel::Options& options, std::stop_token stop) {
  return tarvel::combine(samples.library(), y, options, stop);
}

void add_samples(tarvel::Accumulator& sums, const HeldSamples& samples,
                 const tarvel::Options& options, std::stop_token stop) {
  // The reader writes a row of x's K values where the accumulator takes its
  // own K: they must agree before the first block.
  if (samples.channels != sums.channels()) {
    throw tarvel::Error(tarvel::Failure::illegal_function_call, "x has " + std::to_string(samples.channels) +
                               " channels, the accumulator " + std::to_string(sums.channels()));
  }
  sums.add(samples.library(), options, stop);
}

py::array out_array(py::handle out, std::int64_t samples) {
  if (out.is_none()) return py::array_t<Complex>(samples);
  if (!py::isinstance<py::array>(out)) {
    raise_with_code(PyExc_TypeError,
                    "out must be a numpy.ndarray (or None), not " +
                        py::str(py::type::handle_of(out).attr("__name__")).cast<std::string>(),
                    1);
  }
  py::array a = py::reinterpret_borrow<py::array>(out);
  out_buffer(a, samples);
  check_mapped_file(a);
  return a;
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

bool may_overlap(const HeldSamples& samples, std::span<const Complex> y) {
  const auto y_begin = reinterpret_cast<std::uintptr_t>(y.data());
  const auto y_end = reinterpret_cast<std::uintptr_t>(y.data() + y.size());
  return std::any_of(samples.extents.begin(), samples.extents.end(), [&](const auto& extent) {
    return extent.first < y_end && y_begin < extent.second;
  });
}

namespace {

// A 1-D array of the `kinds` of numbers as contiguous T, copied only when it
// is not one already.
template <typename T>
py::array_t<T> contiguous_vector(py::handle v, const char* name, const char* kinds) {
  py::array a = numeric_array(v, name, kinds);
  if (a.ndim() != 1) {
    raise_with_code(PyExc_ValueError,
                    std::string(name) + " must have shape (S,), not " + shape_text(a), 1);
  }
  return py::module_::import("numpy").attr("ascontiguousarray")(a, py::dtype::of<T>());
}

}  // namespace

py::array_t<double> times_of(py::handle t, const char* name) {
  return contiguous_vector<double>(t, name, "iuf");
}

py::array_t<Complex> values_of(py::handle y, const char* name) {
  return contiguous_vector<Complex>(y, name, "iufc");
}

}  // namespace tarvel::python
