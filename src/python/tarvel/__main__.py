"""python3 -m tarvel CAPTURE: estimate and combine the channels of a capture file.

Prints the estimate's report (the lines from "signals:" on), or with
--block a table of each block's SNRs; --out writes the combined channel,
--plot draws the SNRs over the blocks. Exits 0 on success, else with the
error's code (the tarvel command's status for it) and one line on standard
error.
"""

import argparse
import json
import os
import sys

from . import Accumulator, apply, combine_blocks, estimate, estimate_blocks
from .capture import DATA, DATATYPES, META, open_capture

# The samples of one call between two steps of the progress bar: the calls
# on these pieces give the same bits as one call on the whole capture.
PIECE = 1 << 22


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        # One line and the library's status for a bad call, as for any other
        # failure of the command.
        self.exit(1, f"{self.prog}: {message}\n")


def _arguments(argv):
    parser = _Parser(prog="python3 -m tarvel", description=__doc__.split("\n")[0])
    parser.add_argument("capture", help="a .sigmf-meta, .sigmf-data or .sigmf-collection file, "
                        "or a raw file with --datatype")
    parser.add_argument("--channels", type=int, help="K, the channels of a raw file (default 1)")
    parser.add_argument("--datatype", choices=list(DATATYPES), help="the samples of a raw file")
    parser.add_argument("--block", type=int, help="estimate (and combine) blocks of N samples")
    parser.add_argument("--loading", type=float, default=0.0,
                        help="diagonal loading of the noise covariance (default 0)")
    parser.add_argument("--out", help="write the combined channel there, as cf32_le")
    parser.add_argument("--plot", help="draw the SNRs over the blocks into this PNG (with --block)")
    options = parser.parse_args(argv)
    if options.block is not None and options.block < 1:
        parser.error(f"--block must be at least 1, not {options.block}")
    if options.plot and options.block is None:
        parser.error("--plot draws the SNRs over blocks: give --block too")
    return options


class _Progress:
    """A progress bar on standard error when it is a terminal and the run
    takes more than one piece: tqdm's when it is installed, else a plain
    one. Nothing otherwise."""

    def __init__(self, total):
        self.total, self.done, self.bar = total, 0, None
        self.shown = sys.stderr.isatty() and total > PIECE
        if self.shown:
            try:
                from tqdm import tqdm
            except ImportError:
                return
            self.bar = tqdm(total=total, unit="sample", unit_scale=True, leave=False,
                            file=sys.stderr)

    def update(self, count):
        self.done += count
        if self.bar is not None:
            self.bar.update(count)
        elif self.shown:
            filled = 40 * self.done // self.total
            sys.stderr.write(f"\r[{'#' * filled}{' ' * (40 - filled)}] "
                             f"{100 * self.done // self.total:3d}%")
            sys.stderr.flush()

    def close(self):
        if self.bar is not None:
            self.bar.close()
        elif self.shown:
            sys.stderr.write("\r" + " " * 48 + "\r")
            sys.stderr.flush()


def _rows(samples, first, end):
    """Samples [first, end) of a capture's maps, still mapped."""
    if isinstance(samples, tuple):
        return tuple(channel[first:end] for channel in samples)
    return samples[first:end]


def _pieces(count, step):
    return [(first, min(first + step, count)) for first in range(0, count, step)]


def _whole(capture, loading, out, progress):
    """The estimate of every sample, and with `out` the combined channel:
    the exact sums added a piece at a time, the weights applied likewise."""
    samples, count = capture.samples, len(capture)
    if loading == 0:
        sums = Accumulator(capture.channels)
        for first, end in _pieces(count, PIECE):
            sums.add(_rows(samples, first, end))
            progress.update(end - first)
        e = sums.estimate()
    else:
        # The accumulator's estimate has no loading: one call.
        e = estimate(capture, loading=loading)
        progress.update(count)
    if out is not None:
        for first, end in _pieces(count, PIECE):
            apply(_rows(samples, first, end), e.normalized_weights, out=out[first:end])
            progress.update(end - first)
    return e


def _blocks(capture, block, loading, out, progress):
    """The starts, SNRs and combined SNRs of every whole block, and with
    `out` each block combined with its own weights (the samples past the
    last whole block with the last block's)."""
    samples, count = capture.samples, len(capture)
    if block > count:
        raise ValueError(f"--block {block} is past the {count} samples of "
                         f"{capture.metadata or capture.files[0]}")
    whole = count // block * block
    step = max(1, PIECE // block) * block
    starts, snr, combined = [], [], []
    for first, end in _pieces(whole, step):
        # The last piece takes the samples after the last whole block too.
        end = count if end == whole else end
        if out is None:
            e = estimate_blocks(_rows(samples, first, end), block, loading=loading)
        else:
            e, _ = combine_blocks(_rows(samples, first, end), block, out=out[first:end],
                                  loading=loading)
        starts.extend((first + e.starts).tolist())
        snr.extend(e.snr_db.tolist())
        combined.extend(e.combined_snr_db.tolist())
        progress.update(end - first)
    return starts, snr, combined


def _write_metadata(capture, out):
    """The SigMF metadata of the combined channel, beside it."""
    base = out[: -len(DATA)] if out.endswith(DATA) else os.path.splitext(out)[0]
    fields = {"core:datatype": "cf32_le", "core:version": "1.0.0", "core:num_channels": 1,
              "core:description": f"{capture.channels} channels of {capture.metadata} "
                                  f"combined by tarvel"}
    if capture.sample_rate is not None:
        fields["core:sample_rate"] = capture.sample_rate
    if not out.endswith(DATA):
        fields["core:dataset"] = os.path.basename(out)
    with open(base + META, "w", encoding="utf-8") as file:
        json.dump({"global": fields, "captures": [{"core:sample_start": 0}], "annotations": []},
                  file, indent=2)
        file.write("\n")


def _plot(path, capture, block, starts, snr, combined):
    try:
        import matplotlib
    except ImportError:
        raise ImportError("--plot draws with matplotlib, which is not installed "
                          "(Debian: python3-matplotlib)") from None

    matplotlib.use("Agg")  # no display needed
    import matplotlib.pyplot as plt

    rate = capture.sample_rate
    # Each block drawn at its middle.
    times = [(start + block / 2) / (rate or 1) for start in starts]
    figure, axes = plt.subplots(figsize=(9, 4.5))
    for k in range(capture.channels):
        axes.plot(times, [row[k] for row in snr], linewidth=1, label=f"channel {k}")
    axes.plot(times, combined, color="black", linewidth=2, label="combined")
    axes.set_xlabel("time (s)" if rate else "sample")
    axes.set_ylabel("SNR (dB)")
    axes.set_title(f"SNR of each block of {block} samples")
    axes.legend(loc="best", fontsize="small")
    axes.grid(alpha=0.3)
    figure.tight_layout()
    figure.savefig(path, dpi=80)
    plt.close(figure)


def run(argv=None):
    """The command's run; returns its exit status."""
    options = _arguments(argv)
    capture = open_capture(options.capture, channels=options.channels,
                           datatype=options.datatype)
    out = None
    if options.out is not None:
        import numpy as np

        out = np.memmap(options.out, np.dtype("<c8"), mode="w+", shape=(len(capture),))
    # Without blocks, the weights are applied once the estimate is made.
    phases = 2 if out is not None and options.block is None else 1
    progress = _Progress(phases * len(capture))
    try:
        if options.block is None:
            e = _whole(capture, options.loading, out, progress)
        else:
            starts, snr, combined = _blocks(capture, options.block, options.loading, out,
                                            progress)
    finally:
        progress.close()
    if out is not None:
        out.flush()
        if capture.metadata is not None:
            _write_metadata(capture, options.out)
    if options.block is None:
        print(e.report().replace("\r\n", "\n"), end="")
        return 0
    columns = [f"{'start':>12}"] + [f"{f'ch {k} dB':>10}" for k in range(capture.channels)]
    print(" ".join(columns + [f"{'combined dB':>12}"]))
    for start, row, value in zip(starts, snr, combined):
        print(" ".join([f"{start:12d}"] + [f"{v:10.3f}" for v in row] + [f"{value:12.3f}"]))
    if options.plot:
        _plot(options.plot, capture, options.block, starts, snr, combined)
    return 0


def main(argv=None):
    try:
        return run(argv)
    except KeyboardInterrupt:
        print("python3 -m tarvel: interrupted", file=sys.stderr)
        return 9
    except BrokenPipeError:
        # The reader of standard output went away (`| head`): nothing more to
        # say to anyone, and nothing for Python to flush at exit.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except (OSError, ValueError, TypeError, MemoryError, ImportError) as error:
        code = getattr(error, "code", None)
        if not isinstance(code, int):
            code = (2 if isinstance(error, (FileNotFoundError, IsADirectoryError))
                    else 3 if isinstance(error, OSError) else 4 if isinstance(error, MemoryError)
                    else 1)
        message = " ".join(str(error).split())
        print(f"python3 -m tarvel: {message}", file=sys.stderr)
        return code


if __name__ == "__main__":
    sys.exit(main())
