#include "arrays.h"

#include <algorithm>
#include <string>

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
                    1);
  }
  return a;
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
    // Each part rounded to single once, as the tool stores what it reads;
    // a real value has a zero imaginary part.
    a = a.attr("astype")(py::dtype::of<Complex>(), py::arg("order") = "C");
    sample_stride = a.shape(1);
    channel_stride = 1;
  }
  return {a,
          {static_cast<const Complex*>(a.data()), a.shape(0), a.shape(1), sample_stride,
           channel_stride}};
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

bool may_overlap(const tarvel::SampleView& view, std::span<const Complex> y) {
  // The elements the view reaches lie between its lowest and highest offset.
  const std::int64_t last_sample = (view.samples - 1) * view.sample_stride;
  const std::int64_t last_channel = (view.channels - 1) * view.channel_stride;
  const std::int64_t low =
      std::min<std::int64_t>(last_sample, 0) + std::min<std::int64_t>(last_channel, 0);
  const std::int64_t high =
      std::max<std::int64_t>(last_sample, 0) + std::max<std::int64_t>(last_channel, 0);
  const auto begin = reinterpret_cast<std::uintptr_t>(view.data + low);
  const auto end = reinterpret_cast<std::uintptr_t>(view.data + high + 1);
  const auto y_begin = reinterpret_cast<std::uintptr_t>(y.data());
  const auto y_end = reinterpret_cast<std::uintptr_t>(y.data() + y.size());
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
