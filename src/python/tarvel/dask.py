"""tarvel on Dask arrays: the same estimates, bit for bit, on a cluster.

``import tarvel.dask`` (it needs Debian's python3-dask, and python3-distributed
for a cluster). The calls take a Dask array of samples, shape (S, K), and
compute on whatever scheduler is in force: the threads of this process, or a
``distributed.Client``'s workers on this machine or on many.

Each chunk of samples is summed where it is read into an `Accumulator`,
exact sums of O(K^2) numbers and no samples; the accumulators travel as
their bytes (`Accumulator.to_bytes`, a few KiB) and are merged in a tree,
and this process turns the last one into the `Estimate`. Since the sums are
exact, every chunking, every order of merging and every number of workers
gives what `tarvel.estimate` gives on the same samples in one call, bit for
bit.

A chunk that cannot be read ends the call with its reader's exception, as
Dask raises it; a worker lost on the way has its tasks run again elsewhere,
which changes nothing in the results.
"""

import bisect
import errno
import math
import os

import dask
import dask.array as da
import numpy as np

import tarvel

__all__ = ["combine", "estimate", "estimate_blocks", "from_captures"]

# Accumulators merged by one task of the tree: log8 of the chunks levels.
SPLIT_EVERY = 8


def estimate(x, *, split_every=SPLIT_EVERY, workers=1):
    """The estimate of the samples of a Dask array, as `tarvel.estimate`.

    Parameters
    ----------
    x : dask.array.Array or array_like, shape (S, K)
        Samples by channels, of any numeric dtype the package takes; any
        chunking (the channels are brought into one chunk where split).
    split_every : int, optional
        Accumulators merged by one task of the tree, at least 2.
    workers : int or None, optional
        Threads each chunk's sums may use (None: every processor); Dask's
        own threads and processes already share the chunks.

    Returns
    -------
    Estimate
        Bit for bit ``tarvel.estimate(x.compute())``; the samples are read
        where they are, one task per chunk, and never gathered.

    Raises
    ------
    ValueError, TypeError
        As `tarvel.estimate` for x's shape and dtype, before anything is
        computed.
    Exception
        Whatever reading a chunk raised (FileNotFoundError for a missing
        capture file, for instance), as Dask raises it.
    """
    x = _samples(x)
    chunks = _chunk_sums(x, workers)
    (sums,) = dask.compute(_merged([(chunk, 0) for chunk in chunks], split_every))
    return tarvel.Accumulator.from_bytes(_piece(sums)).estimate()


def combine(x, *, split_every=SPLIT_EVERY, workers=1):
    """The estimate of x and its combined channel, as `tarvel.combine`.

    Parameters are those of `estimate`.

    Returns
    -------
    (Estimate, dask.array.Array)
        The estimate, computed now, and the combined channel y, shape (S,),
        complex64, a lazy Dask array chunked as x's samples: each chunk is
        the chunk's samples with the estimate's normalised weights applied,
        so that y is bit for bit ``tarvel.combine(x.compute())[1]``.
        Computing y reads x a second time.
    """
    x = _samples(x)
    e = estimate(x, split_every=split_every, workers=workers)
    # Each chunk's y keeps x's axes, of length 1 past the first: a chunk
    # whose axes Dask drops is first copied whole (concatenated).
    y = x.map_blocks(_combined_chunk, weights=e.normalized_weights, dtype=np.complex64,
                     chunks=(x.chunks[0],) + ((1,),) * (x.ndim - 1),
                     meta=np.empty((0,) * x.ndim, np.complex64))
    return e, y[(slice(None),) + (0,) * (x.ndim - 1)]


def estimate_blocks(x, block, *, split_every=SPLIT_EVERY, workers=1):
    """The estimates of every whole block of `block` samples of x.

    Block i holds samples [i·block, (i + 1)·block); the samples after the
    last whole block are not read. Each chunk is read once, and summed into
    one accumulator per block it overlaps; a block's accumulators are
    merged in a tree.

    Parameters are those of `estimate`, and ``block``, the samples of each
    block, 1 to S.

    Returns
    -------
    list of Estimate
        Estimate i is bit for bit ``tarvel.estimate(x[i*block:(i+1)*block])``,
        and ``tarvel.estimate_blocks(x, block)[i]``. (A list, where
        `tarvel.estimate_blocks` gives an `Estimates`, which is made only
        by the compiled module.)

    Raises
    ------
    ValueError
        For a block outside 1 to S, a chunking whose sizes are unknown, and
        as `estimate`.
    """
    x = _samples(x)
    samples = x.shape[0]
    if math.isnan(samples):
        _refuse(ValueError, "x's chunk sizes are unknown: x.compute_chunk_sizes() first")
    if isinstance(block, bool) or not isinstance(block, (int, np.integer)):
        _refuse(TypeError, f"block must be an integer, not {type(block).__name__}")
    if not 1 <= block <= samples:
        _refuse(ValueError, f"block must be 1 to S = {samples} samples, not {block}")
    end = samples // block * block
    pieces = [[] for _ in range(samples // block)]
    first = 0
    for chunk, count in zip(_chunk_sums(x, workers, block, end), x.chunks[0]):
        for j, start in enumerate(_block_starts(first, first + count, block, end)):
            pieces[start // block].append((chunk, j))
        first += count
    merged = dask.compute(*[_merged(p, split_every) for p in pieces])
    return [tarvel.Accumulator.from_bytes(_piece(sums)).estimate() for sums in merged]


def from_captures(paths, channels, *, dtype=np.complex64, chunks=2**20):
    """The samples of raw capture files, one after the other, as a Dask array.

    Each file holds interleaved samples of `channels` channels, sample by
    sample, as an SDR's file sink writes them, in native byte order: complex
    numbers (complex64: shape (S, K)) or integer I/Q pairs (int16, int8,
    uint8: shape (S, K, 2)). Each chunk is a task that maps its file
    (numpy.memmap) on the worker that runs it, and the calls of this module
    sum it there: the graph carries the files' names, never their samples.
    A cluster's workers must see the files under the same names.

    Parameters
    ----------
    paths : sequence of str or os.PathLike
        The files, in the order of their samples.
    channels : int
        K.
    dtype : numpy dtype, optional
    chunks : int, optional
        The most samples in one chunk; each file starts a chunk.

    Returns
    -------
    dask.array.Array

    Raises
    ------
    FileNotFoundError, OSError
        For a file that cannot be found or examined now.
    ValueError
        For a file that holds no whole number of samples, no files, or
        channels below 1. When the array's chunks are read later, a file
        that has gone raises FileNotFoundError there, and one cut short
        OSError (`code` 17), as the package's calls raise them.
    """
    dtype = np.dtype(dtype)
    if channels < 1:
        raise ValueError(f"channels must be at least 1, not {channels}")
    if not paths:
        raise ValueError("no capture files")
    sample_shape = (channels,) if dtype.kind == "c" else (channels, 2)
    sample_bytes = math.prod(sample_shape) * dtype.itemsize
    files, sizes, first, stamps = [], [], 0, []
    for path in paths:
        status = os.stat(path)
        if status.st_size % sample_bytes:
            raise ValueError(f"{os.fsdecode(path)}: {status.st_size} bytes are no whole number of "
                             f"samples of {channels} channels of {dtype} ({sample_bytes} bytes each)")
        count = status.st_size // sample_bytes
        if count:
            files.append((os.fspath(path), first, count))
            sizes += [min(chunks, count - i) for i in range(0, count, chunks)]
            stamps.append(status.st_mtime_ns)
        first += count
    if not files:
        return da.empty((0,) + sample_shape, dtype=dtype)
    # Rewriting a file makes another array of it.
    name = "tarvel-captures-" + dask.base.tokenize(files, stamps, dtype.str, sample_shape, sizes)
    return da.map_blocks(_read_capture, files=tuple(files), sample_shape=sample_shape,
                         dtype=dtype, chunks=(tuple(sizes),) + tuple((n,) for n in sample_shape),
                         meta=np.empty((0,) * (1 + len(sample_shape)), dtype), name=name)


def _read_capture(files, sample_shape, block_info=None):
    """The chunk of block_info's samples, all in one file of `files`, each
    (path, first sample, samples), mapped."""
    start, stop = block_info[None]["array-location"][0]
    path, first, count = files[bisect.bisect_right([f[1] for f in files], start) - 1]
    dtype = block_info[None]["dtype"]
    need = count * math.prod(sample_shape) * dtype.itemsize
    try:
        held = os.stat(path).st_size
    except OSError as error:
        error.code = 2  # the status the package gives a missing file
        raise
    # Reading a mapped page past the file's end would end the worker with
    # SIGBUS: a file cut short is refused as the package refuses one.
    if held < need:
        error = OSError(errno.EIO, f"the file has {held} bytes, fewer than the {need} it had "
                        "when its Dask array was made: it was cut short", path)
        error.code = 17
        raise error
    samples = np.memmap(path, dtype=dtype, mode="r", shape=(count,) + sample_shape)
    return samples[start - first:stop - first]


def _samples(x):
    """x as a Dask array with the channels in one chunk, checked by the
    package as it checks its own arguments, on a sample of x's dtype."""
    x = da.asarray(x)
    if x.ndim not in (2, 3):
        _refuse(ValueError, f"x must have shape (S, K), samples by channels, not {x.shape}")
    if (not math.isnan(x.shape[0]) and x.shape[0] < 1) or x.shape[1] < 1:
        _refuse(ValueError, f"x has shape {x.shape}: it needs at least one sample and one channel")
    one = np.zeros((1,) + x.shape[1:], x.dtype)
    try:
        tarvel.Accumulator(x.shape[1]).add(one, workers=1)
    except (ValueError, TypeError) as error:
        # The package's message names the shape it was given: name x's.
        message = str(error).replace(str(one.shape), str(x.shape))
        _refuse(type(error), message, getattr(error, "code", 1))
    return x.rechunk({axis: -1 for axis in range(1, x.ndim)})


def _refuse(kind, message, code=1):
    # As the package's own exceptions, with the tool's status in `code`.
    error = kind(message)
    error.code = code
    raise error


def _chunk_sums(x, workers, block=None, end=None):
    """Per chunk of x, a Delayed of the bytes of its accumulators: the whole
    chunk's, or with `block`, one per block that the chunk overlaps below
    sample `end`, in order. The scheduler runs each where its chunk was
    read, so that only these bytes travel between workers."""
    # One box per chunk, with x's axes: a chunk whose axes Dask drops is
    # first copied whole (concatenated).
    sums = x.map_blocks(_boxed_sums, channels=x.shape[1], workers=workers, block=block, end=end,
                        chunks=((1,) * x.numblocks[0],) + ((1,),) * (x.ndim - 1),
                        dtype=object, meta=np.empty((0,) * x.ndim, object))
    return list(sums.to_delayed().ravel())


def _merged(parts, split_every):
    """One delayed accumulator's bytes from `parts`, each a (Delayed of
    _chunk_sums, index) pair, merged split_every at a time; a part alone is
    returned as it is."""
    if split_every < 2:
        _refuse(ValueError, f"split_every must be at least 2, not {split_every}")
    while len(parts) > 1:
        parts = [dask.delayed(_merge, pure=True)(parts[i:i + split_every])
                 for i in range(0, len(parts), split_every)]
    return parts[0]


def _piece(part):
    """The accumulator's bytes of a computed part of _merged."""
    if isinstance(part, tuple):
        sums, j = part
        return sums.flat[0][j]
    return part


# The tasks. Each takes and gives an accumulator's bytes, never an
# Accumulator: bytes are what every Dask transport carries as they are.

def _block_starts(first, last, block, end):
    """The first samples of the blocks of `block` samples below `end` that
    samples [first, last) overlap: a chunk's pieces, in order."""
    return range(first - first % block, min(last, end), block)


def _boxed_sums(chunk, channels, workers, block, end, block_info=None):
    cuts = [0, len(chunk)]
    if block is not None:
        first, last = block_info[0]["array-location"][0]
        starts = _block_starts(first, last, block, end)
        cuts = [max(s, first) - first for s in starts] + [min(last, end) - first]
    box = np.empty((1,) * chunk.ndim, object)
    box.flat[0] = tuple(_sums(chunk[a:b], channels, workers) for a, b in zip(cuts, cuts[1:]))
    return box


def _sums(chunk, channels, workers):
    accumulator = tarvel.Accumulator(channels)
    if len(chunk):
        accumulator.add(chunk, workers=workers)
    return accumulator.to_bytes()


def _merge(parts):
    accumulator = tarvel.Accumulator.from_bytes(_piece(parts[0]))
    for part in parts[1:]:
        accumulator.merge(tarvel.Accumulator.from_bytes(_piece(part)))
    return accumulator.to_bytes()


def _combined_chunk(chunk, weights):
    y = np.empty((len(chunk),) + (1,) * (chunk.ndim - 1), np.complex64)
    if len(chunk):
        tarvel.apply(chunk, weights, out=y.reshape(-1))
    return y
