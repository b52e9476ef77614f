"""tarvel.combine against the numpy pipeline a user would write, and against
the C++ library on the same samples, as ratios measured in one run.

    PYTHONPATH=build-py/src/python python3 bench/python_speed.py BUILD_DIR \
        [--samples S] [--channels K] [--repeat R]

BUILD_DIR is a build with -DTARVEL_BENCH=ON (for
bench/library_combine_capture). The samples are S x K complex64 in memory,
one coherent signal per channel with partly shared noise. Each repetition
times, in turn: tarvel.combine(x) (the better of two calls); the numpy pipeline in float64 (channel
means, the covariance of the deviations as one matrix product,
numpy.linalg.solve, the weighted sum); and library_combine_capture, which
times tarvel::combine on the same samples written to a file and read back
into its memory (the better of two calls there). Prints the best and median of each and the ratios
tarvel/numpy (goal <= 0.5) and module/library (goal <= 1.05). OpenBLAS's
settings (OPENBLAS_CORETYPE, threads) are the environment's.
"""

import argparse
import os
import pathlib
import subprocess
import tempfile
import time

import numpy as np

import tarvel
from ratio_table import print_ratios


def numpy_combine(x):
    """The optimum combination as numpy code, in double precision."""
    xd = x.astype(np.complex128)
    means = xd.mean(axis=0)
    deviations = xd - means
    covariance = deviations.conj().T @ deviations / (len(xd) - 1)
    weights = np.linalg.solve(covariance, means)
    return xd @ weights.conj()


def samples(s, k, rng):
    gains = rng.normal(size=k) + 1j * rng.normal(size=k)
    shared = rng.normal(size=s) + 1j * rng.normal(size=s)
    x = np.empty((s, k), np.complex64)
    for c in range(k):
        own = rng.normal(size=s) + 1j * rng.normal(size=s)
        x[:, c] = gains[c] + (c + 1) * own + 0.5 * shared
    return x


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build")
    parser.add_argument("--samples", type=int, default=10_000_000)
    parser.add_argument("--channels", type=int, default=4)
    parser.add_argument("--repeat", type=int, default=7)
    options = parser.parse_args()
    program = pathlib.Path(options.build) / "bench" / "library_combine_capture"
    if not program.exists():
        parser.error(f"{program} is not built (configure with -DTARVEL_BENCH=ON)")

    x = samples(options.samples, options.channels, np.random.default_rng(19))
    with tempfile.TemporaryDirectory() as folder:
        capture = os.path.join(folder, "capture.cf32")
        x.tofile(capture)
        times = {"tarvel.combine": [], "numpy float64": [], "C++ tarvel::combine": []}
        for r in range(options.repeat):
            # The better of two calls, as on the C++ side below.
            calls = []
            for _ in range(2):
                start = time.perf_counter()
                e, y = tarvel.combine(x)
                calls.append(time.perf_counter() - start)
                del y
            times["tarvel.combine"].append(min(calls))
            start = time.perf_counter()
            z = numpy_combine(x)
            times["numpy float64"].append(time.perf_counter() - start)
            del z
            # The better of two calls in the C++ process, whose first call
            # also starts the library's threads: the module's calls come
            # after others in a warm process.
            done = subprocess.run([program, capture, str(options.channels), "2"],
                                  capture_output=True, text=True, check=True)
            seconds, _, snr = done.stdout.split()
            times["C++ tarvel::combine"].append(float(seconds))
            if np.float32(snr) != np.float32(e.combined_snr_db):
                raise SystemExit(f"the library gave {snr} dB, the module {e.combined_snr_db}")

    print(f"S = {options.samples}, K = {options.channels}, {options.repeat} repetitions, "
          f"OPENBLAS_CORETYPE={os.environ.get('OPENBLAS_CORETYPE', '(unset)')}")
    print_ratios(times, (("tarvel.combine / numpy", ("tarvel.combine", "numpy float64"), 0.5),
                         ("module / library", ("tarvel.combine", "C++ tarvel::combine"), 1.05)), 24)


if __name__ == "__main__":
    main()
