"""Optimum combination of simultaneously recorded complex channels.

The compiled part, ``tarvel._tarvel``, holds every number; this package is
what users import. ``help(tarvel)`` shows its documentation. The same
estimates over Dask arrays, on a cluster too, are ``tarvel.dask``'s, which
``import tarvel.dask`` brings in (``import tarvel`` alone never imports Dask).
"""

from . import _tarvel
from ._tarvel import Accumulator, Estimate, Run, __version__, combine, estimate, read, run, write
from ._tarvel import Estimates, apply, combine_blocks, estimate_blocks
from .capture import Capture, open_capture

__doc__ = _tarvel.__doc__

__all__ = ["Accumulator", "Estimate", "Run", "__version__", "combine", "estimate", "read", "run",
           "write"]
__all__ += ["Capture", "Estimates", "apply", "combine_blocks", "estimate_blocks", "open_capture"]
