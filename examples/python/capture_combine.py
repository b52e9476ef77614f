"""Combining a four-antenna capture with tarvel.

Writes a synthetic capture as an SDR's file sink would: four antennas, raw
interleaved complex64 (sample 0 of antennas 0 to 3, then sample 1, ...). Each
antenna sees the same carrier with its own gain and phase and its own noise,
set for a known SNR; antennas 2 and 3 also pick up one interfering noise
source. The script loads the capture with numpy.fromfile, combines it, prints
tarvel's report and draws capture_combine.png: each antenna's SNR beside the
combined SNR, and the best antenna's samples beside the combined ones.

    python3 capture_combine.py [FOLDER]

FOLDER (default: the current folder) receives capture.cf32 and the PNG. Exits
1 when the combined SNR does not beat the best antenna's.
"""

import pathlib
import sys

import matplotlib

matplotlib.use("Agg")  # no display needed
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import tarvel  # noqa: E402

SAMPLES = 200_000
SNR_DB = np.array([2.0, 6.0, 4.0, 8.0])  # each antenna's SNR per sample, all its noise counted
GAINS = np.array([1.0, 0.8 * np.exp(0.7j), 1.2 * np.exp(-1.9j), 0.6 * np.exp(2.5j)])
SHARED = np.array([0.0, 0.0, 1.0, 0.9])  # the interferer's amplitude on each antenna
SHARED_POWER = 0.25  # relative to the total noise power of antennas 2 and 3


def write_capture(path, rng):
    """The capture as raw interleaved complex64; returns nothing, like a file sink."""
    carrier = 1.0 + 0.5j
    signal_power = np.abs(GAINS * carrier) ** 2
    noise_power = signal_power / 10 ** (SNR_DB / 10)

    def noise(power, shape):
        return np.sqrt(power / 2) * (rng.standard_normal(shape) + 1j * rng.standard_normal(shape))

    interferer = noise(1.0, SAMPLES)
    shared_power = SHARED_POWER * noise_power * (SHARED > 0)
    own_power = noise_power - shared_power
    x = GAINS * carrier + noise(own_power, (SAMPLES, 4))
    x += np.outer(interferer, np.sqrt(shared_power) * np.sign(SHARED))
    x.astype(np.complex64).tofile(path)


def draw(e, x, y, path):
    figure, (bars, plane) = plt.subplots(1, 2, figsize=(11, 4.5))
    names = [f"antenna {k}" for k in range(4)] + ["combined"]
    values = list(e.snr_db) + [e.combined_snr_db]
    colours = ["tab:blue"] * 4 + ["tab:orange"]
    bars.bar(names, values, color=colours)
    # tarvel's SNR is that of the mean over the S samples: the SNR per
    # sample plus 10 log10(S).
    expected = SNR_DB + 10 * np.log10(len(y))
    bars.scatter(range(4), expected, color="black", marker="_", s=400,
                 label="set when written, + 10 log10(S)")
    bars.set_ylim(min(values) - 6, max(values) + 3)
    for i, v in enumerate(values):
        bars.annotate(f"{v:.2f}", (i, v), ha="center", va="bottom")
    bars.set_ylabel("SNR (dB)")
    bars.set_title("SNR of each antenna and of the combined channel")
    bars.legend(loc="upper left")

    best = int(np.argmax(e.snr_db))
    shown = slice(0, 3000)
    plane.scatter(x[shown, best].real, x[shown, best].imag, s=2, alpha=0.4,
                  label=f"antenna {best} (best single)")
    plane.scatter(y[shown].real, y[shown].imag, s=2, alpha=0.4, color="tab:orange",
                  label="combined")
    for value, colour in ((e.signals[best], "tab:blue"), (e.combined_signal, "tab:orange")):
        plane.scatter([value.real], [value.imag], color=colour, edgecolor="black", s=80, zorder=3)
    plane.set_aspect("equal", adjustable="datalim")
    plane.set_xlabel("real")
    plane.set_ylabel("imaginary")
    plane.set_title("Samples in the complex plane (first 3000, means marked)")
    plane.legend(loc="upper left", markerscale=5)
    figure.tight_layout()
    figure.savefig(path, dpi=100)


def main():
    folder = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    folder.mkdir(parents=True, exist_ok=True)
    capture = folder / "capture.cf32"
    write_capture(capture, np.random.default_rng(2026))

    x = np.fromfile(capture, dtype=np.complex64).reshape(-1, 4)
    e, y = tarvel.combine(x)
    print(e.report().replace("\r\n", "\n"), end="")

    draw(e, x, y, folder / "capture_combine.png")
    print(f"wrote {folder / 'capture_combine.png'}")
    best = max(e.snr_db)
    print(f"combined {e.combined_snr_db:.2f} dB against the best antenna's {best:.2f} dB")
    return 0 if e.combined_snr_db > best else 1


if __name__ == "__main__":
    sys.exit(main())
