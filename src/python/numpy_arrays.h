// numpy arrays as the library's sample views and buffers, and the library's
// vectors as numpy arrays.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <complex>
#include <cstdint>
#include <span>
#include <stop_token>
#include <vector>

#include "tarvel/tarvel.h"

namespace tarvel::python {

// The samples of an array-like x of shape (S, K). A native, aligned
// complex64 array whose strides are whole elements is read in place through
// `view`; any other array of integers, reals or complex numbers, in either
// byte order and with any strides, through `read`, which converts a block of
// rows at a time, rounding each part to single as the tool stores samples
// (`view` then has S and K but no data). Long double arrays, which have no
// portable layout, are converted whole first. `holder` keeps the array read.
// Raises TypeError (code 1) for a dtype that is not numeric and ValueError
// (code 1) for a shape other than (S, K) with S, K >= 1.
struct Samples {
  pybind11::array holder;
  tarvel::SampleView view;
  tarvel::SampleReader read;
};
Samples samples_of(pybind11::handle x);

// The library's estimate, combine and Accumulator::add on `samples`, in
// place or through its reader, with `options`. Call without the GIL.
// add_samples throws Error 1 when x's K is not the accumulator's.
tarvel::Estimate estimate_samples(const Samples& samples, const tarvel::Options& options,
                                  std::stop_token stop);
tarvel::Estimate combine_samples(const Samples& samples, std::span<std::complex<float>> y,
                                 const tarvel::Options& options, std::stop_token stop);
void add_samples(tarvel::Accumulator& sums, const Samples& samples, const tarvel::Options& options,
                 std::stop_token stop);

// The caller's `out` for S combined values: a writable, aligned, contiguous
// 1-D native complex64 array of length S, written in place. Raises TypeError
// (code 1) when out is no numpy array and ValueError (code 1) for any other
// mismatch.
std::span<std::complex<float>> out_buffer(pybind11::array out, std::int64_t samples);

// Whether the bytes `samples` reads and those of `y` may overlap.
bool may_overlap(const Samples& samples, std::span<const std::complex<float>> y);

// A 1-D real array of numbers as contiguous float64, or a 1-D array of
// numbers as contiguous complex64, copied only when it is not one already;
// `name` names the argument in the TypeError or ValueError (code 1).
pybind11::array_t<double> times_of(pybind11::handle t, const char* name);
pybind11::array_t<std::complex<float>> values_of(pybind11::handle y, const char* name);

// An array of `shape` that takes over the vector's memory, without a copy.
template <typename T>
pybind11::array_t<T> take_vector(std::vector<T>&& values, std::vector<pybind11::ssize_t> shape) {
  auto* owned = new std::vector<T>(std::move(values));
  pybind11::capsule owner(owned, [](void* p) { delete static_cast<std::vector<T>*>(p); });
  return pybind11::array_t<T>(std::move(shape), owned->data(), owner);
}

}  // namespace tarvel::python
