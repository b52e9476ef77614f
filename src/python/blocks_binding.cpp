#include "blocks_binding.h"

#include <pybind11/complex.h>
#include <pybind11/numpy.h>

#include <algorithm>
#include <complex>
#include <cstdint>
#include <span>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "call_options.h"
#include "errors.h"
#include "into_out.h"
#include "numpy_arrays.h"
#include "tarvel/tarvel.h"
#include "worker_call.h"

namespace py = pybind11;

namespace tarvel::python {
namespace {

using Complex = std::complex<float>;

// The estimates of B blocks of K channels, each field stacked block by
// block: what numpy users index and plot, in one array per field rather
// than B objects.
struct BlockEstimates {
  std::int64_t blocks = 0, channels = 0, block = 0, hop = 0;
  std::vector<std::int64_t> starts;                  // B
  std::vector<Complex> signals;                      // B x K
  std::vector<float> snr_db;                         // B x K
  std::vector<Complex> covariance, inverse;          // B x K x K
  std::vector<Complex> weights, normalized_weights;  // B x K
  std::vector<std::int64_t> reference;               // B
  std::vector<Complex> combined_signal;              // B
  std::vector<float> combined_snr_db;                // B

  // Block i's estimate, as estimate() on its samples alone gives it.
  tarvel::Estimate row(std::int64_t i) const {
    const auto k = static_cast<std::size_t>(channels);
    const auto at = static_cast<std::size_t>(i);
    auto part = [&](const auto& v, std::size_t n) {
      using Value = typename std::decay_t<decltype(v)>::value_type;
      return std::vector<Value>(v.begin() + static_cast<std::ptrdiff_t>(at * n),
                                v.begin() + static_cast<std::ptrdiff_t>((at + 1) * n));
    };
    return {part(signals, k),     part(snr_db, k),     part(covariance, k * k),
            part(inverse, k * k), part(weights, k),    part(normalized_weights, k),
            reference[at],        combined_signal[at], combined_snr_db[at]};
  }
};

// The library's list of estimates, stacked (and then let go of, a block's
// estimate at a time, so that the two are never both whole for long).
BlockEstimates stacked(std::vector<tarvel::Estimate>&& list, std::int64_t channels,
                       std::int64_t block, std::int64_t hop) {
  BlockEstimates out;
  out.blocks = static_cast<std::int64_t>(list.size());
  out.channels = channels;
  out.block = block;
  out.hop = hop;
  const auto b = list.size();
  const auto k = static_cast<std::size_t>(channels);
  out.starts.reserve(b);
  out.signals.reserve(b * k);
  out.snr_db.reserve(b * k);
  out.covariance.reserve(b * k * k);
  out.inverse.reserve(b * k * k);
  out.weights.reserve(b * k);
  out.normalized_weights.reserve(b * k);
  out.reference.reserve(b);
  out.combined_signal.reserve(b);
  out.combined_snr_db.reserve(b);
  auto append = [](auto& to, const auto& from) { to.insert(to.end(), from.begin(), from.end()); };
  for (std::size_t i = 0; i < b; ++i) {
    tarvel::Estimate e = std::move(list[i]);
    out.starts.push_back(static_cast<std::int64_t>(i) * hop);
    append(out.signals, e.signals);
    append(out.snr_db, e.snr_db);
    append(out.covariance, e.covariance);
    append(out.inverse, e.inverse);
    append(out.weights, e.weights);
    append(out.normalized_weights, e.normalized_weights);
    out.reference.push_back(e.reference);
    out.combined_signal.push_back(e.combined_signal);
    out.combined_snr_db.push_back(e.combined_snr_db);
  }
  list.clear();
  return out;
}

// The block's samples, refused past S with the names the caller used.
std::int64_t block_of(py::handle block, const HeldSamples& samples) {
  const std::int64_t count = count_of(block, "block");
  if (count > samples.samples) {
    raise_with_code(PyExc_ValueError,
                    "block must be at most the " + std::to_string(samples.samples) +
                        " samples of x, not " + py::repr(block).cast<std::string>(),
                    Failure::illegal_function_call);
  }
  return count;
}

// w as K contiguous complex64 values: any array-like whose dtype numpy
// casts to complex64 safely (its values kept exactly).
std::vector<Complex> weights_of(py::handle w, std::int64_t channels) {
  py::module_ numpy = py::module_::import("numpy");
  py::array a = numpy.attr("asarray")(w);
  const py::dtype complex64 = py::dtype::of<Complex>();
  if (std::string("iufc").find(a.dtype().kind()) == std::string::npos ||
      !numpy.attr("can_cast")(a.dtype(), complex64).cast<bool>()) {
    raise_with_code(PyExc_TypeError,
                    "weights must be complex64 (or of a dtype cast to it exactly), not dtype " +
                        py::str(a.dtype()).cast<std::string>(),
                    Failure::illegal_function_call);
  }
  if (a.ndim() != 1 || a.shape(0) != channels) {
    raise_with_code(PyExc_ValueError,
                    "weights must have shape (" + std::to_string(channels) +
                        ",), one per channel of x, not " +
                        py::str(py::tuple(a.attr("shape"))).cast<std::string>(),
                    Failure::illegal_function_call);
  }
  const py::array_t<Complex> values = numpy.attr("ascontiguousarray")(a, complex64);
  return {values.data(), values.data() + channels};
}

BlockEstimates estimate_blocks(py::handle x, py::handle block, py::handle hop,
                               py::handle arithmetic, py::handle workers, py::handle loading,
                               py::handle channel_axis) {
  const tarvel::Options options = options_of(arithmetic, workers, loading);
  const HeldSamples samples = samples_of(x, channel_axis);
  const std::int64_t length = block_of(block, samples);
  const std::int64_t step = hop.is_none() ? length : count_of(hop, "hop");
  try {
    return call_interruptibly([&](std::stop_token stop) {
      return stacked(tarvel::estimate_blocks(samples.library(), length, step, options, stop),
                     samples.channels, length, step);
    });
  } catch (const tarvel::Error& error) {
    raise_error(error);
  }
}

py::array apply(py::handle x, py::handle weights, py::handle out, py::handle channel_axis) {
  const HeldSamples samples = samples_of(x, channel_axis);
  const std::vector<Complex> w = weights_of(weights, samples.channels);
  const py::array y_array = out_array(out, samples.samples);
  into_out(samples, y_array, [&](std::span<Complex> y, std::stop_token stop) {
    tarvel::apply(samples.library(), w, y, stop);
    return true;
  });
  return y_array;
}

py::tuple combine_blocks(py::handle x, py::handle block, py::handle out, py::handle arithmetic,
                         py::handle workers, py::handle loading, py::handle channel_axis) {
  const tarvel::Options options = options_of(arithmetic, workers, loading);
  const HeldSamples samples = samples_of(x, channel_axis);
  const std::int64_t length = block_of(block, samples);
  const py::array y_array = out_array(out, samples.samples);
  BlockEstimates estimates =
      into_out(samples, y_array, [&](std::span<Complex> y, std::stop_token stop) {
        return stacked(tarvel::combine_blocks(samples.library(), length, y, options, stop),
                       samples.channels, length, length);
      });
  return py::make_tuple(py::cast(std::move(estimates)), y_array);
}

}  // namespace

void bind_blocks(py::module_& m) {
  py::class_<BlockEstimates> estimates(m, "Estimates", R"doc(The estimates of B blocks of samples.

What `estimate_blocks` and `combine_blocks` return: block i holds samples
[starts[i], starts[i] + block) and its estimate is, bit for bit, what
`estimate` gives on those samples alone. Each field of `Estimate` is one
read-only array with the blocks along its first axis; ``len(e)`` is B,
``e[i]`` block i's `Estimate`, and iterating gives them in order.

Attributes
----------
block : int
    The samples of each block.
hop : int
    The samples from one block's start to the next.
starts : numpy.ndarray of int64, shape (B,)
    Each block's first sample (0-based).
signals : numpy.ndarray of complex64, shape (B, K)
snr_db : numpy.ndarray of float32, shape (B, K)
covariance, inverse : numpy.ndarray of complex64, shape (B, K, K)
weights, normalized_weights : numpy.ndarray of complex64, shape (B, K)
reference : numpy.ndarray of int64, shape (B,)
combined_signal : numpy.ndarray of complex64, shape (B,)
combined_snr_db : numpy.ndarray of float32, shape (B,)
    As in `Estimate`, per block.
)doc");
  using Shape = std::vector<py::ssize_t>;
  const auto per_block = [](const BlockEstimates& e) { return Shape{e.blocks}; };
  const auto per_channel = [](const BlockEstimates& e) { return Shape{e.blocks, e.channels}; };
  const auto per_pair = [](const BlockEstimates& e) {
    return Shape{e.blocks, e.channels, e.channels};
  };
  array_property(estimates, "starts", &BlockEstimates::starts, per_block);
  array_property(estimates, "signals", &BlockEstimates::signals, per_channel);
  array_property(estimates, "snr_db", &BlockEstimates::snr_db, per_channel);
  array_property(estimates, "covariance", &BlockEstimates::covariance, per_pair);
  array_property(estimates, "inverse", &BlockEstimates::inverse, per_pair);
  array_property(estimates, "weights", &BlockEstimates::weights, per_channel);
  array_property(estimates, "normalized_weights", &BlockEstimates::normalized_weights, per_channel);
  array_property(estimates, "reference", &BlockEstimates::reference, per_block);
  array_property(estimates, "combined_signal", &BlockEstimates::combined_signal, per_block);
  array_property(estimates, "combined_snr_db", &BlockEstimates::combined_snr_db, per_block);
  estimates.def_property_readonly("block", [](const BlockEstimates& e) { return e.block; })
      .def_property_readonly("hop", [](const BlockEstimates& e) { return e.hop; })
      .def("__len__", [](const BlockEstimates& e) { return e.blocks; })
      .def("__getitem__",
           [](const BlockEstimates& e, std::int64_t i) {
             if (i < 0) i += e.blocks;
             if (i < 0 || i >= e.blocks) {
               throw py::index_error("block index out of range (" + std::to_string(e.blocks) +
                                     " blocks)");
             }
             return e.row(i);
           })
      .def("__repr__", [](const BlockEstimates& e) {
        return "Estimates(blocks=" + std::to_string(e.blocks) +
               ", channels=" + std::to_string(e.channels) + ", block=" + std::to_string(e.block) +
               ", hop=" + std::to_string(e.hop) + ")";
      });

  m.def(
      "estimate_blocks", &estimate_blocks, py::arg("x"), py::arg("block"),
      py::arg("hop") = py::none(), py::kw_only(), py::arg("arithmetic") = "exact",
      py::arg("workers") = py::none(), py::arg("loading") = 0.0, py::arg("channel_axis") = 1,
      R"doc(estimate_blocks(x: ArrayLike | Capture, block: int, hop: int | None = None, *, arithmetic: str = "exact", workers: int | None = None, loading: float = 0.0, channel_axis: int = 1) -> Estimates

Estimate every block of samples, as the channels' gains and noise change.

Parameters
----------
x : array_like, shape (S, K) or (S, K, 2), or a Capture
    The samples, taken as by `estimate`.
block : int
    The samples of each block, 1 to S.
hop : int, optional
    The samples from one block's start to the next, at least 1: blocks
    overlap when it is below `block` and leave samples out when above. By
    default `block`, blocks side by side. The blocks are those that fit
    whole: [i * hop, i * hop + block) for i = 0 .. (S - block) // hop.
arithmetic, workers, loading, channel_axis
    As for `estimate`. Short blocks (block <= K) need loading > 0 for a
    covariance that can be inverted.

Returns
-------
Estimates
    Block i's estimate is bit for bit ``estimate(x[starts[i]:starts[i] +
    block])``.

Raises
------
TypeError
    When x does not hold numbers, or block, hop, workers or loading is not
    a number of its kind (code 1).
ValueError
    When block or hop is below 1, block is past S, or x or another
    argument is not as for `estimate` (code 1).
OSError, MemoryError, KeyboardInterrupt
    As for `estimate`.

Notes
-----
With the exact arithmetic the samples are read once and the sums follow
the blocks, each sample added and taken out exactly, so the time depends
little on the overlap and the memory is O(K**2) whatever S and block.

Examples
--------
>>> import numpy as np, tarvel
>>> x = np.random.default_rng(1).normal(size=(1000, 3)).astype(np.complex64) + 1
>>> e = tarvel.estimate_blocks(x, 400, 200)
>>> len(e), e.starts.tolist(), e.snr_db.shape
(4, [0, 200, 400, 600], (4, 3))
>>> e[1].report() == tarvel.estimate(x[200:600]).report()
True
)doc");

  m.def(
      "apply", &apply, py::arg("x"), py::arg("weights"), py::arg("out") = py::none(), py::kw_only(),
      py::arg("channel_axis") = 1,
      R"doc(apply(x: ArrayLike | Capture, weights: ArrayLike, out: numpy.ndarray | None = None, *, channel_axis: int = 1) -> numpy.ndarray

Combine the channels with given weights: y[n] = sum_k x[n, k] * weights[k].

Each sample is the command's per-sample formula, so that
``apply(x, estimate(x).normalized_weights)`` is, bit for bit, the y that
``combine(x)`` gives.

Parameters
----------
x : array_like, shape (S, K) or (S, K, 2), or a Capture
    The samples, taken as by `estimate`.
weights : array_like of complex64, shape (K,)
    One weight per channel; a dtype numpy casts to complex64 exactly
    (complex64, float32, int16, ...), not complex128 or float64, whose
    rounding would be silent.
out : numpy.ndarray of complex64, shape (S,), optional
    Where to write y, as for `combine`.
channel_axis : {1, 0}, optional
    As for `estimate`.

Returns
-------
numpy.ndarray of complex64, shape (S,)
    y; `out` itself when given.

Raises
------
TypeError
    When x does not hold numbers, weights is not of a dtype above, or out
    is not a numpy array (code 1).
ValueError
    When weights has another shape than (K,), or x or out is not as for
    `combine` (code 1).
OSError, KeyboardInterrupt
    As for `combine`.
)doc");

  m.def(
      "combine_blocks", &combine_blocks, py::arg("x"), py::arg("block"),
      py::arg("out") = py::none(), py::kw_only(), py::arg("arithmetic") = "exact",
      py::arg("workers") = py::none(), py::arg("loading") = 0.0, py::arg("channel_axis") = 1,
      R"doc(combine_blocks(x: ArrayLike | Capture, block: int, out: numpy.ndarray | None = None, *, arithmetic: str = "exact", workers: int | None = None, loading: float = 0.0, channel_axis: int = 1) -> tuple[Estimates, numpy.ndarray]

Combine each block of samples with its own estimate's weights.

For channels whose gains change over the capture (fading), each block of
`block` samples is combined with the normalized weights of its own
estimate; the samples after the last whole block take the last block's.

Parameters
----------
x : array_like, shape (S, K) or (S, K, 2), or a Capture
    The samples, taken as by `estimate`.
block : int
    The samples of each block, 1 to S.
out : numpy.ndarray of complex64, shape (S,), optional
    Where to write the combined channel, as for `combine`.
arithmetic, workers, loading, channel_axis
    As for `estimate`.

Returns
-------
estimates : Estimates
    The blocks' estimates, as ``estimate_blocks(x, block)`` gives them.
y : numpy.ndarray of complex64, shape (S,)
    The combined channel; `out` itself when given.

Raises
------
As `estimate_blocks` and `combine`.
)doc");
}

}  // namespace tarvel::python
