"""The field example (examples/python/capture_combine.py) runs, draws its PNG
and combines its capture better than its best antenna."""

import re
import subprocess
import sys

import pytest


def test_capture_example(source_dir, tmp_path):
    pytest.importorskip("matplotlib", reason="the example draws with matplotlib (python3-matplotlib)")
    done = subprocess.run([sys.executable, source_dir / "examples/python/capture_combine.py", tmp_path],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr
    png = tmp_path / "capture_combine.png"
    assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert png.stat().st_size > 20_000
    snrs = [float(v) for v in re.findall(r"(\S+) dB SNR", done.stdout)]
    assert len(snrs) == 5, done.stdout
    assert snrs[-1] > max(snrs[:4]) + 1, snrs
