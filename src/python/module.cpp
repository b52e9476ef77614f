// The Python module `tarvel`: the library's calls on numpy arrays and text
// files, with the GIL released and Ctrl-C heard while they compute.
#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <charconv>
#include <cmath>
#include <complex>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "accumulator_binding.h"
#include "blocks_binding.h"
#include "call_options.h"
#include "errors.h"
#include "into_out.h"
#include "numpy_arrays.h"
#include "tarvel/tarvel.h"
#include "worker_call.h"

namespace py = pybind11;

namespace {

using Complex = std::complex<float>;

// The shortest text that reads back as the same float.
std::string shortest(float value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return {text, end};
}

std::string estimate_repr(const tarvel::Estimate& e) {
  const float im = e.combined_signal.imag();
  return "Estimate(channels=" + std::to_string(e.signals.size()) +
         ", reference=" + std::to_string(e.reference) + ", combined_signal=(" +
         shortest(e.combined_signal.real()) + (std::signbit(im) ? "-" : "+") +
         shortest(std::fabs(im)) + "j), combined_snr_db=" + shortest(e.combined_snr_db) + ")";
}

// The file name as given (str, bytes or os.PathLike) and its bytes, which
// are what the library opens and what the tool prints.
struct FileName {
  py::object given;
  std::string bytes;
};
FileName file_name(py::handle path) {
  py::module_ os = py::module_::import("os");
  py::object given = os.attr("fspath")(path);
  return {given, os.attr("fsencode")(given).cast<std::string>()};
}

py::str decoded_output(const std::string& bytes) {
  return py::reinterpret_steal<py::str>(PyUnicode_DecodeUTF8(
      bytes.data(), static_cast<py::ssize_t>(bytes.size()), "surrogateescape"));
}

tarvel::Estimate estimate(py::handle x, py::handle arithmetic, py::handle workers,
                          py::handle loading, py::handle channel_axis) {
  const tarvel::Options options = tarvel::python::options_of(arithmetic, workers, loading);
  const tarvel::python::HeldSamples samples = tarvel::python::samples_of(x, channel_axis);
  try {
    return tarvel::python::call_interruptibly([&](std::stop_token stop) {
      return tarvel::python::estimate_samples(samples, options, stop);
    });
  } catch (const tarvel::Error& error) {
    tarvel::python::raise_error(error);
  }
}

py::tuple combine(py::handle x, py::handle out, py::handle arithmetic, py::handle workers,
                  py::handle loading, py::handle channel_axis) {
  const tarvel::Options options = tarvel::python::options_of(arithmetic, workers, loading);
  const tarvel::python::HeldSamples samples = tarvel::python::samples_of(x, channel_axis);
  const py::array y_array = tarvel::python::out_array(out, samples.samples);
  tarvel::Estimate e =
      tarvel::python::into_out(samples, y_array, [&](std::span<Complex> y, std::stop_token stop) {
        return tarvel::python::combine_samples(samples, y, options, stop);
      });
  return py::make_tuple(py::cast(std::move(e)), y_array);
}

py::tuple read_file(py::handle path) {
  const FileName name = file_name(path);
  try {
    tarvel::TextSamples samples = tarvel::python::call_interruptibly([&](std::stop_token stop) {
      return tarvel::read_text(std::filesystem::path(name.bytes), stop);
    });
    const py::ssize_t count = samples.sample_count, channels = samples.channel_count;
    return py::make_tuple(
        tarvel::python::take_vector(std::move(samples.times), {count}),
        tarvel::python::take_vector(std::move(samples.values), {count, channels}));
  } catch (const tarvel::Error& error) {
    tarvel::python::raise_error(error, name.given, name.bytes);
  }
}

void write_file(py::handle path, py::handle t, py::handle y) {
  const FileName name = file_name(path);
  const py::array_t<double> times = tarvel::python::times_of(t, "t");
  const py::array_t<Complex> values = tarvel::python::values_of(y, "y");
  const std::span<const double> times_span(times.data(), static_cast<std::size_t>(times.size()));
  const std::span<const Complex> values_span(values.data(),
                                             static_cast<std::size_t>(values.size()));
  try {
    tarvel::python::call_interruptibly([&](std::stop_token stop) {
      tarvel::write_text(std::filesystem::path(name.bytes), times_span, values_span, stop);
      return true;
    });
  } catch (const tarvel::Error& error) {
    tarvel::python::raise_error(error, name.given, name.bytes);
  }
}

tarvel::RunResult run(py::handle path) {
  const FileName name = file_name(path);
  try {
    return tarvel::python::call_interruptibly(
        [&](std::stop_token stop) { return tarvel::run(name.bytes, stop); });
  } catch (const tarvel::Error& error) {
    tarvel::python::raise_error(error, name.given, name.bytes);
  }
}

}  // namespace

PYBIND11_MODULE(_tarvel, m) {
  // Each docstring starts with its signature in numpy's terms; pybind11's
  // own would name its C++ handle types.
  py::options options;
  options.disable_function_signatures();
  m.doc() = R"doc(Optimum combination of simultaneously recorded complex channels.

Several antennas or receivers record the same coherent signal at the same
time, each with its own noise. tarvel estimates each channel's signal (its
mean), its SNR and the noise covariance between the channels, derives the
optimum combining weights and combines the channels into the one with the
best SNR. Every value is stored in single precision and every formula is
evaluated in extended precision, rounded once.

The sums over samples are exact by default: each channel's mean and each
covariance element is the exact value rounded once to single precision,
the same bits whatever the number of samples, threads or pieces and their
order. ``arithmetic="command"`` takes the ``tarvel`` command's running sums
instead and gives exactly its bits for the same samples.

Functions
---------
estimate(x)         The estimate of samples x of shape (S, K) or (S, K, 2).
combine(x, out)     The estimate and the combined channel.
Accumulator(K)      Exact sums of samples added in pieces, merged, pickled.
estimate_blocks(x, block, hop)
                    The estimates of blocks of samples, as Estimates.
apply(x, weights)   The channels combined with given weights.
combine_blocks(x, block)
                    Each block combined with its own estimate's weights.
open_capture(path)  A SigMF recording or raw capture file, mapped, not read.
read(path)          A text file's times and samples, as the command reads them.
write(path, t, y)   The command's output file.
run(path)           The command's whole run on a text file.

Every call releases the GIL while it computes and stops within about a
second on Ctrl-C, raising KeyboardInterrupt. Every exception the module
raises has an attribute ``code``: the exit status the command ends with for
the same failure (1 a bad call or file, 2 file not found, 3 write failed,
4 out of memory, 9 interrupted, 17 file too short).
)doc";

  py::class_<tarvel::Estimate> estimate_class(m, "Estimate", R"doc(The estimate of K channels.

Every value is stored in single precision, as the command's report prints
it; with the command's arithmetic, to the bit. The arrays are read-only
views of the estimate's own memory.

Attributes
----------
signals : numpy.ndarray of complex64, shape (K,)
    Each channel's signal: the mean of its samples.
snr_db : numpy.ndarray of float32, shape (K,)
    Each channel's SNR in decibels.
covariance : numpy.ndarray of complex64, shape (K, K)
    The noise covariance between the channels.
inverse : numpy.ndarray of complex64, shape (K, K)
    Its inverse.
weights : numpy.ndarray of complex64, shape (K,)
    The optimum combining weights.
normalized_weights : numpy.ndarray of complex64, shape (K,)
    The weights divided by the reference channel's weight.
reference : int
    The 0-based index of the reference channel (its normalized weight is 1).
combined_signal : complex
    The combined channel's signal (exactly the single-precision value).
combined_snr_db : float
    The combined channel's SNR in decibels (exactly the single-precision value).
)doc");
  using Shape = std::vector<py::ssize_t>;
  const auto per_channel = [](const tarvel::Estimate& e) { return Shape{std::ssize(e.signals)}; };
  const auto per_pair = [](const tarvel::Estimate& e) {
    return Shape{std::ssize(e.signals), std::ssize(e.signals)};
  };
  using tarvel::python::array_property;
  array_property(estimate_class, "signals", &tarvel::Estimate::signals, per_channel);
  array_property(estimate_class, "snr_db", &tarvel::Estimate::snr_db, per_channel);
  array_property(estimate_class, "covariance", &tarvel::Estimate::covariance, per_pair);
  array_property(estimate_class, "inverse", &tarvel::Estimate::inverse, per_pair);
  array_property(estimate_class, "weights", &tarvel::Estimate::weights, per_channel);
  array_property(estimate_class, "normalized_weights", &tarvel::Estimate::normalized_weights,
                 per_channel);
  estimate_class
      .def_property_readonly("reference", [](const tarvel::Estimate& e) { return e.reference; })
      .def_property_readonly(
          "combined_signal",
          [](const tarvel::Estimate& e) { return std::complex<double>(e.combined_signal); })
      .def_property_readonly(
          "combined_snr_db",
          [](const tarvel::Estimate& e) { return static_cast<double>(e.combined_snr_db); })
      .def(
          "report",
          [](const tarvel::Estimate& e) {
            try {
              return tarvel::report(e);
            } catch (const tarvel::Error& error) {
              tarvel::python::raise_error(error);
            }
          },
          R"doc(report(self) -> str

The command's report of this estimate.

Returns
-------
str
    The lines from "signals:" through the combined signal, each ending in
    CR LF, byte for byte as the command prints them.
)doc")
      .def("__repr__", &estimate_repr);

  using Run = tarvel::RunResult;
  py::class_<Run>(m, "Run", R"doc(What the command's run on a file gave.

Attributes
----------
estimate : Estimate
    The estimate of the file's samples.
stdout : str
    Exactly what the command prints on standard output for the file, CR LF
    line ends included, decoded as UTF-8 with surrogate escapes (so
    ``stdout.encode("utf-8", "surrogateescape")`` gives its bytes).
output_path : str
    The name of the output file written, as the command prints it.
)doc")
      .def_property_readonly("estimate", [](const Run& r) { return r.estimate; })
      .def_property_readonly("stdout",
                             [](const Run& r) { return decoded_output(r.standard_output); })
      .def_property_readonly(
          "output_path",
          [](const Run& r) { return tarvel::python::decoded_file_name(r.output_path.string()); })
      .def("__repr__", [](const Run& r) {
        return "Run(output_path=" +
               py::repr(tarvel::python::decoded_file_name(r.output_path.string()))
                   .cast<std::string>() +
               ", estimate=" + estimate_repr(r.estimate) + ")";
      });

  m.def(
      "estimate", &estimate, py::arg("x"), py::kw_only(), py::arg("arithmetic") = "exact",
      py::arg("workers") = py::none(), py::arg("loading") = 0.0, py::arg("channel_axis") = 1,
      R"doc(estimate(x: ArrayLike | Capture, *, arithmetic: str = "exact", workers: int | None = None, loading: float = 0.0, channel_axis: int = 1) -> Estimate

Estimate the channels' signals, SNRs, noise and optimum weights.

Parameters
----------
x : array_like, shape (S, K) or (S, K, 2), or a Capture
    S samples of K channels (S, K >= 1), sample n of channel k at x[n, k].
    A complex64 array in native byte order whose strides are whole elements
    is read in place, in any order and with any strides, negative ones
    included; a ``numpy.memmap`` of a raw capture is read from the file
    without a copy in memory. An integer array of shape (S, K, 2) holds I/Q
    pairs, x[n, k, 0] the real part: native int16, int8 and uint8 pairs are
    read in place when the two parts are adjacent and the pairs' strides
    whole pairs, uint8 as value - 127.5 (the unsigned 8-bit convention),
    with the bits of the same values as complex64. Any other array of
    numbers (integers, reals, complex128, long double, byte-swapped or with
    strides that split elements) is cast by numpy a block of rows at a
    time, never whole, each part rounded to single precision as the command
    stores what it reads; a real value has a zero imaginary part. A list or
    tuple of K numpy arrays is K channels, each of shape (S,) or (S, 2) of
    integer pairs, read a block at a time; a `Capture` (`open_capture`) is
    read from its files. A ``numpy.memmap`` whose file is now shorter than
    it was when mapped is refused before it is read.
arithmetic : {"exact", "command"}, optional
    How the sums over samples are taken. "exact" (the default): each mean
    and covariance element is the exact value rounded once to single
    precision, the same bits in any order of the samples and on any number
    of threads, and S has no bound. "command": the command's running sums
    in single precision, exactly its bits, with S, K <= 2**31 - 1.
workers : int, optional
    The most threads to use, at least 1; None (the default) for every
    processor. The result is the same for any number.
loading : float, optional
    Diagonal loading: loading * trace(R) / K is added to each diagonal
    element of the noise covariance R before it is inverted, for short
    blocks (S <= K) and nearly singular noise; the weights then stay
    finite. The estimate's covariance and SNRs are those of the samples.
    0 (the default) changes nothing.
channel_axis : {1, 0}, optional
    The axis of x that holds the channels: 1 (the default) for samples by
    channels, 0 for channels by samples, (K, S) or (K, S, 2), read in
    place all the same. Lists and captures take only 1.

Returns
-------
Estimate
    The estimate; with arithmetic="command", the same bits as the command's
    report.

Raises
------
TypeError
    When x does not hold numbers (strings, objects, booleans), or workers
    or loading is not a number of its kind (code 1).
ValueError
    When x is not of a shape above with S, K >= 1 (an integer array of
    three axes whose last is not 2 included), arithmetic is neither
    "exact" nor "command", workers is below 1, loading is negative or NaN,
    or channel_axis is not 0 or 1 (code 1).
OSError
    When a mapped file of x was cut short since it was mapped (code 17).
MemoryError
    When K (with arithmetic="command" also S) exceeds 2**31 - 1 or memory
    runs out (code 4).
KeyboardInterrupt
    On Ctrl-C (code 9).

Notes
-----
The working memory is O(K**2) per thread plus a fixed block of samples,
whatever S. The GIL is released while the estimate is computed.

Examples
--------
>>> import numpy as np, tarvel
>>> x = np.array([[1, 2+1j], [2+1j, 1], [0, 3+2j], [1-1j, 2+1j]], np.complex64)
>>> e = tarvel.estimate(x)
>>> e.reference, round(e.combined_snr_db, 3)
(1, 20.058)
>>> pairs = np.array([[[1, 0], [2, 1]], [[2, 1], [1, 0]], [[0, 0], [3, 2]], [[1, -1], [2, 1]]], np.int16)
>>> tarvel.estimate(pairs).report() == e.report()
True
)doc");

  m.def(
      "combine", &combine, py::arg("x"), py::arg("out") = py::none(), py::kw_only(),
      py::arg("arithmetic") = "exact", py::arg("workers") = py::none(), py::arg("loading") = 0.0,
      py::arg("channel_axis") = 1,
      R"doc(combine(x: ArrayLike | Capture, out: numpy.ndarray | None = None, *, arithmetic: str = "exact", workers: int | None = None, loading: float = 0.0, channel_axis: int = 1) -> tuple[Estimate, numpy.ndarray]

Estimate and combine the channels into the one with the best SNR.

Parameters
----------
x : array_like, shape (S, K) or (S, K, 2), or a Capture
    The samples, taken as by `estimate` (read in place when complex64 or
    integer pairs).
out : numpy.ndarray of complex64, shape (S,), optional
    Where to write the combined channel: a writable, aligned, contiguous
    1-D complex64 array in native byte order, a ``numpy.memmap`` included.
    Other arrays are refused (ValueError) rather than copied into, so that
    a large output is never held twice. When it shares memory with x, the
    combined values are made apart and copied in at the end. By default a
    new array.
arithmetic : {"exact", "command"}, optional
    The sums' arithmetic, as for `estimate`. Each combined sample is the
    command's formula in both.
workers : int, optional
    The most threads to use, as for `estimate`.
loading : float, optional
    Diagonal loading of the covariance before its inversion, as for
    `estimate`.
channel_axis : {1, 0}, optional
    The axis of x that holds the channels, as for `estimate`.

Returns
-------
estimate : Estimate
    As `estimate` returns it.
y : numpy.ndarray of complex64, shape (S,)
    The combined channel, sample by sample; `out` itself when given.

Raises
------
TypeError
    When x does not hold numbers, out is not a numpy array, or workers or
    loading is not a number of its kind (code 1).
ValueError
    When x is not as for `estimate`, out is not as above, or arithmetic,
    workers, loading or channel_axis is not as for `estimate` (code 1).
OSError
    When a mapped file of x or out was cut short since it was mapped (code
    17).
MemoryError
    When K (with arithmetic="command" also S) exceeds 2**31 - 1 or memory
    runs out (code 4).
KeyboardInterrupt
    On Ctrl-C (code 9); out may then hold part of the result.

Examples
--------
>>> import numpy as np, tarvel
>>> x = np.array([[1, 2+1j], [2+1j, 1], [0, 3+2j], [1-1j, 2+1j]], np.complex64)
>>> e, y = tarvel.combine(x)
>>> y.dtype, y.shape
(dtype('complex64'), (4,))
)doc");

  tarvel::python::bind_accumulator(m);
  tarvel::python::bind_blocks(m);
  m.attr("__version__") = TARVEL_VERSION;
  // The package `tarvel` is where users and pickle find the classes.
  for (const char* name : {"Estimate", "Estimates", "Run", "Accumulator"})
    m.attr(name).attr("__module__") = "tarvel";

  m.def("read", &read_file, py::arg("path"),
        R"doc(read(path: str | bytes | os.PathLike) -> tuple[numpy.ndarray, numpy.ndarray]

Read a text file's times and samples as the command reads them.

Each line holds a time, then the real and imaginary part of every channel;
the first line gives K, the number of lines S.

Parameters
----------
path : str, bytes or os.PathLike
    The file.

Returns
-------
t : numpy.ndarray of float64, shape (S,)
    The times.
x : numpy.ndarray of complex64, shape (S, K)
    The samples, each part rounded to single precision.

Raises
------
FileNotFoundError
    When the file does not exist (code 2); IsADirectoryError for a folder,
    PermissionError for a file that may not be read.
OSError
    When the file is a device, pipe or socket (code 1).
ValueError
    When the file holds no samples (code 1) or ends before its last sample
    (code 17, the command's "file too short").
MemoryError
    When the samples do not fit in memory or S or K exceeds 2**31 - 1 (code 4).
KeyboardInterrupt
    On Ctrl-C (code 9).
)doc");

  m.def("write", &write_file, py::arg("path"), py::arg("t"), py::arg("y"),
        R"doc(write(path: str | bytes | os.PathLike, t: ArrayLike, y: ArrayLike) -> None

Write the command's output file: one line "t y.real y.imag" per sample.

Lines end in CR LF; the time has 16 significant digits, the parts 7.

Parameters
----------
path : str, bytes or os.PathLike
    The file, created or truncated.
t : array_like of real numbers, shape (S,)
    The times, as float64.
y : array_like of numbers, shape (S,)
    The values, as complex64 (each part rounded to single precision).

Raises
------
TypeError
    When t or y does not hold numbers (or t holds complex ones).
ValueError
    When t or y is not 1-D, or their lengths differ or are 0 (code 1).
FileNotFoundError
    When the file cannot be created (code 2); IsADirectoryError for a folder,
    PermissionError where it may not be written.
OSError
    When a byte could not be written (code 3, errno the system's, such as
    ENOSPC); the bytes written stay.
KeyboardInterrupt
    On Ctrl-C (code 9); the lines made so far are written and the file closed.
)doc");

  m.def("run", &run, py::arg("path"), R"doc(run(path: str | bytes | os.PathLike) -> Run

Run the command on a text file, printing nothing.

Reads the file, combines its channels and writes the output file
(the name less a final ".txt", plus "_out.txt") as ``tarvel path`` does.

Parameters
----------
path : str, bytes or os.PathLike
    The file; it is named in the report as given.

Returns
-------
Run
    With ``estimate``, ``stdout`` (what the command prints, exactly) and
    ``output_path``.

Raises
------
Where the command ends with a nonzero status, the exception `read` or
`write` raises for it, with that status as ``code``.

Examples
--------
>>> import tarvel
>>> r = tarvel.run("examples/two.txt")  # doctest: +SKIP
>>> print(r.stdout, end="")  # doctest: +SKIP
reading examples/two.txt 2 channels 4 samples
...
)doc");
}
