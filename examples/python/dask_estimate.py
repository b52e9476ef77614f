"""tarvel.dask on a cluster: a four-antenna capture in several raw files,
estimated and combined by Dask workers, with the bits of one process.

    python3 dask_estimate.py FOLDER [SCHEDULER]

writes four capture files (complex64, 4 channels) into FOLDER, then runs on
a cluster of two worker processes on this machine, or on the scheduler at
SCHEDULER (tcp://HOST:8786, whose workers must see FOLDER under the same
name), and prints the report, the SNR of the combined channel in blocks of
2^16 samples, and whether everything matches tarvel's calls in this process.
"""

import pathlib
import sys

import distributed
import numpy as np

import tarvel
import tarvel.dask

K = 4
FILES, SAMPLES = 4, 300_000  # per file


def write_captures(folder):
    """A weak coherent signal on K antennas, each with its own gain, phase
    and noise, part of the noise shared, as an SDR would record it."""
    rng = np.random.default_rng(7)
    gains = np.array([1.0, 0.7, 0.5, 0.25]) * np.exp(1j * rng.uniform(0, 2 * np.pi, K))
    paths = []
    for i in range(FILES):
        noise = rng.normal(size=(SAMPLES, K, 2)) @ [1, 1j]
        shared = rng.normal(size=(SAMPLES, 1, 2)) @ [1, 1j]
        x = 0.4 * gains + noise + 0.5 * shared
        paths.append(folder / f"antennas{i}.cf32")
        x.astype(np.complex64).tofile(paths[-1])
    return paths


def same_bits(a, b):
    """Whether two estimates hold the same bits, field by field."""
    names = ("signals", "snr_db", "covariance", "inverse", "weights", "normalized_weights")
    return (all(getattr(a, n).tobytes() == getattr(b, n).tobytes() for n in names) and
            a.reference == b.reference and
            np.complex64(a.combined_signal).tobytes() == np.complex64(b.combined_signal).tobytes() and
            np.float32(a.combined_snr_db).tobytes() == np.float32(b.combined_snr_db).tobytes())


def main():
    folder = pathlib.Path(sys.argv[1]).resolve()
    folder.mkdir(parents=True, exist_ok=True)
    paths = write_captures(folder)
    x = tarvel.dask.from_captures(paths, K, chunks=2**17)
    if len(sys.argv) > 2:
        client = distributed.Client(sys.argv[2])
    else:
        client = distributed.Client(distributed.LocalCluster(
            n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
            dashboard_address=None))
    with client:
        print(f"{x.shape[0]} samples of {K} channels in {len(paths)} files, "
              f"{x.numblocks[0]} chunks, on {len(client.scheduler_info()['workers'])} workers")
        e, y = tarvel.dask.combine(x)
        y = y.compute()
        blocks = tarvel.dask.estimate_blocks(x, 2**16)
    print(e.report().replace("\r\n", "\n"), end="")
    print("combined SNR in blocks of 2^16 samples:",
          " ".join(f"{b.combined_snr_db:.2f}" for b in blocks), "dB")

    # The same in this process, on the whole capture at once.
    whole = np.concatenate([np.fromfile(p, np.complex64).reshape(-1, K) for p in paths])
    here, here_y = tarvel.combine(whole)
    same = (same_bits(e, here) and y.tobytes() == here_y.tobytes() and
            all(same_bits(b, tarvel.estimate(whole[i << 16:(i + 1) << 16]))
                for i, b in enumerate(blocks)))
    print("the same bits as in one process:", "yes" if same else "NO")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
