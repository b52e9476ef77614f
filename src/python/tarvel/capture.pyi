"""Captures on disk: SigMF recordings and raw sample files, mapped, never read whole."""

import os
from typing import Dict, Literal, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

_Datatype = Literal["cf32_le", "cf32_be", "ci16_le", "ci16_be", "ci8", "cu8"]

DATATYPES: Dict[str, Tuple[np.dtype[np.generic], bool]]

class Capture:
    """Samples of K channels in files, mapped with numpy.memmap."""

    # numpy.memmap arrays: one, or one per channel of a collection.
    samples: Union[npt.NDArray[np.generic], Tuple[npt.NDArray[np.generic], ...]]
    channels: int
    datatype: str
    sample_rate: Optional[float]
    files: Tuple[str, ...]
    metadata: Optional[str]
    def __len__(self) -> int: ...
    def __tarvel_samples__(self) -> object: ...

def open_capture(
    path: Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"],
    *,
    channels: Optional[int] = None,
    datatype: Optional[_Datatype] = None,
) -> Capture: ...
