"""The exact arithmetic from Python: the same bits whatever the order of the
samples, the threads or the pieces (its mistakes are rows of test_errors). (The exact
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
