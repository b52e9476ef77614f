"""tarvel.dask on a real cluster: a distributed.LocalCluster of two worker
processes reading capture files, against the package's calls in this
process, bit for bit, for every chunking; a worker killed mid-run; files
that fail to read. (CTest label `cluster`; -LE cluster leaves it out.)"""

import concurrent.futures
import os
import re
import subprocess
import sys

import numpy as np
import pytest

distributed = pytest.importorskip("distributed", reason="the cluster needs python3-distributed")

import tarvel  # noqa: E402
import tarvel.dask  # noqa: E402
from dask_support import bits, captures, kill_worker_once  # noqa: E402

K = 3
SIZES = [150, 1, 57, 131, 61]  # 400 samples in five files, one of a single sample
S = sum(SIZES)
BLOCK = 37  # 10 blocks, the last 30 samples in none
# Every call below ends within this, or fails instead of hanging.
TIMEOUT = 90


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  host="127.0.0.1", dashboard_address=None) as cluster:
        with distributed.Client(cluster) as client:
            yield client


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    return captures(tmp_path_factory.mktemp("captures"), SIZES, K, seed=8)


@pytest.fixture(scope="module")
def wanted(files):
    _, x = files
    e, y = tarvel.combine(x)
    blocks = [bits(tarvel.estimate(x[i * BLOCK:(i + 1) * BLOCK])) for i in range(S // BLOCK)]
    return bits(e), y.tobytes(), blocks


def within(seconds, call, *args):
    """call(*args), or a failure when it has not ended after `seconds`."""
    pool = concurrent.futures.ThreadPoolExecutor(1)
    try:
        return pool.submit(call, *args).result(timeout=seconds)
    finally:
        pool.shutdown(wait=False)


uneven = list(np.random.default_rng(0).integers(1, 30, 20))
CHUNKINGS = {
    "one sample each": lambda x, paths: x.rechunk(1),
    "one chunk": lambda x, paths: x.rechunk(-1),
    "one chunk a file": lambda x, paths: x,
    "files cut in 7s": lambda x, paths: tarvel.dask.from_captures(paths, K, chunks=7),
    "32s across files": lambda x, paths: x.rechunk(32),
    "empty chunks": lambda x, paths: x.rechunk({0: (0, 150, 0, 2, 0, S - 152)}),
    "channels split": lambda x, paths: x.rechunk({0: 100, 1: 1}),
    "random uneven": lambda x, paths: x.rechunk({0: tuple(uneven) + (S - sum(uneven),)}),
    "block edges": lambda x, paths: x.rechunk(BLOCK),
    "first and last sample alone": lambda x, paths: x.rechunk({0: (1, S - 2, 1)}),
}


@pytest.mark.parametrize("chunking", CHUNKINGS.values(), ids=CHUNKINGS.keys())
def test_same_bits_as_in_one_process(client, files, wanted, chunking):
    paths, _ = files
    x = chunking(tarvel.dask.from_captures(paths, K, chunks=10**6), paths)
    want_e, want_y, want_blocks = wanted
    assert bits(within(TIMEOUT, tarvel.dask.estimate, x)) == want_e
    e, y = within(TIMEOUT, tarvel.dask.combine, x)
    assert bits(e) == want_e
    assert within(TIMEOUT, y.compute).tobytes() == want_y
    assert [bits(b) for b in within(TIMEOUT, tarvel.dask.estimate_blocks, x, BLOCK)] == want_blocks


def test_a_worker_killed_mid_run_changes_nothing(client, files, wanted, tmp_path):
    paths, _ = files
    marker = tmp_path / "killed"
    before = set(client.run(os.getpid).values())
    x = tarvel.dask.from_captures(paths, K, chunks=25)
    x = x.map_blocks(kill_worker_once, marker=str(marker), victim=x.numblocks[0] // 2, dtype=x.dtype)
    assert bits(within(TIMEOUT, tarvel.dask.estimate, x)) == wanted[0]
    # The chunk's first reading killed its worker, whose nanny started another.
    killed = int(marker.read_text())
    assert killed in before
    client.wait_for_workers(2, timeout=TIMEOUT)
    after = set(client.run(os.getpid).values())
    assert killed not in after and len(after) == 2


def test_a_file_that_fails_to_read_ends_the_call_with_its_error(client, files, tmp_path):
    paths, samples = files
    copies = []
    for path in paths:
        copies.append(tmp_path / os.path.basename(path))
        copies[-1].write_bytes(open(path, "rb").read())
    x = tarvel.dask.from_captures(copies, K, chunks=50)
    os.truncate(copies[3], 24 * 100)
    with pytest.raises(OSError, match="2400 bytes, fewer than the 3144.*cut short") as cut:
        within(TIMEOUT, tarvel.dask.estimate, x)
    assert (cut.value.filename, cut.value.code) == (str(copies[3]), 17)
    os.remove(copies[3])
    with pytest.raises(FileNotFoundError) as gone:
        within(TIMEOUT, tarvel.dask.estimate_blocks, x, BLOCK)
    assert (gone.value.filename, gone.value.code) == (str(copies[3]), 2)
    # The cluster is as it was: the same call on the files before still works.
    before = sum(SIZES[:3])
    assert bits(within(TIMEOUT, tarvel.dask.estimate, x[:before])) == bits(tarvel.estimate(samples[:before]))


def test_the_example_on_its_own_cluster(source_dir, tmp_path):
    done = subprocess.run([sys.executable, source_dir / "examples/python/dask_estimate.py", tmp_path],
                          capture_output=True, text=True, timeout=TIMEOUT)
    assert done.returncode == 0, done.stdout + done.stderr
    assert "1200000 samples of 4 channels in 4 files, 12 chunks, on 2 workers" in done.stdout
    snrs = re.search(r"blocks of 2\^16 samples: (.*) dB", done.stdout).group(1).split()
    assert len(snrs) == 1_200_000 >> 16
    assert done.stdout.endswith("the same bits as in one process: yes\n")
