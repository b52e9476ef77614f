// A call that writes S combined values into the caller's `out` array.
#pragma once

#include <pybind11/numpy.h>

#include <algorithm>
#include <complex>
#include <span>
#include <stop_token>
#include <vector>

#include "errors.h"
#include "numpy_arrays.h"
#include "worker_call.h"

namespace tarvel::python {

// Runs fill(y, stop) on a worker thread as call_interruptibly does, y the
// values of `out` (checked by out_buffer), and raises the library's errors as
// Python's. The values are written while the samples are still read: an out
// that shares their memory is filled through a buffer apart and gets them
// only at the end, as numpy does.
template <typename Fill>
auto into_out(const HeldSamples& samples, const pybind11::array& out, Fill&& fill) {
  const std::span<std::complex<float>> y = out_buffer(out, samples.samples);
  std::vector<std::complex<float>> apart;
  if (may_overlap(samples, out)) apart.resize(y.size());
  const std::span<std::complex<float>> target =
      apart.empty() ? y : std::span<std::complex<float>>(apart);
  try {
    auto result =
        call_interruptibly([&](std::stop_token stop) { return fill(target, std::move(stop)); });
    std::copy(apart.begin(), apart.end(), y.begin());
    return result;
  } catch (const tarvel::Error& error) {
    raise_error(error);
  }
}

}  // namespace tarvel::python
