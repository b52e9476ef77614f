"""Integer I/Q pairs and channels-first arrays give the bits of the same
values as complex64; block estimates are their slices' estimates; weights
applied are combine's; and each mistaken argument is named."""

import numpy as np
import pytest

import tarvel

K = 4


def bits(e, y=None):
    fields = ("signals", "snr_db", "covariance", "inverse", "weights", "normalized_weights")
    return ([getattr(e, f).tobytes() for f in fields] + [e.reference, e.report()] +
            ([] if y is None else [y.tobytes()]))


def pairs(dtype, s, rng):
    info = np.iinfo(dtype)
    p = rng.integers(info.min, info.max, (s, K, 2), endpoint=True).astype(dtype)
    p[:, 1] = p[:, 0] // 2 + p[:, 1] // 2  # noise shared by two channels
    return p


def as_complex(p):
    values = p.astype(np.float32) - (127.5 if p.dtype == np.uint8 else 0)
    return (values[..., 0] + 1j * values[..., 1]).astype(np.complex64)


def strided(p, rng):
    """p inside a larger array at random steps and directions, the channel
    axis first or second: in place when the two parts stay adjacent."""
    steps = rng.integers(1, 4, 2) * rng.choice([-1, 1], 2)
    big = np.zeros((len(p) * abs(steps[0]), K * abs(steps[1]), 2), p.dtype)
    view = big[:: steps[0], :: steps[1]]
    view[:] = p
    return view


# layout name, the array made from the pairs p, its channel_axis
LAYOUTS = [
    ("C order", lambda p, rng: p, 1),
    ("channels first", lambda p, rng: np.ascontiguousarray(p.transpose(1, 0, 2)), 0),
    ("random strides", strided, 1),
    ("random strides, channels first", lambda p, rng: strided(p, rng).transpose(1, 0, 2), 0),
    # Converted a block at a time: parts apart, or in the other byte order.
    ("parts apart", lambda p, rng: np.ascontiguousarray(p.transpose(2, 0, 1)).transpose(1, 2, 0), 1),
    ("byte-swapped", lambda p, rng: p.astype(p.dtype.newbyteorder()), 1),
]


@pytest.mark.parametrize("dtype", [np.int16, np.int8, np.uint8])
@pytest.mark.parametrize("name,layout,axis", LAYOUTS, ids=[row[0] for row in LAYOUTS])
def test_integer_pairs_are_their_complex64_values(dtype, name, layout, axis):
    rng = np.random.default_rng(abs(hash((name, np.dtype(dtype).name))) % 2**32)
    p = pairs(dtype, 3001, rng)
    x = layout(p, rng)
    expected = tarvel.combine(as_complex(p))
    assert bits(*tarvel.combine(x, channel_axis=axis)) == bits(*expected)
    command = tarvel.estimate(x, arithmetic="command", channel_axis=axis)
    assert bits(command) == bits(tarvel.estimate(as_complex(p), arithmetic="command"))
    sums = tarvel.Accumulator(K)
    sums.add(x, channel_axis=axis)
    assert bits(sums.estimate()) == bits(expected[0])


class Channels:
    """One array per channel, as a capture of one file per channel hands them on."""

    def __init__(self, arrays):
        self.arrays = arrays

    def __tarvel_samples__(self):
        return self.arrays


def test_channels_first_and_channel_lists_are_read_as_samples_by_channels():
    x = as_complex(pairs(np.int16, 2000, np.random.default_rng(5)))
    expected = bits(*tarvel.combine(x))
    assert bits(*tarvel.combine(np.ascontiguousarray(x.T), channel_axis=0)) == expected
    assert bits(*tarvel.combine(Channels([x[:, k].copy() for k in range(K)]))) == expected
    # Two dimensions of integers stay real values, as before pairs.
    ints = x.real.astype(np.int16)
    assert bits(tarvel.estimate(ints)) == bits(tarvel.estimate(ints.astype(np.complex64)))


# S, block, hop; the hop below, equal to and above the block
BLOCKS = [(1000, 100, 25), (1000, 100, 100), (1003, 97, 150), (17, 17, 1), (500, 1, 7),
          (4096, 1000, 999)]


@pytest.mark.parametrize("s,block,hop", BLOCKS)
def test_estimate_blocks_are_their_slices_estimates(s, block, hop):
    rng = np.random.default_rng(s + block + hop)
    x = pairs(np.int8, s, rng)
    loading = 0.5 if block <= K else 0.0  # short blocks: a singular covariance
    e = tarvel.estimate_blocks(x, block, hop, loading=loading)
    starts = np.arange(0, s - block + 1, hop)
    assert (len(e), e.block, e.hop) == (len(starts), block, hop)
    assert e.starts.tolist() == starts.tolist()
    for i in sorted({0, len(starts) // 2, len(starts) - 1}):
        alone = tarvel.estimate(x[starts[i]:starts[i] + block], loading=loading)
        assert bits(e[i]) == bits(alone)
        assert e.snr_db[i].tobytes() == alone.snr_db.tobytes()
        assert e.covariance[i].tobytes() == alone.covariance.tobytes()
        # A block of one sample has no noise: NaN, the same NaN.
        assert (e.combined_snr_db[i:i + 1].tobytes() ==
                np.array([alone.combined_snr_db], np.float32).tobytes())
    assert bits(e[-1]) == bits(list(e)[-1])


def test_weights_applied_and_blocks_combined_are_combines_bits(tmp_path):
    x = pairs(np.int16, 10007, np.random.default_rng(8))
    e, y = tarvel.combine(x)
    out = np.memmap(tmp_path / "y.cf32", np.complex64, "w+", shape=(len(x),))
    assert tarvel.apply(x, e.normalized_weights, out=out) is out
    assert out.tobytes() == y.tobytes()
    blocks, y = tarvel.combine_blocks(x, 1000)
    assert bits(blocks[3]) == bits(tarvel.estimate_blocks(x, 1000)[3])
    # The samples past the last whole block take its weights.
    tail = tarvel.apply(x[9000:], blocks.normalized_weights[-1])
    assert y[9000:].tobytes() == tail.tobytes()
    assert y[:1000].tobytes() == tarvel.combine(x[:1000])[1].tobytes()


def test_loading_makes_singular_noise_invertible_and_leaves_the_statistics():
    x = as_complex(pairs(np.int16, 3, np.random.default_rng(9)))  # S < K: R is singular
    plain, loaded = tarvel.estimate(x), tarvel.estimate(x, loading=0.01)
    assert plain.covariance.tobytes() == loaded.covariance.tobytes()
    assert plain.snr_db.tobytes() == loaded.snr_db.tobytes()
    # Without it the weights are the singular inverse's rounding errors.
    assert np.abs(loaded.weights).max() < 1e-3 * np.abs(plain.weights).max()
    assert np.isfinite(loaded.combined_snr_db)
    assert bits(tarvel.estimate(x, loading=0.0)) == bits(plain)


X = np.ones((4, 2), np.complex64)
W = np.ones(2, np.complex64)

# call, exception, words of the message (every one has code 1)
ERRORS = [
    (lambda: tarvel.estimate_blocks(X, 0), ValueError, "block must be at least 1"),
    (lambda: tarvel.estimate_blocks(X, 5), ValueError, "block must be at most the 4"),
    (lambda: tarvel.combine_blocks(X, 5), ValueError, "block must be at most"),
    (lambda: tarvel.estimate_blocks(X, 2, 0), ValueError, "hop must be at least 1"),
    (lambda: tarvel.estimate_blocks(X, 2.0), TypeError, "block must be an integer"),
    (lambda: tarvel.estimate_blocks(X, True), TypeError, "block must be an integer"),
    (lambda: tarvel.apply(X, np.ones(3, np.complex64)), ValueError, "weights must have shape (2,)"),
    (lambda: tarvel.apply(X, np.ones((1, 2), np.complex64)), ValueError, "weights must have shape"),
    (lambda: tarvel.apply(X, W.astype(np.complex128)), TypeError, "complex128"),
    (lambda: tarvel.apply(X, ["a", "b"]), TypeError, "weights must be complex64"),
    (lambda: tarvel.apply(X, W, out=np.zeros(3, np.complex64)), ValueError, "out must be"),
    (lambda: tarvel.combine_blocks(X, 2, out=np.zeros(4)), ValueError, "out must be"),
    (lambda: tarvel.estimate(np.ones((4, 2, 3), np.int16)), ValueError, "last axis must be 2"),
    (lambda: tarvel.estimate(np.ones((4, 2, 2), np.float32)), ValueError, "integer I/Q pairs"),
    (lambda: tarvel.estimate(X, loading=-1), ValueError, "loading must be 0 or more"),
    (lambda: tarvel.combine(X, loading=float("nan")), ValueError, "loading must be 0 or more"),
    (lambda: tarvel.estimate_blocks(X, 2, loading="1"), TypeError, "loading must be a real"),
    (lambda: tarvel.estimate(X, channel_axis=2), ValueError, "channel_axis must be 0"),
    (lambda: tarvel.apply(X, W, channel_axis=-1), ValueError, "channel_axis must be 0"),
    (lambda: tarvel.estimate(Channels([X[:, 0], X[:3, 1]])), ValueError,
     "channel 1 of x has 3 samples"),
    (lambda: tarvel.estimate(Channels([X[:, 0], X])), ValueError,
     "channel 1 of x must have shape (S,)"),
    (lambda: tarvel.estimate(Channels([X[:, 0]]), channel_axis=0), ValueError,
     "channel_axis must be 1"),
]


@pytest.mark.parametrize("call,exception,words", ERRORS)
def test_mistakes_are_named(call, exception, words):
    with pytest.raises(exception) as raised:
        call()
    assert words in str(raised.value)
    assert raised.value.code == 1
