"""Capture files (SigMF recordings and collections, raw files) give the
bits of the same samples as arrays, their mistakes are named, a file cut
short while mapped is refused, and python3 -m tarvel runs on one."""

import importlib.util
import json
import os
import subprocess
import sys

import numpy as np
import pytest

import tarvel

S, K = 6000, 3
RATE = 2.5e6


@pytest.fixture(scope="module")
def x():
    rng = np.random.default_rng(31)
    values = rng.normal(0, 40, (S, K, 2)).round() + [60, -20]
    values[:, 2] += 0.5 * values[:, 0].round()
    return values


def bits(e, y):
    return [e.report(), e.covariance.tobytes(), e.normalized_weights.tobytes(), y.tobytes()]


def meta(path, datatype, channels=K, **extra):
    fields = {"core:datatype": datatype, "core:num_channels": channels, "core:sample_rate": RATE}
    path.write_text(json.dumps({"global": {**fields, **extra}, "captures": [], "annotations": []}))
    return path


def as_type(x, datatype):
    """The values x (S, K, 2) as `datatype` stores them, and as complex64."""
    if datatype.startswith("cf32"):
        stored = (x[..., 0] + 1j * x[..., 1]).astype("<c8" if datatype.endswith("le") else ">c8")
        return stored, stored.astype(np.complex64)
    dtype = {"ci16_le": "<i2", "ci16_be": ">i2", "ci8": "i1", "cu8": "u1"}[datatype]
    stored = (x + (128 if datatype == "cu8" else 0)).astype(dtype)
    values = stored.astype(np.float32) - (127.5 if datatype == "cu8" else 0)
    return stored, (values[..., 0] + 1j * values[..., 1]).astype(np.complex64)


def write(folder, datatype, form, x):
    """The capture file of `form` for x; returns its path and the samples as
    complex64."""
    stored, samples = as_type(x, datatype)
    if form == "raw":
        stored.tofile(folder / "capture.raw")
        return folder / "capture.raw", samples
    if form == "recording":
        stored.tofile(folder / "rx.sigmf-data")
        return meta(folder / "rx.sigmf-meta", datatype), samples
    streams = []
    for k in range(K):
        np.ascontiguousarray(stored[:, k]).tofile(folder / f"rx-{k}.sigmf-data")
        meta(folder / f"rx-{k}.sigmf-meta", datatype, 1)
        streams.append({"name": f"rx-{k}", "hash": ""})
    path = folder / "rx.sigmf-collection"
    path.write_text(json.dumps({"collection": {"core:version": "1.0.0", "core:streams": streams}}))
    return path, samples


CAPTURES = [("cf32_le", "recording"), ("ci16_le", "recording"), ("cu8", "recording"),
            ("ci8", "collection"), ("cf32_le", "collection"), ("ci16_be", "raw"),
            ("cf32_be", "raw")]


@pytest.mark.parametrize("datatype,form", CAPTURES)
def test_captures_are_their_samples(datatype, form, x, tmp_path):
    path, samples = write(tmp_path, datatype, form, x)
    capture = tarvel.open_capture(path, **({"channels": K, "datatype": datatype}
                                           if form == "raw" else {}))
    assert (len(capture), capture.channels, capture.datatype) == (S, K, datatype)
    assert capture.sample_rate == (None if form == "raw" else RATE)
    assert bits(*tarvel.combine(capture)) == bits(*tarvel.combine(samples))
    assert tarvel.estimate_blocks(capture, 1000, 500)[5].report() == \
        tarvel.estimate(samples[2500:3500]).report()


def test_data_file_names_the_metadata(x, tmp_path):
    path, samples = write(tmp_path, "ci16_le", "recording", x)
    by_data = tarvel.open_capture(tmp_path / "rx.sigmf-data")
    assert bits(*tarvel.combine(by_data)) == bits(*tarvel.combine(samples))


# the files written (name: text or bytes), the file opened, words of the message
BAD_CAPTURES = [
    ({"a.sigmf-meta": "{\"global\": ", "a.sigmf-data": b"\0" * 8}, "a.sigmf-meta",
     "a.sigmf-meta is not valid JSON"),
    ({"a.sigmf-meta": "{\"global\": {}}", "a.sigmf-data": b"\0" * 8}, "a.sigmf-meta",
     "a.sigmf-meta has no global core:datatype"),
    ({"a.sigmf-meta": "{\"global\": {\"core:datatype\": \"rf32_le\"}}"}, "a.sigmf-meta",
     "core:datatype 'rf32_le' is not one of"),
    ({"a.sigmf-meta": "{\"global\": {\"core:datatype\": \"ci16_le\", \"core:num_channels\": 2}}",
      "a.sigmf-data": b"\0" * 12}, "a.sigmf-meta",
     "a.sigmf-data holds 12 bytes, not a whole number of samples of 8 bytes (core:datatype"),
    ({"a.sigmf-meta": "{\"global\": {\"core:datatype\": \"ci8\", \"core:num_channels\": 0}}"},
     "a.sigmf-meta", "core:num_channels must be a whole number of at least 1"),
    ({"a.sigmf-meta": "{\"global\": {\"core:datatype\": \"ci8\", \"core:sample_rate\": \"fast\"}}"},
     "a.sigmf-meta", "core:sample_rate must be a positive number"),
    ({"c.sigmf-collection": "{\"collection\": {}}"}, "c.sigmf-collection", "core:streams"),
    ({"c.sigmf-collection": "{\"collection\": {\"core:streams\": [{\"name\": \"a\"}, \"b\"]}}",
      "a.sigmf-meta": "{\"global\": {\"core:datatype\": \"ci8\"}}", "a.sigmf-data": b"\0" * 8,
      "b.sigmf-meta": "{\"global\": {\"core:datatype\": \"ci8\"}}", "b.sigmf-data": b"\0" * 6},
     "c.sigmf-collection", "b.sigmf-data holds 3 samples"),
    ({"a.cs8": b"\0" * 8}, "a.cs8", "give its datatype"),
    ({"a.sigmf-meta": "{\"global\": {\"core:datatype\": \"ci8\"}}", "a.sigmf-data": b""},
     "a.sigmf-meta", "holds no samples"),
]


@pytest.mark.parametrize("files,opened,words", BAD_CAPTURES)
def test_bad_captures_are_named(files, opened, words, tmp_path):
    for name, content in files.items():
        (tmp_path / name).write_bytes(content if isinstance(content, bytes) else content.encode())
    with pytest.raises(ValueError) as raised:
        tarvel.open_capture(tmp_path / opened)
    assert words in str(raised.value) and raised.value.code == 1


def test_a_file_cut_short_while_open_is_refused(x, tmp_path):
    path, samples = write(tmp_path, "ci16_le", "recording", x)
    capture = tarvel.open_capture(path)
    tarvel.estimate(capture)
    os.truncate(tmp_path / "rx.sigmf-data", S * K * 2)  # half the samples
    for call in (lambda: tarvel.estimate(capture), lambda: tarvel.combine_blocks(capture, 100),
                 lambda: tarvel.apply(capture.samples[S // 2:], np.ones(K, np.complex64))):
        with pytest.raises(OSError) as raised:
            call()
        assert raised.value.code == 17 and "cut short" in str(raised.value)
        assert raised.value.filename.endswith("rx.sigmf-data")


def test_command(x, tmp_path):
    path, samples = write(tmp_path, "ci16_le", "recording", x)
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}

    def command(*arguments):
        return subprocess.run([sys.executable, "-m", "tarvel", *map(str, arguments)], env=env,
                              capture_output=True, text=True, timeout=120)

    done = command(path)
    assert (done.returncode, done.stderr) == (0, "")
    assert done.stdout == tarvel.estimate(samples).report().replace("\r\n", "\n")

    out, png = tmp_path / "y.sigmf-data", tmp_path / "snr.png"
    plot = ["--plot", png] if importlib.util.find_spec("matplotlib") else []
    done = command(path, "--block", 1000, "--out", out, *plot)
    assert (done.returncode, done.stderr) == (0, ""), done.stderr
    blocks, y = tarvel.combine_blocks(samples, 1000)
    lines = done.stdout.splitlines()
    assert lines[0].split() == ["start", "ch", "0", "dB", "ch", "1", "dB", "ch", "2", "dB",
                                "combined", "dB"]
    assert [float(v) for v in lines[1 + 3].split()] == pytest.approx(
        [3000, *blocks.snr_db[3], blocks.combined_snr_db[3]], abs=5e-4)
    assert len(lines) == 1 + S // 1000
    assert out.read_bytes() == y.tobytes()
    written = json.loads((tmp_path / "y.sigmf-meta").read_text())["global"]
    assert (written["core:datatype"], written["core:num_channels"],
            written["core:sample_rate"]) == ("cf32_le", 1, RATE)
    assert not plot or png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"

    for arguments, code, words in (((tmp_path / "missing.sigmf-meta",), 2, "missing.sigmf-meta"),
                                   ((path, "--block", S + 1), 1, "past the 6000 samples"),
                                   ((path, "--plot", png), 1, "give --block too")):
        done = command(*arguments)
        assert done.returncode == code and done.stdout == ""
        assert len(done.stderr.splitlines()) == 1 and words in done.stderr, done.stderr
