"""The exact arithmetic from Python: the same bits whatever the order of the
samples, the threads or the pieces, and its mistakes named. (The exact
values themselves are checked against MPFR by tests/checks/
exact_statistics_check; test_against_tool compares the command's
arithmetic with the tool.)"""

import pickle

import numpy as np
import pytest

import tarvel

S, K = 30000, 3


@pytest.fixture(scope="module")
def samples():
    rng = np.random.default_rng(11)
    x = rng.normal(1, 2, (S, K)) * np.exp2(rng.integers(-12, 13, (S, K)))
    x = (x + 1j * x[::-1]).astype(np.complex64)
    x[S // 2 :: 2] = -x[: S // 4]
    return x


def everything(e):
    fields = ("signals", "snr_db", "covariance", "inverse", "weights", "normalized_weights")
    return [getattr(e, f).tobytes() for f in fields] + [
        e.reference, np.complex64(e.combined_signal).tobytes(), np.float32(e.combined_snr_db).tobytes()]


def accumulated(x, workers=None):
    a = tarvel.Accumulator(x.shape[1])
    a.add(x, workers=workers)
    return a


def pieces_merged(x, rng):
    """Accumulators over random pieces (one of a single sample, odd ones read
    through the block reader), merged in random order, some of them after a
    trip through bytes or pickle."""
    cuts = sorted({1, 2, *rng.choice(np.arange(3, S), 40, replace=False).tolist()})
    pieces = [accumulated(piece.astype(np.complex128) if i % 2 else piece, workers=i % 3 + 1)
              for i, piece in enumerate(np.split(x, cuts))]
    total = tarvel.Accumulator(K)
    for i in rng.permutation(len(pieces)):
        a = pieces[i]
        total.merge([a, tarvel.Accumulator.from_bytes(a.to_bytes()), pickle.loads(pickle.dumps(a))][i % 3])
    assert repr(total) == f"Accumulator(channels={K}, samples={S})"
    return pickle.loads(pickle.dumps(total)).estimate()


WAYS = [("rows permuted", lambda x, rng: tarvel.estimate(x[rng.permutation(S)])),
        ("Fortran order, combine", lambda x, rng: tarvel.combine(np.asfortranarray(x))[0]),
        ("pieces merged", pieces_merged)] + [
        (f"workers={w}", lambda x, rng, w=w: tarvel.estimate(x, workers=w)) for w in (1, 2, 3, 7, 16)]


@pytest.mark.parametrize("way", [w for _, w in WAYS], ids=[name for name, _ in WAYS])
def test_same_bits_in_any_order_threads_and_pieces(way, samples):
    assert everything(way(samples, np.random.default_rng(3))) == everything(tarvel.estimate(samples))


def test_an_accumulator_merged_with_itself_holds_its_samples_twice(samples):
    a = accumulated(samples)
    a.merge(a)
    assert everything(a.estimate()) == everything(tarvel.estimate(np.concatenate([samples] * 2)))


X = np.ones((4, 2), np.complex64)
# call, exception, words of the message; every one has code 1
ERRORS = [
    (lambda: tarvel.estimate(X, arithmetic="fast"), ValueError, "arithmetic"),
    (lambda: tarvel.combine(X, arithmetic=None), ValueError, "arithmetic"),
    (lambda: tarvel.estimate(X, workers=0), ValueError, "workers"),
    (lambda: tarvel.estimate(X, workers=2.0), TypeError, "workers"),
    (lambda: tarvel.Accumulator(2).add(X, workers=-1), ValueError, "workers"),
    (lambda: tarvel.Accumulator(3).add(X), ValueError, "channels"),
    # Read through the block reader: refused before a row is read.
    (lambda: tarvel.Accumulator(3).add(X.astype(np.complex128)), ValueError, "channels"),
    (lambda: tarvel.Accumulator(2).merge(tarvel.Accumulator(3)), ValueError, "3 channels"),
    (lambda: tarvel.Accumulator.from_bytes(b"junk"), ValueError, "not an accumulator"),
    (lambda: tarvel.Accumulator.from_bytes(tarvel.Accumulator(2).to_bytes()[:-1]), ValueError,
     "not an accumulator"),
    (lambda: tarvel.Accumulator.from_bytes("junk"), TypeError, "bytes-like"),
    (lambda: tarvel.Accumulator(2).estimate(), ValueError, "no samples"),
    (lambda: tarvel.Accumulator(0), ValueError, "at least one channel"),
]


@pytest.mark.parametrize("call,error,words", ERRORS, ids=[f"{i}: {row[2]}" for i, row in enumerate(ERRORS)])
def test_error(call, error, words):
    with pytest.raises(error) as raised:
        call()
    assert type(raised.value) is error and words in str(raised.value)
    assert raised.value.code == 1
