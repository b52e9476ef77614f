"""What the tests of tarvel.dask share: capture files and estimates compared
bit for bit."""

import os
import signal

import numpy as np

FIELDS = ("signals", "snr_db", "covariance", "inverse", "weights", "normalized_weights")


def part_bits(values):
    """Each single-precision part as hexfloat (NaNs with their bits), so that
    a difference in the last bit shows at once."""
    parts = np.asarray(values, dtype=np.complex64 if np.iscomplexobj(values) else np.float32)
    return [float(v).hex() if v == v else f"nan:{b:08x}"
            for v, b in zip(parts.view(np.float32).ravel(), parts.view(np.uint32).ravel())]


def bits(e):
    """Every field of an Estimate, as bits."""
    got = {f: part_bits(getattr(e, f)) for f in FIELDS}
    got["reference"] = e.reference
    got["combined_signal"] = part_bits([e.combined_signal])
    got["combined_snr_db"] = part_bits([e.combined_snr_db])
    return got


def captures(folder, sizes, channels, seed):
    """Raw complex64 capture files of `sizes` samples each, their parts
    spread over many binary orders so that any other order of summing them
    in single or double precision would round differently. Returns the paths
    and all their samples in one array."""
    rng = np.random.default_rng(seed)
    total = sum(sizes)
    parts = rng.normal(1, 2, (total, channels, 2)) * np.exp2(rng.integers(-20, 21, (total, channels, 2)))
    x = (parts[..., 0] + 1j * parts[..., 1]).astype(np.complex64)
    paths, first = [], 0
    for i, size in enumerate(sizes):
        path = os.path.join(folder, f"capture{i}.cf32")
        x[first:first + size].tofile(path)
        paths.append(path)
        first += size
    return paths, x


def kill_worker_once(chunk, marker, victim, block_info=None):
    """Passes the chunk on, except that chunk `victim`'s first reading leaves
    `marker` behind and kills the process reading it, as a machine lost
    mid-run would."""
    if block_info[0]["chunk-location"][0] == victim and not os.path.exists(marker):
        with open(marker, "w") as f:
            f.write(str(os.getpid()))
        os.kill(os.getpid(), signal.SIGKILL)
    return chunk
