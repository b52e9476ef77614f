"""tarvel.run against the tool: the same standard output, output file and
status, and an Estimate whose values print as the report's numbers."""

import math
import random
import shutil
import struct
import subprocess

import numpy as np
import pytest

import tarvel


def generated(k, s, seed, special=()):
    """A text file of s lines of k channels, random values and, in turn,
    the `special` fields."""
    rng = random.Random(seed)
    lines = []
    extra = list(special)
    for n in range(s):
        fields = [str(n)]
        for _ in range(2 * k):
            fields.append(extra.pop(0) if extra else f"{rng.gauss(1, 2):.7g}")
        lines.append(" ".join(fields))
    return "\n".join(lines) + "\n"


FILES = {
    "k1": generated(1, 50, 1),
    "k16": generated(16, 200, 2),
    "s1": generated(3, 1, 3),
    "nan": generated(2, 20, 4, ["1e39", "2", "-1e39", "nan", "1e39"]),
    "infinities": generated(3, 20, 5, ["1e39", "-1e39", "inf", "3e38", "3e38"]),
    "subnormals": "0 1e-45 0\n1 -1e-44 1e-40\n2 3e-45 0\n",
    "ragged": "0 1 2 3 4\n1 2 3\n4 5 2 1 2 3 4 5\n3 1 2 3 4 5 6\n",
    "crlf": generated(2, 10, 6).replace("\n", "\r\n"),
    "too_short": "0 1 2 3 4\n1 2\n2 3 4 5\n 6 7 8 9\n",
    "empty": "",
}


def sign(v):
    return "-" if math.copysign(1.0, v) < 0 and not math.isnan(v) else " "


def g7(v):
    """A float32 value as the report prints it: 7 significant digits, a
    three-digit exponent."""
    v = abs(float(v))
    if math.isnan(v) or math.isinf(v):
        return "nan" if math.isnan(v) else "inf"
    text = f"{v:.7g}"
    if "e" in text:
        mantissa, exponent = text.split("e")
        text = f"{mantissa}e{exponent[0]}{int(exponent[1:]):03d}"
    return text


def real_text(v):
    return sign(v) + g7(v)


def complex_text(c):
    return real_text(c.real) + real_text(c.imag) + "j"


def report_from(e):
    """The report's text made from the Estimate's values alone."""
    lines = ["signals:"]
    lines += [complex_text(c) + "  " + real_text(d) + " dB SNR" for c, d in zip(e.signals, e.snr_db)]
    for title, matrix in (("noise covariance:", e.covariance),
                          ("inverted noise covariance:", e.inverse)):
        lines += ["", title] + ["".join(complex_text(c) + "  " for c in row) for row in matrix]
    for title, vector in (("optimum weights:", e.weights),
                          ("normalized optimum weights:", e.normalized_weights)):
        lines += ["", title] + [complex_text(c) for c in vector]
    lines += ["", "combined signal:",
              complex_text(e.combined_signal) + "  " + real_text(e.combined_snr_db) + " dB SNR"]
    return "".join(line + "\r\n" for line in lines)


def is_float32(x):
    return struct.unpack("f", struct.pack("f", x))[0] == x or math.isnan(x)


@pytest.mark.parametrize("name", ["two", "one"] + sorted(FILES))
def test_run_is_the_tool(name, tool, source_dir, tmp_path):
    tool_dir, module_dir = tmp_path / "tool", tmp_path / "module"
    for folder in (tool_dir, module_dir):
        folder.mkdir()
        if name in FILES:
            (folder / f"{name}.txt").write_bytes(FILES[name].encode())
        else:
            shutil.copy(source_dir / "examples" / f"{name}.txt", folder)
    done = subprocess.run([tool, f"{name}.txt"], cwd=tool_dir, capture_output=True, timeout=60)
    with pytest.MonkeyPatch.context() as patch:
        patch.chdir(module_dir)
        try:
            run = tarvel.run(f"{name}.txt")
        except (OSError, ValueError, MemoryError) as error:
            assert error.code == done.returncode != 0, error
            run = None
    out_name = f"{name}_out.txt"
    assert sorted(p.name for p in tool_dir.iterdir()) == sorted(p.name for p in module_dir.iterdir())
    if (tool_dir / out_name).exists():
        assert (tool_dir / out_name).read_bytes() == (module_dir / out_name).read_bytes()
    if run is None:
        return
    assert done.returncode == 0
    assert run.stdout.encode("utf-8", "surrogateescape") == done.stdout
    assert run.output_path == out_name
    e = run.estimate
    # Every value prints as the report prints it, and is a float32 value.
    assert report_from(e) == e.report()
    assert f"\r\n\r\n{e.report()}\r\nwriting " in run.stdout
    assert is_float32(e.combined_snr_db)
    assert is_float32(e.combined_signal.real) and is_float32(e.combined_signal.imag)
    # The module's estimate of the same samples, in the command's arithmetic,
    # has the same bits.
    t, x = tarvel.read(module_dir / f"{name}.txt")
    again = tarvel.estimate(x, arithmetic="command")
    for field in ("signals", "snr_db", "covariance", "inverse", "weights", "normalized_weights"):
        assert getattr(again, field).tobytes() == getattr(e, field).tobytes(), field
    _, y = tarvel.combine(x, arithmetic="command")
    tarvel.write(tmp_path / "again.txt", t, y)
    assert (tmp_path / "again.txt").read_bytes() == (tool_dir / out_name).read_bytes()
