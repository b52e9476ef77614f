"""Integer pairs read in place against complex64, and block estimates
against one estimate of the same samples, as ratios measured in one run.

    PYTHONPATH=build/src/python python3 bench/capture_speed.py \
        [--samples S] [--channels K] [--block N] [--repeat R]

The samples are S x K in memory, one coherent signal per channel under
partly shared noise, held twice: as int16 I/Q pairs of shape (S, K, 2) and
as the same values in complex64. Each repetition times, in turn,
tarvel.estimate on each (the exact arithmetic, every processor), and
tarvel.estimate_blocks on the complex64 samples with blocks of N and a hop
of N / 4, so that each sample is in four blocks. Prints the best and median
of each and the ratios int16 / complex64 (goal <= 1) and estimate_blocks /
estimate (goal <= 2.5).
"""

import argparse
import time

import numpy as np

import tarvel
from ratio_table import print_ratios


def samples(s, k, rng):
    """int16 pairs (S, K, 2) and the same values as complex64, in pieces."""
    pairs = np.empty((s, k, 2), np.int16)
    gains = 300 * np.exp(1j * rng.uniform(0, 2 * np.pi, k))
    for first in range(0, s, 1 << 20):
        n = min(1 << 20, s - first)
        shared = rng.normal(0, 200, (n, 1)) + 1j * rng.normal(0, 200, (n, 1))
        x = gains + shared + rng.normal(0, 900, (n, k)) + 1j * rng.normal(0, 900, (n, k))
        pairs[first:first + n] = np.stack([x.real, x.imag], axis=-1).round()
    return pairs, (pairs[..., 0] + 1j * pairs[..., 1]).astype(np.complex64)


def timed(call):
    start = time.perf_counter()
    result = call()
    return time.perf_counter() - start, result


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--samples", type=int, default=10_000_000)
    parser.add_argument("--channels", type=int, default=4)
    parser.add_argument("--block", type=int, default=1 << 16)
    parser.add_argument("--repeat", type=int, default=5)
    options = parser.parse_args()
    pairs, x = samples(options.samples, options.channels, np.random.default_rng(23))
    block, hop = options.block, options.block // 4

    names = ("estimate, complex64", "estimate, int16 pairs", "estimate_blocks, complex64")
    times = {name: [] for name in names}
    for _ in range(options.repeat):
        seconds, complex_estimate = timed(lambda: tarvel.estimate(x))
        times[names[0]].append(seconds)
        seconds, pair_estimate = timed(lambda: tarvel.estimate(pairs))
        times[names[1]].append(seconds)
        if pair_estimate.report() != complex_estimate.report():
            raise SystemExit("the int16 pairs and their complex64 values gave other estimates")
        seconds, blocks = timed(lambda: tarvel.estimate_blocks(x, block, hop))
        times[names[2]].append(seconds)

    print(f"S = {options.samples}, K = {options.channels}, blocks of {block} samples, hop "
          f"{hop} ({len(blocks)} blocks), {options.repeat} repetitions")
    print_ratios(times, (("int16 / complex64", (names[1], names[0]), 1.0),
                         ("estimate_blocks / estimate", (names[2], names[0]), 2.5)), 28)


if __name__ == "__main__":
    main()
