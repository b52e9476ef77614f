"""tarvel.dask on this process's threads: its arguments refused as the
package refuses them, capture files as Dask arrays, and the chunkings a
cluster cannot make quickly (unknown sizes, numpy input, other dtypes)."""

import pickle
import subprocess
import sys

import numpy as np
import pytest

da = pytest.importorskip("dask.array", reason="tarvel.dask needs Dask (python3-dask)")
import dask  # noqa: E402

import tarvel  # noqa: E402
import tarvel.dask  # noqa: E402
from dask_support import bits, captures  # noqa: E402


@pytest.fixture(autouse=True)
def threads():
    with dask.config.set(scheduler="threads"):
        yield


@pytest.fixture
def files(tmp_path):
    return captures(tmp_path, [40, 1, 23], 3, seed=5)


def test_importing_tarvel_leaves_dask_alone():
    # tarvel.dask is there to import, never imported for a user who does not.
    done = subprocess.run([sys.executable, "-c", "import sys, tarvel; "
                           "print('tarvel.dask' in sys.modules, 'dask' in sys.modules)"],
                          capture_output=True, text=True, check=True)
    assert done.stdout.split() == ["False", "False"]


GOOD = da.ones((10, 2), chunks=3, dtype=np.complex64)
REFUSED = [
    ("no channels axis", lambda: tarvel.dask.estimate(da.ones(5, dtype=np.complex64)),
     ValueError, "not (5,)"),
    ("four axes", lambda: tarvel.dask.estimate(da.ones((5, 2, 2, 2))), ValueError, "(5, 2, 2, 2)"),
    ("no samples", lambda: tarvel.dask.estimate(da.ones((0, 2))), ValueError, "(0, 2)"),
    ("no channels", lambda: tarvel.dask.combine(da.ones((5, 0))), ValueError, "(5, 0)"),
    ("strings", lambda: tarvel.dask.estimate(da.from_array(np.full((4, 2), "a"))), TypeError,
     "numbers"),
    ("block 0", lambda: tarvel.dask.estimate_blocks(GOOD, 0), ValueError, "not 0"),
    ("block past S", lambda: tarvel.dask.estimate_blocks(GOOD, 11), ValueError, "S = 10"),
    ("fractional block", lambda: tarvel.dask.estimate_blocks(GOOD, 2.5), TypeError, "float"),
    ("unknown chunk sizes", lambda: tarvel.dask.estimate_blocks(GOOD[GOOD.real[:, 0] > 0], 2),
     ValueError, "compute_chunk_sizes"),
    ("split_every 1", lambda: tarvel.dask.estimate(GOOD, split_every=1), ValueError, "split_every"),
]


@pytest.mark.parametrize("call, error, words", [r[1:] for r in REFUSED], ids=[r[0] for r in REFUSED])
def test_refused_before_anything_is_computed(call, error, words):
    with pytest.raises(error, match=words.replace("(", r"\(").replace(")", r"\)")) as caught:
        call()
    assert caught.value.code == 1


def test_other_dtypes_unknown_sizes_and_numpy_input_give_the_package_bits():
    rng = np.random.default_rng(2)
    x = rng.normal(0, 1, (300, 4)) + 1j * rng.normal(3, 1, (300, 4))
    keep = rng.random(300) > 0.3
    cases = [(da.from_array(x, chunks=(37, 3)), x),  # complex128, converted per chunk
             (da.from_array(x.real, chunks=50), x.real),
             (da.from_array(x, chunks=64)[da.from_array(keep, chunks=64)], x[keep]),  # sizes unknown
             (x.astype(np.complex64), x.astype(np.complex64))]
    for lazy, samples in cases:
        assert bits(tarvel.dask.estimate(lazy)) == bits(tarvel.estimate(samples))
        e, y = tarvel.dask.combine(lazy)
        want_e, want_y = tarvel.combine(samples)
        assert bits(e) == bits(want_e)
        assert y.compute().tobytes() == want_y.tobytes()


def test_blocks_and_the_samples_after_the_last_whole_block(files):
    paths, x = files
    lazy = tarvel.dask.from_captures(paths, 3, chunks=9)
    for block in (1, 7, 32, 64):
        got = tarvel.dask.estimate_blocks(lazy, block)
        assert len(got) == 64 // block
        for i, e in enumerate(got):
            assert bits(e) == bits(tarvel.estimate(x[i * block:(i + 1) * block])), (block, i)


def test_captures_carry_their_names_not_their_samples(tmp_path):
    paths, x = captures(tmp_path, [50_000, 30_000], 4, seed=1)
    lazy = tarvel.dask.from_captures(paths, 4, chunks=10_000)
    assert lazy.shape == (80_000, 4) and lazy.chunks[0] == (10_000,) * 8
    assert len(pickle.dumps(dict(lazy.__dask_graph__()))) < 20_000 < x.nbytes
    assert np.array_equal(lazy[49_990:50_010].compute(), x[49_990:50_010])


def test_an_empty_capture_among_others_holds_no_samples(files, tmp_path):
    paths, x = files
    (tmp_path / "empty.cf32").write_bytes(b"")
    lazy = tarvel.dask.from_captures([paths[0], tmp_path / "empty.cf32", *paths[1:]], 3)
    assert bits(tarvel.dask.estimate(lazy)) == bits(tarvel.estimate(x))


def test_captures_refused_when_made(files, tmp_path):
    paths, _ = files
    (tmp_path / "odd.cf32").write_bytes(bytes(25))  # 24 bytes a sample
    with pytest.raises(ValueError, match="odd.cf32: 25 bytes"):
        tarvel.dask.from_captures([paths[0], tmp_path / "odd.cf32"], 3)
    with pytest.raises(FileNotFoundError) as missing:
        tarvel.dask.from_captures([paths[0], tmp_path / "none.cf32"], 3)
    assert missing.value.filename == str(tmp_path / "none.cf32")
    with pytest.raises(ValueError, match="no capture files"):
        tarvel.dask.from_captures([], 3)
    with pytest.raises(ValueError, match="channels"):
        tarvel.dask.from_captures(paths, 0)


def test_integer_pairs_as_the_package_reads_them(tmp_path):
    pairs = np.random.default_rng(4).integers(-2000, 2000, (90, 3, 2), dtype=np.int16)
    pairs.tofile(tmp_path / "pairs.sc16")
    lazy = tarvel.dask.from_captures([tmp_path / "pairs.sc16"], 3, dtype=np.int16, chunks=16)
    assert lazy.shape == (90, 3, 2)
    assert bits(tarvel.dask.estimate(lazy)) == bits(tarvel.estimate(pairs))
    e, y = tarvel.dask.combine(lazy)
    assert y.compute().tobytes() == tarvel.combine(pairs)[1].tobytes()
    assert [bits(b) for b in tarvel.dask.estimate_blocks(lazy, 20)] == [
        bits(b) for b in tarvel.estimate_blocks(pairs, 20)]
