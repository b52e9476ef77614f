"""The estimate's errors against float64 numpy, in both arithmetics, as S grows.

    PYTHONPATH=BUILD/src/python python3 bench/accuracy.py [--sizes S ...] [--channels K]

Synthetic captures of K antennas: a constant signal per antenna, with its own
gain and phase, under Gaussian noise the antennas partly share (fixed seed).
For each S, tarvel.estimate in the exact arithmetic and in the command's is
compared with the same statistics in float64: the channel means and the
covariance around them (as relative errors, the largest element's error over
the largest element), the per-channel SNR 10 log10(S |m|^2 / R(k,k)) (the
largest difference in dB) and the normalised weights conj(R^-1 m) / w(ref)
(relative error, as the means). The float64 reference rounds too: its own
relative error is about 1e-16 times the growth of its sums.
"""

import argparse

import numpy as np

import tarvel


def capture(samples, channels, seed=20261209):
    rng = np.random.default_rng(seed)
    signal = (0.2 + rng.random(channels)) * np.exp(2j * np.pi * rng.random(channels))
    x = np.empty((samples, channels), np.complex64)
    step = 1 << 22
    for first in range(0, samples, step):
        n = min(step, samples - first)
        shared = rng.standard_normal((n, 1)) + 1j * rng.standard_normal((n, 1))
        own = rng.standard_normal((n, channels)) + 1j * rng.standard_normal((n, channels))
        x[first:first + n] = signal + 0.5 * shared + own
    return x


def reference(x):
    """Means, covariance, SNRs and normalised weights in float64, by blocks."""
    samples, channels = x.shape
    total = np.zeros(channels, np.complex128)
    for first in range(0, samples, 1 << 22):
        total += x[first:first + (1 << 22)].astype(np.complex128).sum(axis=0)
    means = total / samples
    covariance = np.zeros((channels, channels), np.complex128)
    for first in range(0, samples, 1 << 22):
        d = x[first:first + (1 << 22)].astype(np.complex128) - means
        covariance += d.T @ d.conj()
    covariance /= samples
    snr = 10 * np.log10(samples * np.abs(means) ** 2 / covariance.diagonal().real)
    weights = np.linalg.solve(covariance, means).conj()
    return means, covariance, snr, weights


def relative(got, want):
    return float(np.max(np.abs(got - want)) / np.max(np.abs(want)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", type=int, nargs="+",
                        default=[10**6, 4 * 10**6, 10**7, 16 * 10**6, 1 << 26])
    parser.add_argument("--channels", type=int, default=4)
    args = parser.parse_args()
    print("| S | arithmetic | mean, rel. error | covariance, rel. error | SNR error, dB "
          "| normalised weights, rel. error |")
    print("|---:|---|---:|---:|---:|---:|")
    for samples in args.sizes:
        x = capture(samples, args.channels)
        means, covariance, snr, weights = reference(x)
        for arithmetic in ("exact", "command"):
            e = tarvel.estimate(x, arithmetic=arithmetic)
            normalised = weights / weights[e.reference]
            print(f"| {samples} | {arithmetic} | {relative(e.signals, means):.2g} "
                  f"| {relative(e.covariance, covariance):.2g} "
                  f"| {float(np.max(np.abs(e.snr_db - snr))):.2g} "
                  f"| {relative(e.normalized_weights, normalised):.2g} |", flush=True)
        del x


if __name__ == "__main__":
    main()
