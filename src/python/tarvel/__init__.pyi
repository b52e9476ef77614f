"""Optimum combination of simultaneously recorded complex channels."""

import os
from typing import Iterator, Literal, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from .capture import Capture as Capture
from .capture import open_capture as open_capture

_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
_Arithmetic = Literal["exact", "command"]
_BytesLike = Union[bytes, bytearray, memoryview]
# Samples: an array (S, K) or (S, K, 2) of integer pairs, K channel arrays, or a capture.
_Samples = Union[npt.ArrayLike, Sequence[npt.NDArray[np.generic]], Capture]
_ChannelAxis = Literal[0, 1]

__version__: str

class Estimate:
    """The estimate of K channels, bit for bit what the report prints."""

    @property
    def signals(self) -> npt.NDArray[np.complex64]: ...
    @property
    def snr_db(self) -> npt.NDArray[np.float32]: ...
    @property
    def covariance(self) -> npt.NDArray[np.complex64]: ...
    @property
    def inverse(self) -> npt.NDArray[np.complex64]: ...
    @property
    def weights(self) -> npt.NDArray[np.complex64]: ...
    @property
    def normalized_weights(self) -> npt.NDArray[np.complex64]: ...
    @property
    def reference(self) -> int: ...
    @property
    def combined_signal(self) -> complex: ...
    @property
    def combined_snr_db(self) -> float: ...
    def report(self) -> str: ...

class Run:
    """What the command's run on a file gave."""

    @property
    def estimate(self) -> Estimate: ...
    @property
    def stdout(self) -> str: ...
    @property
    def output_path(self) -> str: ...

class Accumulator:
    """The exact sums of samples of K channels, added in any number of pieces."""

    def __init__(self, channels: int) -> None: ...
    @property
    def channels(self) -> int: ...
    @property
    def samples(self) -> int: ...
    def add(
        self, x: _Samples, *, workers: Optional[int] = None, channel_axis: _ChannelAxis = 1
    ) -> None: ...
    def merge(self, other: Accumulator) -> None: ...
    def estimate(self) -> Estimate: ...
    def to_bytes(self) -> bytes: ...
    @staticmethod
    def from_bytes(b: _BytesLike) -> Accumulator: ...

class Estimates:
    """The estimates of B blocks of samples, one array per field."""

    @property
    def block(self) -> int: ...
    @property
    def hop(self) -> int: ...
    @property
    def starts(self) -> npt.NDArray[np.int64]: ...
    @property
    def signals(self) -> npt.NDArray[np.complex64]: ...
    @property
    def snr_db(self) -> npt.NDArray[np.float32]: ...
    @property
    def covariance(self) -> npt.NDArray[np.complex64]: ...
    @property
    def inverse(self) -> npt.NDArray[np.complex64]: ...
    @property
    def weights(self) -> npt.NDArray[np.complex64]: ...
    @property
    def normalized_weights(self) -> npt.NDArray[np.complex64]: ...
    @property
    def reference(self) -> npt.NDArray[np.int64]: ...
    @property
    def combined_signal(self) -> npt.NDArray[np.complex64]: ...
    @property
    def combined_snr_db(self) -> npt.NDArray[np.float32]: ...
    def __len__(self) -> int: ...
    def __getitem__(self, i: int) -> Estimate: ...
    def __iter__(self) -> Iterator[Estimate]: ...

def estimate(
    x: _Samples,
    *,
    arithmetic: _Arithmetic = "exact",
    workers: Optional[int] = None,
    loading: float = 0.0,
    channel_axis: _ChannelAxis = 1,
) -> Estimate: ...
def combine(
    x: _Samples,
    out: Optional[npt.NDArray[np.complex64]] = None,
    *,
    arithmetic: _Arithmetic = "exact",
    workers: Optional[int] = None,
    loading: float = 0.0,
    channel_axis: _ChannelAxis = 1,
) -> Tuple[Estimate, npt.NDArray[np.complex64]]: ...
def estimate_blocks(
    x: _Samples,
    block: int,
    hop: Optional[int] = None,
    *,
    arithmetic: _Arithmetic = "exact",
    workers: Optional[int] = None,
    loading: float = 0.0,
    channel_axis: _ChannelAxis = 1,
) -> Estimates: ...
def apply(
    x: _Samples,
    weights: npt.ArrayLike,
    out: Optional[npt.NDArray[np.complex64]] = None,
    *,
    channel_axis: _ChannelAxis = 1,
) -> npt.NDArray[np.complex64]: ...
def combine_blocks(
    x: _Samples,
    block: int,
    out: Optional[npt.NDArray[np.complex64]] = None,
    *,
    arithmetic: _Arithmetic = "exact",
    workers: Optional[int] = None,
    loading: float = 0.0,
    channel_axis: _ChannelAxis = 1,
) -> Tuple[Estimates, npt.NDArray[np.complex64]]: ...
def read(path: _Path) -> Tuple[npt.NDArray[np.float64], npt.NDArray[np.complex64]]: ...
def write(path: _Path, t: npt.ArrayLike, y: npt.ArrayLike) -> None: ...
def run(path: _Path) -> Run: ...
