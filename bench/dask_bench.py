"""Times tarvel's exact estimate of a large capture in one process and on a
cluster of worker processes, and measures what each worker held.

    PYTHONPATH=build/src/python python3 bench/dask_bench.py [--folder /tmp] [--files 16]
        [--samples 268435456] [--channels 4] [--chunk 4194304] [--repeat 3]

writes FILES raw complex64 capture files of SAMPLES samples of CHANNELS
channels in all (by default 8 GiB) into a new folder under FOLDER, then
alternately

- in one process: an Accumulator per file (each added on every processor),
  merged, and its estimate, as an in-process program would do it;
- on a distributed.LocalCluster of 2 worker processes with one thread each:
  tarvel.dask.estimate over tarvel.dask.from_captures of the same files,
  in chunks of CHUNK samples;

checks that both give the same bits, and prints the median times, their
ratio and, per worker, its peak resident memory (VmHWM, which counts the
pages of the mapped files it read) and the peak of its anonymous memory
(RssAnon, sampled every 20 ms: what it held beyond the page cache). The
files are read from the page cache after the first round. The folder is
removed at the end.
"""

import argparse
import pathlib
import shutil
import statistics
import sys
import tempfile
import threading
import time

import distributed
import numpy as np

import tarvel
import tarvel.dask


def write_captures(folder, files, samples, channels):
    rng = np.random.default_rng(1)
    paths = []
    per_file = samples // files
    rows = 1 << 20
    for i in range(files):
        path = folder / f"capture{i:02}.cf32"
        with open(path, "wb") as f:
            for first in range(0, per_file, rows):
                n = min(rows, per_file - first)
                parts = rng.standard_normal((n, channels, 2), dtype=np.float32)
                parts[..., 0] += 0.3
                parts.view(np.complex64).tofile(f)
        paths.append(path)
    return paths


def in_one_process(paths, channels):
    total = tarvel.Accumulator(channels)
    for path in paths:
        x = np.memmap(path, dtype=np.complex64, mode="r").reshape(-1, channels)
        part = tarvel.Accumulator(channels)
        part.add(x)
        total.merge(part)
    return total.estimate()


# Run on each worker (client.run hands it the worker): a thread that keeps
# on the worker the peak of its process's anonymous resident memory.
def _rss_anon():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("RssAnon:"):
                return int(line.split()[1]) * 1024
    return 0


def start_sampling(dask_worker):
    dask_worker.tarvel_peak_anon = _rss_anon()

    def sample():
        while True:
            dask_worker.tarvel_peak_anon = max(dask_worker.tarvel_peak_anon, _rss_anon())
            time.sleep(0.02)
    threading.Thread(target=sample, daemon=True).start()
    return dask_worker.tarvel_peak_anon


def peaks(dask_worker):
    with open("/proc/self/status") as f:
        hwm = next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmHWM:"))
    return hwm, dask_worker.tarvel_peak_anon


def fields(e):
    names = ("signals", "snr_db", "covariance", "inverse", "weights", "normalized_weights")
    return [getattr(e, n).tobytes() for n in names] + [e.reference, e.combined_signal,
                                                       e.combined_snr_db]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--folder", default=tempfile.gettempdir())
    parser.add_argument("--files", type=int, default=16)
    parser.add_argument("--samples", type=int, default=1 << 28)
    parser.add_argument("--channels", type=int, default=4)
    parser.add_argument("--chunk", type=int, default=1 << 22)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()

    folder = pathlib.Path(tempfile.mkdtemp(prefix="tarvel-dask-bench-", dir=args.folder))
    try:
        started = time.perf_counter()
        paths = write_captures(folder, args.files, args.samples, args.channels)
        size = sum(p.stat().st_size for p in paths)
        print(f"wrote {len(paths)} files, {size / 2**30:.2f} GiB, "
              f"S = {args.samples}, K = {args.channels}, in {time.perf_counter() - started:.1f} s")
        x = tarvel.dask.from_captures(paths, args.channels, chunks=args.chunk)
        with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                      host="127.0.0.1", dashboard_address=None) as cluster, \
                distributed.Client(cluster) as client:
            baseline = client.run(start_sampling)
            here, there = [], []
            for _ in range(args.repeat):
                t = time.perf_counter()
                e_here = in_one_process(paths, args.channels)
                here.append(time.perf_counter() - t)
                t = time.perf_counter()
                e_there = tarvel.dask.estimate(x)
                there.append(time.perf_counter() - t)
                if fields(e_here) != fields(e_there):
                    sys.exit("the cluster's estimate differs from the one of one process")
            worker_peaks = client.run(peaks)
        one, cluster_time = statistics.median(here), statistics.median(there)
        print(f"\n{x.numblocks[0]} chunks of {args.chunk} samples; medians of {args.repeat} rounds; "
              "the same bits both ways\n")
        print("| where | s | GiB/s |\n|---|---:|---:|")
        print(f"| one process, an accumulator per file, merged | {one:.2f} | {size / 2**30 / one:.2f} |")
        print(f"| LocalCluster, 2 workers x 1 thread, tarvel.dask.estimate | {cluster_time:.2f} "
              f"| {size / 2**30 / cluster_time:.2f} |")
        print(f"\ncluster / one process: {cluster_time / one:.2f}\n")
        print("| worker | anonymous before, MiB | peak RSS (VmHWM), MiB | peak anonymous (RssAnon), MiB |")
        print("|---|---:|---:|---:|")
        for i, (address, (hwm, anon)) in enumerate(sorted(worker_peaks.items())):
            print(f"| {i + 1} | {baseline[address] / 2**20:.0f} | {hwm / 2**20:.0f} | "
                  f"{anon / 2**20:.0f} |")
    finally:
        shutil.rmtree(folder)


if __name__ == "__main__":
    main()
