"""Captures on disk: SigMF recordings and raw sample files, mapped, never read whole.

A capture is opened once with `open_capture`, which reads its metadata and
maps its data files with ``numpy.memmap``; every call of the module (the
estimates, the combinations, ``Accumulator.add``) then takes the capture
where it takes an array of samples, and reads the samples from the files a
block at a time. Only the metadata is read here: the numbers are the
compiled module's.
"""

import errno
import json
import math
import os
import stat

import numpy as np

# Each datatype taken: the numpy dtype of one value (a complex element, or
# one part of an integer I/Q pair) and whether the values are pairs.
DATATYPES = {
    "cf32_le": (np.dtype("<c8"), False),
    "cf32_be": (np.dtype(">c8"), False),
    "ci16_le": (np.dtype("<i2"), True),
    "ci16_be": (np.dtype(">i2"), True),
    "ci8": (np.dtype("i1"), True),
    "cu8": (np.dtype("u1"), True),
}

META, DATA, COLLECTION = ".sigmf-meta", ".sigmf-data", ".sigmf-collection"


def _error(kind, message, filename=None, code=1):
    """An exception of `kind` as the module raises them: with `code`, the
    command's exit status for it, and the file it is about."""
    if issubclass(kind, OSError):
        # As open() raises it, so that str() names the file once.
        error = kind(errno.EINVAL, message, filename)
    else:
        error = kind(message)
        error.filename = filename
    error.code = code
    return error


def _regular_size(path):
    """The size of the regular file at `path`; OSError with `code` as the
    library gives for a file that is missing (2) or not a regular file (1)."""
    try:
        status = os.stat(path)
    except OSError as error:
        error.code = 2
        raise
    if not stat.S_ISREG(status.st_mode):
        raise _error(OSError, "not a regular file", path, 1)
    return status.st_size


class Capture:
    """Samples of K channels in files, mapped with numpy.memmap.

    Returned by `open_capture`. Every call that takes samples takes a
    capture, and reads its files in place, a block at a time; before each
    call the files' sizes are checked, and a file shorter than when it was
    opened is refused with OSError rather than read.

    Attributes
    ----------
    samples : numpy.memmap or tuple of numpy.memmap
        The mapped samples: shape (S, K) of complex64 (cf32), or (S, K, 2)
        of integer I/Q pairs (ci16, ci8, cu8); for a SigMF collection, one
        map per channel, of shape (S,) or (S, 2).
    channels : int
        K.
    sample_rate : float or None
        The samples per second, when the metadata gives it.
    datatype : str
        The SigMF name of the sample type, e.g. "ci16_le".
    files : tuple of str
        The data files, one per map.
    metadata : str or None
        The SigMF metadata (or collection) file; None for a raw file.
    """

    def __init__(self, samples, channels, datatype, sample_rate, files, metadata):
        self.samples = samples
        self.channels = channels
        self.datatype = datatype
        self.sample_rate = sample_rate
        self.files = tuple(files)
        self.metadata = metadata

    def __len__(self):
        """S, the number of samples of each channel."""
        first = self.samples[0] if isinstance(self.samples, tuple) else self.samples
        return len(first)

    def __tarvel_samples__(self):
        # What the compiled calls read: each map is checked against its
        # file's size there, before every call.
        return self.samples

    def __repr__(self):
        rate = "" if self.sample_rate is None else f", sample_rate={self.sample_rate!r}"
        return (f"Capture({self.metadata or self.files[0]!r}, samples={len(self)}, "
                f"channels={self.channels}, datatype={self.datatype!r}{rate})")


def _metadata(path):
    """A SigMF metadata file's JSON object."""
    _regular_size(path)
    try:
        with open(path, "rb") as file:
            text = file.read()
    except OSError as error:
        error.code = 2
        raise
    try:
        document = json.loads(text)
    except (ValueError, UnicodeDecodeError) as error:
        raise _error(ValueError, f"{path} is not valid JSON: {error}", path) from None
    if not isinstance(document, dict):
        raise _error(ValueError, f"{path} holds no JSON object", path)
    return document


def _recording(meta_path):
    """A SigMF recording's data file, datatype, channels and sample rate."""
    document = _metadata(meta_path)
    fields = document.get("global")
    if not isinstance(fields, dict):
        raise _error(ValueError, f"{meta_path} has no \"global\" object", meta_path)
    if "core:datatype" not in fields:
        raise _error(ValueError, f"{meta_path} has no global core:datatype", meta_path)
    datatype = fields["core:datatype"]
    if datatype not in DATATYPES:
        raise _error(ValueError, f"{meta_path}: global core:datatype {datatype!r} is not one of "
                     f"{', '.join(DATATYPES)}", meta_path)
    channels = fields.get("core:num_channels", 1)
    if isinstance(channels, bool) or not isinstance(channels, int) or channels < 1:
        raise _error(ValueError, f"{meta_path}: global core:num_channels must be a whole "
                     f"number of at least 1, not {channels!r}", meta_path)
    rate = fields.get("core:sample_rate")
    if rate is not None and (isinstance(rate, bool) or not isinstance(rate, (int, float))
                             or not math.isfinite(rate) or rate <= 0):
        raise _error(ValueError, f"{meta_path}: global core:sample_rate must be a positive "
                     f"number, not {rate!r}", meta_path)
    # A data file named otherwise than the metadata is named in core:dataset.
    folder = os.path.dirname(meta_path)
    dataset = fields.get("core:dataset")
    if dataset is not None and not isinstance(dataset, str):
        raise _error(ValueError, f"{meta_path}: global core:dataset must be a file name, not "
                     f"{dataset!r}", meta_path)
    data = (os.path.join(folder, dataset) if dataset
            else meta_path[: -len(META)] + DATA if meta_path.endswith(META) else meta_path + DATA)
    return data, datatype, channels, None if rate is None else float(rate)


def _mapped(data, datatype, channels, source, per_channel=False):
    """The data file mapped as S samples of `channels` channels (shape (S,)
    or (S, 2) with `per_channel`, one channel of a collection); ValueError
    naming `source`, the file whose fields describe it, when its length is
    not a whole number of samples."""
    dtype, pairs = DATATYPES[datatype]
    sample_bytes = channels * dtype.itemsize * (2 if pairs else 1)
    size = _regular_size(data)
    described = (f"core:datatype {datatype}, core:num_channels {channels}" if source != data
                 else f"datatype {datatype}, {channels} channels")
    if size == 0:
        raise _error(ValueError, f"{data} holds no samples ({described})", data)
    if size % sample_bytes:
        raise _error(ValueError, f"{data} holds {size} bytes, not a whole number of samples of "
                     f"{sample_bytes} bytes ({described}, in {source})", data)
    count = size // sample_bytes
    shape = (count,) if per_channel else (count, channels)
    return np.memmap(data, dtype, mode="r", shape=shape + ((2,) if pairs else ()))


def _collection(path):
    """A SigMF collection of single-channel recordings, one per channel."""
    document = _metadata(path)
    fields = document.get("collection")
    streams = fields.get("core:streams") if isinstance(fields, dict) else None
    if not isinstance(streams, list) or not streams:
        raise _error(ValueError, f"{path} has no collection core:streams list of recordings",
                     path)
    folder = os.path.dirname(path)
    maps, files, recordings = [], [], []
    for stream in streams:
        name = stream.get("name") if isinstance(stream, dict) else stream
        if not isinstance(name, str) or not name:
            raise _error(ValueError, f"{path}: each of collection core:streams needs a name, "
                         f"not {stream!r}", path)
        meta = os.path.join(folder, name if name.endswith(META) else name + META)
        data, datatype, channels, rate = _recording(meta)
        if channels != 1:
            raise _error(ValueError, f"{meta}: global core:num_channels is {channels}: each "
                         f"recording of the collection {path} is one channel", meta)
        recordings.append((meta, datatype, rate))
        maps.append(_mapped(data, datatype, 1, meta, per_channel=True))
        files.append(data)
    first_meta, datatype, rate = recordings[0]
    for (meta, other_type, other_rate), mapped, data in zip(recordings, maps, files):
        for field, value, first in (("core:datatype", other_type, datatype),
                                    ("core:sample_rate", other_rate, rate)):
            if value != first:
                raise _error(ValueError, f"{meta}: global {field} is {value!r}, {first!r} in "
                             f"{first_meta}: the recordings of {path} must agree", meta)
        if len(mapped) != len(maps[0]):
            raise _error(ValueError, f"{data} holds {len(mapped)} samples, {files[0]} "
                         f"{len(maps[0])}: the recordings of {path} are of one time span", data)
    return Capture(tuple(maps), len(maps), datatype, rate, files, path)


def open_capture(path, *, channels=None, datatype=None):
    """Open a capture file: SigMF metadata, a SigMF collection or raw samples.

    Reads the metadata and maps the data with numpy.memmap; no sample is
    read until a call reads them, a block at a time.

    Parameters
    ----------
    path : str or os.PathLike
        One of:

        - ``NAME.sigmf-meta`` or ``NAME.sigmf-data``: a SigMF recording,
          its samples in ``NAME.sigmf-data`` (or the file its
          ``core:dataset`` names). Of its metadata's ``global`` object,
          ``core:datatype`` (required), ``core:num_channels`` (default 1;
          K channels interleaved sample by sample) and ``core:sample_rate``
          (optional) are read; every other field is left alone.
        - ``NAME.sigmf-collection``: a SigMF collection whose
          ``core:streams`` list names K single-channel recordings of one
          datatype, sample rate and length, channel k the k-th.
        - any other file: raw interleaved samples of `channels` channels of
          `datatype`.
    channels : int, optional
        K for a raw file (default 1); for SigMF, None or the metadata's.
    datatype : str, optional
        For a raw file, required: "cf32_le", "cf32_be", "ci16_le",
        "ci16_be", "ci8" or "cu8" (the SigMF names; cu8 values are taken
        as value - 127.5). For SigMF, None or the metadata's.

    Returns
    -------
    Capture
        Taken by every call that takes samples. Little-endian cf32 and the
        integer pairs are read in place; the big-endian types are
        converted a block at a time.

    Raises
    ------
    FileNotFoundError
        When a file is missing (code 2).
    OSError
        When a file is not a regular file (code 1).
    ValueError
        Naming the file and the field: metadata that is not valid JSON,
        lacks core:datatype or names one not taken, a data file whose
        length is not a whole number of samples or is 0, a collection's
        recordings that disagree, or channels or datatype missing for a raw
        file or unlike the metadata's (code 1).

    Examples
    --------
    >>> c = tarvel.open_capture("rx.sigmf-meta")  # doctest: +SKIP
    >>> c.channels, c.datatype, c.sample_rate  # doctest: +SKIP
    (4, 'ci16_le', 2000000.0)
    >>> e, y = tarvel.combine(c)  # doctest: +SKIP
    """
    path = os.fspath(path)
    if isinstance(path, bytes):
        path = os.fsdecode(path)
    if path.endswith(COLLECTION):
        capture = _collection(path)
    elif path.endswith((META, DATA)):
        meta = path[: -len(DATA)] + META if path.endswith(DATA) else path
        data, found_type, found_channels, rate = _recording(meta)
        capture = Capture(_mapped(data, found_type, found_channels, meta), found_channels,
                          found_type, rate, [data], meta)
    else:
        if datatype is None:
            raise _error(ValueError, f"{path} is no SigMF file: give its datatype ("
                         f"{', '.join(DATATYPES)})", path)
        if datatype not in DATATYPES:
            raise _error(ValueError, f"datatype must be one of {', '.join(DATATYPES)}, not "
                         f"{datatype!r}", path)
        count = 1 if channels is None else channels
        if isinstance(count, bool) or not isinstance(count, int) or count < 1:
            raise _error(ValueError, f"channels must be a whole number of at least 1, not "
                         f"{channels!r}", path)
        return Capture(_mapped(path, datatype, count, path), count, datatype, None, [path], None)
    for name, given, found in (("channels", channels, capture.channels),
                               ("datatype", datatype, capture.datatype)):
        if given is not None and given != found:
            raise _error(ValueError, f"{name} {given!r} is not the {found!r} of "
                         f"{capture.metadata}", capture.metadata)
    return capture
