#include "accumulator_binding.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "call_options.h"
#include "errors.h"
#include "numpy_arrays.h"
#include "tarvel/tarvel.h"
#include "worker_call.h"

namespace py = pybind11;

namespace tarvel::python {
namespace {

// A tarvel::Accumulator that Python threads share. Every call runs without
// the GIL, so the sums have a lock of their own; it is taken on the worker
// thread, and waiting for it gives way to Ctrl-C like the work itself.
struct SharedAccumulator {
  explicit SharedAccumulator(tarvel::Accumulator&& sums)
      : sums(std::move(sums)), channels(this->sums.channels()) {}

  tarvel::Accumulator sums;
  const std::int64_t channels;
  std::timed_mutex lock;
};

using Held = std::unique_lock<std::timed_mutex>;

// The accumulator's lock, waited for as long as another thread's call holds
// it unless `stop` is requested (Error 9).
Held held(SharedAccumulator& a, std::stop_token stop) {
  Held lock(a.lock, std::defer_lock);
  while (!lock.try_lock_for(std::chrono::milliseconds(20))) {
    if (stop.stop_requested()) throw tarvel::Error(tarvel::Failure::interrupted, "interrupted");
  }
  return lock;
}

// call(stop) on a worker thread as call_interruptibly runs it, with the
// library's errors raised as Python's.
template <typename Call>
auto computing(Call&& call) {
  try {
    return call_interruptibly(std::forward<Call>(call));
  } catch (const tarvel::Error& error) {
    raise_error(error);
  }
}

// The bytes of a bytes-like object (any buffer, contiguous or not), copied
// while the GIL is held so that no other thread changes them under the
// library.
std::vector<std::uint8_t> bytes_of(py::handle b) {
  if (!PyObject_CheckBuffer(b.ptr())) {
    raise_with_code(PyExc_TypeError, "a bytes-like object is required, not " + type_name(b),
                    Failure::illegal_function_call);
  }
  const std::string bytes =
      py::memoryview(py::reinterpret_borrow<py::object>(b)).attr("tobytes")().cast<std::string>();
  return {bytes.begin(), bytes.end()};
}

std::unique_ptr<SharedAccumulator> from_bytes(py::handle b) {
  const std::vector<std::uint8_t> bytes = bytes_of(b);
  return computing([&](std::stop_token) {
    return std::make_unique<SharedAccumulator>(tarvel::Accumulator::from_bytes(bytes));
  });
}

py::bytes to_bytes(SharedAccumulator& self) {
  const std::vector<std::uint8_t> bytes = computing([&](std::stop_token stop) {
    const Held lock = held(self, stop);
    return self.sums.to_bytes();
  });
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::int64_t sample_count(SharedAccumulator& self) {
  return computing([&](std::stop_token stop) {
    const Held lock = held(self, stop);
    return self.sums.samples();
  });
}

void add(SharedAccumulator& self, py::handle x, py::handle workers, py::handle channel_axis) {
  tarvel::Options options;
  options.workers = workers_of(workers);
  const HeldSamples samples = samples_of(x, channel_axis);
  computing([&](std::stop_token stop) {
    const Held lock = held(self, stop);
    add_samples(self.sums, samples, options, stop);
    return true;
  });
}

void merge(SharedAccumulator& self, SharedAccumulator& other) {
  computing([&](std::stop_token stop) {
    if (&self == &other) {
      // Its own samples once more: merged from a copy, as the sums change.
      const Held lock = held(self, stop);
      const tarvel::Accumulator copy(self.sums);
      self.sums.merge(copy);
      return true;
    }
    // Two locks, always taken in the same order, so that a.merge(b) and
    // b.merge(a) at once cannot wait for each other.
    const bool self_first = std::less<SharedAccumulator*>()(&self, &other);
    const Held first = held(self_first ? self : other, stop);
    const Held second = held(self_first ? other : self, stop);
    self.sums.merge(other.sums);
    return true;
  });
}

tarvel::Estimate estimate(SharedAccumulator& self) {
  return computing([&](std::stop_token stop) {
    const Held lock = held(self, stop);
    return self.sums.estimate();
  });
}

}  // namespace

void bind_accumulator(py::module_& m) {
  py::class_<SharedAccumulator>(m, "Accumulator", R"doc(Accumulator(channels: int)

The exact sums of samples of K channels, added in any number of pieces.

Samples can be added a block at a time, on several machines or threads,
and accumulators merged in any order: `estimate` then gives exactly the
bits that ``tarvel.estimate(x)`` (the exact arithmetic) gives on all the
samples at once. It holds no samples, only O(K**2) exact sums (about 340
bytes per pair of channels), and pickles through `to_bytes`, whose bytes
read back on any platform.

Parameters
----------
channels : int
    K, the number of channels (at least 1).

Raises
------
ValueError
    When channels is below 1 (code 1).
MemoryError
    When channels exceeds 2**31 - 1 or memory runs out (code 4).

Notes
-----
Every method releases the GIL while it works and stops on Ctrl-C, raising
KeyboardInterrupt (code 9). Threads may share an accumulator: their calls
on it take turns.

Examples
--------
>>> import numpy as np, tarvel
>>> x = np.array([[1, 2+1j], [2+1j, 1], [0, 3+2j], [1-1j, 2+1j]], np.complex64)
>>> a = tarvel.Accumulator(2)
>>> a.add(x[:3]); a.add(x[3:])
>>> a
Accumulator(channels=2, samples=4)
>>> a.estimate().covariance.tobytes() == tarvel.estimate(x).covariance.tobytes()
True
)doc")
      .def(py::init([](std::int64_t channels) {
             return computing([&](std::stop_token) {
               return std::make_unique<SharedAccumulator>(tarvel::Accumulator(channels));
             });
           }),
           py::arg("channels"))
      .def_property_readonly(
          "channels", [](const SharedAccumulator& self) { return self.channels; },
          "int: K, the number of channels.")
      .def_property_readonly("samples", &sample_count, "int: The number of samples added so far.")
      .def(
          "add", &add, py::arg("x"), py::kw_only(), py::arg("workers") = py::none(),
          py::arg("channel_axis") = 1,
          R"doc(add(x: ArrayLike | Capture, *, workers: int | None = None, channel_axis: int = 1) -> None

Add samples to the sums.

Parameters
----------
x : array_like, shape (S, K) or (S, K, 2), or a Capture
    S samples (S >= 1) of the accumulator's K channels, taken as by
    `estimate`: read in place when complex64 or integer pairs, else
    converted a block of rows at a time.
workers : int, optional
    The most threads to use, at least 1; None (the default) for every
    processor. The sums are the same for any number.
channel_axis : {1, 0}, optional
    The axis of x that holds the channels, as for `estimate`.

Raises
------
TypeError
    When x does not hold numbers, or workers is not an integer.
ValueError
    When x is not as for `estimate` or has another K than the
    accumulator's, workers is below 1, channel_axis is not 0 or 1, or the
    count of samples would exceed 2**63 - 1 (code 1).
OSError
    When a mapped file of x was cut short since it was mapped (code 17).
KeyboardInterrupt
    On Ctrl-C (code 9); the accumulator is then as it was before the call.
)doc")
      .def("merge", &merge, py::arg("other"), R"doc(merge(other: Accumulator) -> None

Add the samples of another accumulator (itself included) to the sums.

Raises
------
ValueError
    When other has another number of channels, or the count of samples
    would exceed 2**63 - 1 (code 1); this accumulator is then unchanged.
)doc")
      .def("estimate", &estimate, R"doc(estimate() -> Estimate

The estimate of every sample added so far.

Returns
-------
Estimate
    Exactly what ``tarvel.estimate`` gives on all the samples at once.

Raises
------
ValueError
    When no sample was added (code 1).
)doc")
      .def("to_bytes", &to_bytes, R"doc(to_bytes() -> bytes

The exact sums as bytes, for `from_bytes` on any platform.

The layout is versioned, of fixed byte order and widths, so that the bytes
can be stored or sent to another machine and merged there.
)doc")
      .def_static("from_bytes", &from_bytes, py::arg("b"),
                  R"doc(from_bytes(b: bytes | bytearray | memoryview) -> Accumulator

The accumulator whose `to_bytes` gave b.

Parameters
----------
b : bytes-like
    The bytes, as `to_bytes` returned them.

Raises
------
TypeError
    When b is not bytes-like (code 1).
ValueError
    When b is not an accumulator's bytes: a wrong length, an unknown
    version, a field out of range (code 1).
MemoryError
    When memory runs out (code 4).
)doc")
      .def(py::pickle([](SharedAccumulator& self) { return to_bytes(self); },
                      [](const py::bytes& state) { return from_bytes(state); }))
      .def("__repr__", [](SharedAccumulator& self) {
        return "Accumulator(channels=" + std::to_string(self.channels) +
               ", samples=" + std::to_string(sample_count(self)) + ")";
      });
}

}  // namespace tarvel::python
