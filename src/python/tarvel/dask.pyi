"""tarvel on Dask arrays: the same estimates, bit for bit, on a cluster."""

import os
from typing import List, Optional, Sequence, Tuple, Union

import dask.array
import numpy.typing as npt

from . import Estimate

_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

SPLIT_EVERY: int

def estimate(
    x: Union[dask.array.Array, npt.ArrayLike], *, split_every: int = ..., workers: Optional[int] = 1
) -> Estimate: ...
def combine(
    x: Union[dask.array.Array, npt.ArrayLike], *, split_every: int = ..., workers: Optional[int] = 1
) -> Tuple[Estimate, dask.array.Array]: ...
def estimate_blocks(
    x: Union[dask.array.Array, npt.ArrayLike],
    block: int,
    *,
    split_every: int = ...,
    workers: Optional[int] = 1,
) -> List[Estimate]: ...
def from_captures(
    paths: Sequence[_Path], channels: int, *, dtype: npt.DTypeLike = ..., chunks: int = ...
) -> dask.array.Array: ...
