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
                    Failure::illegal_function_call);
  }
  return a;
}

// Where a reader's rows come from: an array of shape (S, K) or (S, K, 2)
// of every channel (`channel` -1), or of shape (S,) or (S, 2) of one.
// Borrowed: the HeldSamples' holder keeps the array alive, and a reader,
// which the library copies on threads without the GIL, holds no reference.
struct CastSource {
  PyObject* array;
  std::int64_t channel;
  bool pairs;
  // Unsigned 8-bit pairs, whose midpoint 127.5 is zero: each part less it,
  // both exact in single, and so is the difference.
  bool midpoint;
};

// A reader of rows cast by numpy itself, a block at a time, straight into
// the library's block: each part rounded once to single, as numpy's casts
// round, a real value with a zero imaginary part. It takes the GIL for each
// block; numpy lets it go while it copies.
tarvel::SampleReader cast_reader(std::vector<CastSource> sources, std::int64_t channels) {
  return [sources = std::move(sources), channels](std::int64_t first, std::int64_t count,
                                                  Complex* out) {
    py::gil_scoped_acquire gil;
    const py::module_ numpy = py::module_::import("numpy");
    // The block's memory is the library's: the arrays over it own nothing.
    const py::capsule unowned(out, [](void*) {});
    const py::array rows(py::dtype::of<Complex>(), {count, channels},
                         {channels * kElement, kElement}, out, unowned);
    const py::array parts(py::dtype::of<float>(), {count, channels, py::ssize_t{2}},
                          {channels * kElement, kElement, kElement / 2}, out, unowned);
    const py::slice block(first, first + count, 1);
    for (const CastSource& source : sources) {
      const py::object from = py::reinterpret_borrow<py::object>(source.array)[block];
      py::object to = source.pairs ? py::object(parts) : py::object(rows);
      if (source.channel >= 0) to = to[py::make_tuple(py::slice(0, count, 1), source.channel)];
      if (source.midpoint) {
        numpy.attr("subtract")(from, py::float_(127.5), py::arg("out") = to,
                               py::arg("dtype") = py::dtype::of<float>());
      } else {
        numpy.attr("copyto")(to, from, py::arg("casting") = "unsafe");
      }
    }
  };
}

bool is_uint8(const py::array& a) {
  return a.dtype().kind() == 'u' && a.itemsize() == 1;
}

bool is_native(const py::array& a) {
  return a.dtype().attr("isnative").cast<bool>();
}

bool is_aligned(const py::array& a) {
  return (a.flags() & py::detail::npy_api::NPY_ARRAY_ALIGNED_) != 0;
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
      error.attr("code") = static_cast<int>(Failure::end_of_file);
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
                  Failure::illegal_function_call);
}

// The samples of a list or tuple of K numpy arrays, one channel each.
HeldSamples channel_list_samples(const py::sequence& list) {
  HeldSamples held;
  held.channels = static_cast<std::int64_t>(py::len(list));
  py::list kept;
  std::vector<CastSource> sources;
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
                      Failure::illegal_function_call);
    }
    if (k == 0) held.samples = a.shape(0);
    if (a.shape(0) != held.samples || a.shape(0) < 1) {
      raise_with_code(PyExc_ValueError,
                      which + " has " + std::to_string(a.shape(0)) +
                          " samples: every channel needs the same number, at least 1, and "
                          "channel 0 has " +
                          std::to_string(held.samples),
                      Failure::illegal_function_call);
    }
    check_mapped_file(a);
    sources.push_back({a.ptr(), k, pairs, pairs && is_uint8(a)});
    kept.append(a);
  }
  held.holder = kept;
  held.read = cast_reader(std::move(sources), held.channels);
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
                    "channel_axis must be 1 for a capture, whose channels are its own, not 0",
                    Failure::illegal_function_call);
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
                    Failure::illegal_function_call);
  }
  if (!(a.ndim() == 2 || (a.ndim() == 3 && integer))) {
    raise_with_code(PyExc_ValueError,
                    "x must have shape " + form + ", samples and channels, or " +
                        form.substr(0, form.size() - 1) + ", 2) of integer I/Q pairs, not " +
                        shape_text(a),
                    Failure::illegal_function_call);
  }
  if (a.shape(0) < 1 || a.shape(1) < 1) {
    raise_with_code(
        PyExc_ValueError,
        "x has shape " + shape_text(a) + ": it needs at least one sample and one channel",
        Failure::illegal_function_call);
  }
  check_mapped_file(a);
  // Channels first is the same samples with the strides swapped.
  if (axis == 0) a = a.attr("swapaxes")(0, 1);
  HeldSamples held;
  held.holder = a;
  held.samples = a.shape(0);
  held.channels = a.shape(1);
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
  held.read = cast_reader({{a.ptr(), -1, pairs, pairs && is_uint8(a)}}, held.channels);
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
    throw tarvel::Error(tarvel::Failure::illegal_function_call,
                        "x has " + std::to_string(samples.channels) +
                            " channels, the accumulator " + std::to_string(sums.channels()));
  }
  sums.add(samples.library(), options, stop);
}

py::array out_array(py::handle out, std::int64_t samples) {
  if (out.is_none()) return py::array_t<Complex>(samples);
  if (!py::isinstance<py::array>(out)) {
    raise_with_code(PyExc_TypeError, "out must be a numpy.ndarray (or None), not " + type_name(out),
                    Failure::illegal_function_call);
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
    raise_with_code(PyExc_ValueError, wanted + ", not dtype " + dtype_text(out),
                    Failure::illegal_function_call);
  if (out.ndim() != 1 || out.shape(0) != samples) {
    raise_with_code(PyExc_ValueError, wanted + ", not shape " + shape_text(out),
                    Failure::illegal_function_call);
  }
  if (samples > 1 && out.strides(0) != kElement) {
    raise_with_code(
        PyExc_ValueError,
        wanted + ", not one with a stride of " + std::to_string(out.strides(0)) + " bytes",
        Failure::illegal_function_call);
  }
  if (!out.writeable())
    raise_with_code(PyExc_ValueError, wanted + ", not a read-only one",
                    Failure::illegal_function_call);
  return {static_cast<Complex*>(out.mutable_data()), static_cast<std::size_t>(samples)};
}

bool may_overlap(const HeldSamples& samples, const py::array& out) {
  const py::object may_share_memory = py::module_::import("numpy").attr("may_share_memory");
  const py::list arrays = py::isinstance<py::list>(samples.holder)
                              ? py::reinterpret_borrow<py::list>(samples.holder)
                              : py::make_tuple(samples.holder).cast<py::list>();
  for (const py::handle array : arrays) {
    if (may_share_memory(array, out).cast<bool>()) return true;
  }
  return false;
}

namespace {

// A 1-D array of the `kinds` of numbers as contiguous T, copied only when it
// is not one already.
template <typename T>
py::array_t<T> contiguous_vector(py::handle v, const char* name, const char* kinds) {
  py::array a = numeric_array(v, name, kinds);
  if (a.ndim() != 1) {
    raise_with_code(PyExc_ValueError,
                    std::string(name) + " must have shape (S,), not " + shape_text(a),
                    Failure::illegal_function_call);
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
