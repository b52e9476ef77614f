"""Every layout of the same samples gives the same bits; complex64 arrays
are read in place, other arrays converted block by block, never whole."""

import tracemalloc

import numpy as np
import pytest

import tarvel

S, K = 20000, 5


@pytest.fixture(scope="module")
def samples():
    rng = np.random.default_rng(19)
    x = (rng.normal(1, 2, (S, K)) + 1j * rng.normal(-1, 3, (S, K))).astype(np.complex64)
    x[:, 2] += 0.5 * x[:, 1]  # noise shared by two channels
    return x


def strided(x):
    big = np.zeros((3 * S, 2 * K + 1), np.complex64)
    big[::3, 1::2] = x
    return big[::3, 1::2]


def reversed_in_memory(x):
    return np.ascontiguousarray(x[::-1, ::-1])[::-1, ::-1]


def memmap(x, folder):
    m = np.memmap(folder / "capture.cf32", np.complex64, "w+", shape=x.shape)
    m[:] = x
    m.flush()
    return np.memmap(folder / "capture.cf32", np.complex64, "r", shape=x.shape)


def split_elements(x):
    # Each row is 4 bytes into a float32 row: strides that are not whole
    # complex64 elements.
    parts = np.zeros((S, 2 * K + 1), np.float32)
    parts[:, 1:] = x.view(np.float32)
    return parts[:, 1:].view(np.complex64)


# name, the layout made from x; every one is read in place or cast a block
# at a time, never copied whole
LAYOUTS = [
    ("C order", lambda x, d: x),
    ("Fortran order", lambda x, d: np.asfortranarray(x)),
    ("strided slice", lambda x, d: strided(x)),
    ("negative strides", lambda x, d: reversed_in_memory(x)),
    ("memmap", memmap),
    ("complex128", lambda x, d: x.astype(np.complex128)),
    ("byte-swapped", lambda x, d: x.astype(">c8")),
    ("split elements", lambda x, d: split_elements(x)),
    ("long double", lambda x, d: x.astype(np.clongdouble)),
]


def bits(e, y):
    fields = ("signals", "snr_db", "covariance", "inverse", "weights", "normalized_weights")
    return ([getattr(e, f).tobytes() for f in fields] + [e.reference, y.tobytes()] +
            [np.array([e.combined_signal], np.complex64).tobytes(),
             np.float32(e.combined_snr_db).tobytes()])


@pytest.mark.parametrize("name,layout", LAYOUTS, ids=[row[0] for row in LAYOUTS])
def test_same_bits(name, layout, samples, tmp_path):
    expected = bits(*tarvel.combine(samples))
    x = layout(samples, tmp_path)
    assert x.shape == samples.shape and np.array_equal(x, samples)
    assert bits(tarvel.estimate(x), tarvel.combine(x)[1]) == expected
    # Read in place or block by block, estimate allocates no copy of the
    # samples (numpy's arrays are traced); converted whole, it does.
    tracemalloc.start()
    tarvel.estimate(x)
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    assert peak < samples.nbytes // 4, peak


def test_real_samples_are_complex_with_zero_imaginary_part(samples):
    real = samples.real.astype(np.float64)
    assert bits(*tarvel.combine(real)) == bits(*tarvel.combine(real.astype(np.complex64)))
    ints = np.arange(2 * K * 7, dtype=np.int16).reshape(14, K) % 5
    assert bits(*tarvel.combine(ints)) == bits(*tarvel.combine(ints.astype(np.complex64)))


# Each dtype's values as the same values in complex64, each part rounded once.
@pytest.mark.parametrize("dtype", ["f2", ">f4", "f8", ">f8", "i1", "<i4", ">i8", "u2", "u8",
                                   ">c16", "float128"])
def test_every_numeric_dtype_is_its_complex64_values(dtype):
    rng = np.random.default_rng(23)
    values = rng.normal(0, 1e3, (3001, 3)) + 2.0**-30
    if np.dtype(dtype).kind in "iu":
        values = np.abs(values) * 2.0**40 if np.dtype(dtype).itemsize == 8 else np.abs(values)
    if np.dtype(dtype).kind == "c":
        values = values + 1j * values[::-1]
    x = values.astype(dtype)
    assert bits(*tarvel.combine(x)) == bits(*tarvel.combine(x.astype(np.complex64)))


def test_complex128_parts_are_rounded_to_single(samples):
    nudged = samples.astype(np.complex128) * (1 + 2.0**-40)
    assert bits(*tarvel.combine(nudged)) == bits(*tarvel.combine(nudged.astype(np.complex64)))
    assert not np.array_equal(nudged, nudged.astype(np.complex64))


def test_out_is_written_in_place(samples, tmp_path):
    expected = tarvel.combine(samples)[1]
    out = np.memmap(tmp_path / "y.cf32", np.complex64, "w+", shape=(S,))
    e, y = tarvel.combine(samples, out=out)
    assert y is out and out.tobytes() == expected.tobytes()
    # An out over samples not yet combined gets the values of the samples as
    # they were.
    memory = np.zeros(S * K + S // 2, np.complex64)
    x = memory[: S * K].reshape(K, S).T
    x[:] = samples
    out = memory[3 * S + S // 2 : 4 * S + S // 2]
    e, y = tarvel.combine(x, out=out)
    assert y is out and out.tobytes() == expected.tobytes()


def test_estimate_arrays_are_read_only_views(samples):
    e = tarvel.estimate(samples)
    assert e.covariance.shape == (K, K) and e.covariance.dtype == np.complex64
    assert e.snr_db.dtype == np.float32 and e.weights.shape == (K,)
    with pytest.raises(ValueError):
        e.weights[0] = 0
    assert repr(e).startswith(f"Estimate(channels={K}, reference={e.reference}, ")
