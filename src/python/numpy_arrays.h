// numpy arrays as the library's sample views and buffers, and the library's
// vectors as numpy arrays.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <complex>
#include <cstdint>
#include <span>
#include <stop_token>
#include <utility>
#include <vector>

#include "tarvel/tarvel.h"

namespace tarvel::python {

// The samples of a Python object and what keeps them readable. Exactly one
// form is set: `view` (complex64 read in place), `pairs` (integer I/Q pairs
// read in place) or `read` (converted a block of rows at a time, each part
// rounded to single as the tool stores samples). Not to be moved once
// library() was called: the library's Samples refers to `read`.
struct HeldSamples {
  pybind11::object holder;
  tarvel::SampleView view{};
  tarvel::PairView pairs{};
  tarvel::SampleReader read;
  std::int64_t samples = 0, channels = 0;

  tarvel::Samples library() const;
};

// The samples of x, in any of the forms the calls take:
//  - an array-like of shape (S, K) of numbers, or of shape (S, K, 2) of
//    integer I/Q pairs (channel_axis 0: (K, S) or (K, S, 2), the strides
//    swapped, not the samples). A native aligned complex64 array whose
//    strides are whole elements is read in place, and so are native int16,
//    int8 and uint8 pairs (uint8 as value - 127.5) whose pair strides are
//    whole pairs; any other through a reader.
//  - a list or tuple of K numpy arrays of S samples each, one per channel:
//    1-D of numbers, or (S, 2) of integer pairs, read through a reader.
//  - an object with __tarvel_samples__() (a capture), which gives one of
//    the above.
// A numpy.memmap, or a view of one, must still have every byte of its file
// it mapped. Raises TypeError (code 1) for what does not hold numbers,
// ValueError (code 1) for another shape, S or K below 1 or channel_axis
// other than 0 or 1 (and other than 1 for a list or a capture), OSError
// (code 17) naming the file of a map whose file was cut short.
HeldSamples samples_of(pybind11::handle x, pybind11::handle channel_axis);

// The library's estimate, combine and Accumulator::add on `samples`, with
// `options`. Call without the GIL. add_samples throws Error 1 when x's K is
// not the accumulator's.
tarvel::Estimate estimate_samples(const HeldSamples& samples, const tarvel::Options& options,
                                  std::stop_token stop);
tarvel::Estimate combine_samples(const HeldSamples& samples, std::span<std::complex<float>> y,
                                 const tarvel::Options& options, std::stop_token stop);
void add_samples(tarvel::Accumulator& sums, const HeldSamples& samples,
                 const tarvel::Options& options, std::stop_token stop);

// The caller's `out` for S combined values: None for a new array, else a
// writable, aligned, contiguous 1-D native complex64 array of length S,
// written in place (a memmap's file checked as samples_of checks it).
// Raises TypeError (code 1) when out is no numpy array and ValueError (code
// 1) for any other mismatch.
pybind11::array out_array(pybind11::handle out, std::int64_t samples);
std::span<std::complex<float>> out_buffer(pybind11::array out, std::int64_t samples);

// Whether the arrays `samples` reads and `out` may share memory.
bool may_overlap(const HeldSamples& samples, const pybind11::array& out);

// A 1-D real array of numbers as contiguous float64, or a 1-D array of
// numbers as contiguous complex64, copied only when it is not one already;
// `name` names the argument in the TypeError or ValueError (code 1).
pybind11::array_t<double> times_of(pybind11::handle t, const char* name);
pybind11::array_t<std::complex<float>> values_of(pybind11::handle y, const char* name);

// A read-only array of `shape` over a vector held by `owner` (an estimate's
// fields), which the array keeps alive.
template <typename T>
pybind11::array_t<T> read_only(const std::vector<T>& values, std::vector<pybind11::ssize_t> shape,
                               pybind11::handle owner) {
  pybind11::array_t<T> a(std::move(shape), values.data(), owner);
  a.attr("setflags")(pybind11::arg("write") = false);
  return a;
}

// Defines on `cls` the read-only array property `name`: the vector `field` of
// the object, of shape `shape(object)`, kept alive by the object.
template <typename Class, typename Object, typename T, typename Shape>
void array_property(Class& cls, const char* name, std::vector<T> Object::*field, Shape shape) {
  cls.def_property_readonly(name, [field, shape](pybind11::object self) {
    const Object& object = self.cast<const Object&>();
    return read_only(object.*field, shape(object), self);
  });
}

// An array of `shape` that takes over the vector's memory, without a copy.
template <typename T>
pybind11::array_t<T> take_vector(std::vector<T>&& values, std::vector<pybind11::ssize_t> shape) {
  auto* owned = new std::vector<T>(std::move(values));
  pybind11::capsule owner(owned, [](void* p) { delete static_cast<std::vector<T>*>(p); });
  return pybind11::array_t<T>(std::move(shape), owned->data(), owner);
}

}  // namespace tarvel::python
