"""The exact arithmetic: each mean and covariance part is the exact value
rounded once to single, whatever the order of the samples, the threads or
the pieces. (test_against_tool compares the command's arithmetic with the
tool.)"""

import math
import pickle
from fractions import Fraction

import numpy as np
import pytest

import tarvel

F32_MAX = np.finfo(np.float32).max
# Half a unit in the last place past the largest float32: from there on, inf.
OVERFLOW = Fraction(float(F32_MAX)) + Fraction(2) ** 103


def single(q):
    """The Fraction q rounded to float32: to nearest, ties to even."""
    if abs(q) >= OVERFLOW:
        return np.float32(math.copysign(math.inf, q))
    with np.errstate(over="ignore"):  # q just below OVERFLOW, and past the largest
        near = np.clip(np.float32(float(q)), -F32_MAX, F32_MAX)
        around = [near, np.nextafter(near, np.float32(-np.inf)), np.nextafter(near, np.float32(np.inf))]
    return min((c for c in around if np.isfinite(c)),
               key=lambda c: (abs(Fraction(float(c)) - q), int(c.view(np.uint32)) & 1))


def reference(x):
    """The exact means and covariance of x, each part rounded once. Every
    float32 is an integer times 2**-149, so the sums are of integers."""
    s, k = x.shape
    re, im = (np.array([[int(Fraction(float(v)) * 2**149) for v in row] for row in part], object)
              for part in (x.real, x.imag))
    total_re, total_im = re.sum(axis=0), im.sum(axis=0)
    # s * (x - mu), in units of 2**-149
    d_re, d_im = s * re - total_re, s * im - total_im
    means = [complex(single(Fraction(a, s * 2**149)), single(Fraction(b, s * 2**149)))
             for a, b in zip(total_re, total_im)]
    # sum_n (x_i - mu_i) conj(x_j - mu_j), in units of 2**-298 / s**2
    products = zip(d_re.T @ d_re + d_im.T @ d_im, d_im.T @ d_re - d_re.T @ d_im)
    scale = s**3 * 2**298
    cov = [[complex(single(Fraction(a, scale)), single(Fraction(b, scale))) for a, b in zip(*row)]
           for row in products]
    return np.array(means, np.complex64), np.array(cov, np.complex64)


def hard(seed, s, k):
    """s x k samples whose sums round badly: parts over the whole float32
    range or of near magnitudes, subnormal or special, and rows that cancel."""
    rng = np.random.default_rng(seed)
    shape = (s, k, 2)
    spread = rng.choice([276, 40, 3])
    top = rng.integers(spread - 149, 128)
    kinds = [rng.uniform(1, 1.99, shape) * np.exp2(top - rng.integers(0, spread + 1, shape)),
             rng.integers(1, 2**23, shape) * 2.0**-149,
             rng.choice([0.0, -0.0, 1.0, 1e15], shape)]
    parts = np.choose(rng.choice(3, shape, p=[0.7, 0.1, 0.2]), kinds) * rng.choice([-1.0, 1.0], shape)
    rows = rng.permutation(s)
    parts[rows[1 : s // 2 : 2]] = -parts[rows[0 : s // 2 - 1 : 2]]
    return (parts[..., 0] + 1j * parts[..., 1]).astype(np.complex64)


def assert_same_bits(got, want):
    got, want = got.view(np.float32).ravel(), want.view(np.float32).ravel()
    differ = [(i, float(g).hex(), float(w).hex())
              for i, (g, w) in enumerate(zip(got, want)) if g.tobytes() != w.tobytes()]
    assert not differ, differ[:4]


CASES = ([np.array([[1e30], [1], [-1e30]], np.complex64),
          np.array([[1e30 + 1e-45j, -2j, -1e30]], np.complex64).T,
          np.array([[3e38, 1e-45], [-3e38, 1e-45]], np.complex64),
          hard(0, 1, 4)] +
         [hard(seed, s, k) for seed, (s, k) in enumerate([(2, 1), (7, 2), (50, 4), (33, 3)] * 5, 1)])


@pytest.mark.parametrize("x", CASES, ids=[f"{i}: {x.shape}" for i, x in enumerate(CASES)])
def test_means_and_covariance_are_exact_values_rounded_once(x):
    signals, covariance = reference(x)
    one_at_a_time = tarvel.Accumulator(x.shape[1])
    for row in x:
        one_at_a_time.merge(accumulated(row[np.newaxis]))
    for e in (tarvel.estimate(x), tarvel.estimate(x, arithmetic="exact", workers=2),
              one_at_a_time.estimate()):
        assert_same_bits(e.signals, signals)
        assert_same_bits(e.covariance, covariance)


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
