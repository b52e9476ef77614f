"""A synthetic four-antenna capture with fading, as a SigMF recording.

Writes FOLDER/fading.sigmf-data and FOLDER/fading.sigmf-meta: 2 s at 1 MS/s
of one carrier received on four antennas, as interleaved int16 I/Q pairs
(ci16_le, as an SDR records them). Each antenna's gain fades on its own, a
sum of eight paths whose Doppler shifts reach 2 Hz (Rayleigh fading), so
that which antenna is best changes over the capture; each has its own
noise, at 0 dB SNR per sample on average. Then, for instance:

    python3 fading_capture.py /tmp/fading
    python3 -m tarvel /tmp/fading/fading.sigmf-meta --block 50000 --plot fading.png

prints each block's SNRs and draws them: the combined channel stays above
every antenna as they fade in and out.

    python3 fading_capture.py [FOLDER] [--samples S]
"""

import argparse
import json
import pathlib

import numpy as np

RATE = 1e6  # samples per second
ANTENNAS = 4
PATHS = 8
DOPPLER = 2.0  # Hz, the largest shift of a path
SCALE = 1000.0  # int16 units of a unit amplitude


def gains(times, shifts, phases):
    """Each antenna's complex gain at `times`, of mean power 1: the sum of
    its paths, path m of antenna k shifted by shifts[k, m] Hz and starting
    at phase phases[k, m]."""
    g = np.zeros((len(times), ANTENNAS), np.complex128)
    for k in range(ANTENNAS):
        for shift, phase in zip(shifts[k], phases[k]):
            g[:, k] += np.exp(1j * (2 * np.pi * shift * times + phase))
    return g / np.sqrt(PATHS)


def write(folder, samples, rng):
    folder.mkdir(parents=True, exist_ok=True)
    # Paths from random directions, each with its Doppler shift and phase.
    shifts = DOPPLER * np.cos(rng.uniform(0, 2 * np.pi, (ANTENNAS, PATHS)))
    phases = rng.uniform(0, 2 * np.pi, (ANTENNAS, PATHS))
    with open(folder / "fading.sigmf-data", "wb") as data:
        for first in range(0, samples, 1 << 18):
            times = (first + np.arange(min(1 << 18, samples - first))) / RATE
            noise = (rng.standard_normal((len(times), ANTENNAS))
                     + 1j * rng.standard_normal((len(times), ANTENNAS))) / np.sqrt(2)
            x = SCALE * (gains(times, shifts, phases) + noise)
            pairs = np.stack([x.real, x.imag], axis=-1).round().clip(-32768, 32767)
            data.write(pairs.astype("<i2").tobytes())
    meta = {"global": {"core:datatype": "ci16_le", "core:num_channels": ANTENNAS,
                       "core:sample_rate": RATE, "core:version": "1.0.0",
                       "core:description": "a carrier on four antennas with Rayleigh fading"},
            "captures": [{"core:sample_start": 0}], "annotations": []}
    (folder / "fading.sigmf-meta").write_text(json.dumps(meta, indent=2) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("folder", nargs="?", default=".")
    parser.add_argument("--samples", type=int, default=2_000_000)
    options = parser.parse_args()
    folder = pathlib.Path(options.folder)
    write(folder, options.samples, np.random.default_rng(2026))
    print(f"wrote {folder / 'fading.sigmf-meta'} and {folder / 'fading.sigmf-data'}")


if __name__ == "__main__":
    main()
