"""How long the module takes on samples it must convert, against the same
samples as complex64 read in place, as ratios measured in one run.

    PYTHONPATH=build/src/python python3 bench/cast_speed.py [--samples S] [--channels K]

For each dtype, the best of five tarvel.estimate calls on x.astype(dtype),
divided by the best of five on x itself (complex64, in place).
"""

import argparse
import time

import numpy as np

import tarvel


def best(call, repeat=5):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--samples", type=int, default=2_000_000)
    parser.add_argument("--channels", type=int, default=4)
    args = parser.parse_args()
    rng = np.random.default_rng(5)
    shape = (args.samples, args.channels)
    x = (rng.normal(0, 1, shape) + 1j * rng.normal(0, 1, shape)).astype(np.complex64)
    base = best(lambda: tarvel.estimate(x))
    print(f"complex64 in place: {base:.3f} s")
    for dtype in ["complex128", ">c8", "float64", "float16", "int32", "clongdouble"]:
        converted = (x.real * 1000).astype(dtype) if np.dtype(dtype).kind in "iuf" else x.astype(dtype)
        seconds = best(lambda: tarvel.estimate(converted))
        print(f"{dtype:>12}: {seconds:.3f} s, {seconds / base:.2f} x in place")


if __name__ == "__main__":
    main()
