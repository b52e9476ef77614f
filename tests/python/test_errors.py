"""Each mistake raises the exception a Python user expects, with a message
that says what was wrong and the tool's status as `code`."""

import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import tarvel

X = np.ones((4, 2), np.complex64)
T = np.arange(4.0)


def files(folder):
    (folder / "empty.txt").write_bytes(b"")
    (folder / "short.txt").write_bytes(b"0 1 2 3 4\n1 2\n2 3 4 5\n 6 7 8 9\n")
    (folder / "folder").mkdir()
    (folder / "in_the_way.txt").write_bytes(b"0 1 2\n1 2 3\n")
    (folder / "in_the_way_out.txt").mkdir()  # the output file cannot be made
    os.mkfifo(folder / "fifo")


def read_only(a):
    a.setflags(write=False)
    return a


def huge():
    # 2**31 samples of one row, read in place: past the tool's 32-bit counts,
    # which bound the command's arithmetic only.
    return np.lib.stride_tricks.as_strided(X[:1], shape=(2**31, 2), strides=(0, 8))


# call (in the folder of `files`), exception, code, words of the message
ERRORS = [
    (lambda: tarvel.read("missing.txt"), FileNotFoundError, 2, "missing.txt"),
    (lambda: tarvel.read("folder"), IsADirectoryError, 2, "folder"),
    (lambda: tarvel.read("/dev/null"), OSError, 1, "/dev/null"),
    (lambda: tarvel.read("fifo"), OSError, 1, "fifo"),
    (lambda: tarvel.read("empty.txt"), ValueError, 1, "holds no samples"),
    (lambda: tarvel.read("short.txt"), ValueError, 17, "file too short"),
    (lambda: tarvel.read(42), TypeError, None, "int"),
    (lambda: tarvel.run("missing.txt"), FileNotFoundError, 2, "missing.txt"),
    (lambda: tarvel.run("in_the_way.txt"), IsADirectoryError, 2, "in_the_way_out.txt"),
    (lambda: tarvel.estimate(np.ones(4)), ValueError, 1, "shape (S, K)"),
    (lambda: tarvel.estimate(np.ones((0, 3))), ValueError, 1, "at least one sample"),
    (lambda: tarvel.estimate(np.ones((3, 0))), ValueError, 1, "at least one sample"),
    (lambda: tarvel.estimate([["a", "b"]]), TypeError, 1, "<U1"),
    (lambda: tarvel.estimate(np.ones((2, 2), bool)), TypeError, 1, "bool"),
    (lambda: tarvel.estimate(huge(), arithmetic="command"), MemoryError, 4, "2147483647"),
    (lambda: tarvel.combine(X, out=np.zeros(3, np.complex64)), ValueError, 1, "not shape (3,)"),
    (lambda: tarvel.combine(X, out=np.zeros(4)), ValueError, 1, "not dtype float64"),
    (lambda: tarvel.combine(X, out=np.zeros(8, np.complex64)[::2]), ValueError, 1, "stride of 16"),
    (lambda: tarvel.combine(X, out=read_only(np.zeros(4, np.complex64))), ValueError, 1, "read-only"),
    (lambda: tarvel.combine(X, out=[0] * 4), TypeError, 1, "not list"),
    (lambda: tarvel.write("w.txt", T, np.ones(3)), ValueError, 1, "as many times"),
    (lambda: tarvel.write("w.txt", T[:0], T[:0]), ValueError, 1, "at least one"),
    (lambda: tarvel.write("w.txt", T + 1j, T), TypeError, 1, "complex128"),
    (lambda: tarvel.write("w.txt", T, np.ones((4, 1))), ValueError, 1, "shape (S,)"),
    (lambda: tarvel.write("no/w.txt", T, T), FileNotFoundError, 2, "no/w.txt"),
    (lambda: tarvel.write("/dev/full", T, T), OSError, 3, "/dev/full"),
    (lambda: tarvel.estimate(X, arithmetic="fast"), ValueError, 1, "arithmetic"),
    (lambda: tarvel.combine(X, arithmetic=None), ValueError, 1, "arithmetic"),
    (lambda: tarvel.estimate(X, workers=0), ValueError, 1, "workers"),
    (lambda: tarvel.estimate(X, workers=2.0), TypeError, 1, "workers"),
    (lambda: tarvel.Accumulator(2).add(X, workers=-1), ValueError, 1, "workers"),
    (lambda: tarvel.Accumulator(3).add(X), ValueError, 1, "channels"),
    # Read through the block reader: refused before a row is read.
    (lambda: tarvel.Accumulator(3).add(X.astype(np.complex128)), ValueError, 1, "channels"),
    (lambda: tarvel.Accumulator(2).merge(tarvel.Accumulator(3)), ValueError, 1, "3 channels"),
    (lambda: tarvel.Accumulator.from_bytes(b"junk"), ValueError, 1, "not an accumulator"),
    (lambda: tarvel.Accumulator.from_bytes(tarvel.Accumulator(2).to_bytes()[:-1]), ValueError, 1,
     "not an accumulator"),
    (lambda: tarvel.Accumulator.from_bytes("junk"), TypeError, 1, "bytes-like"),
    (lambda: tarvel.Accumulator(2).estimate(), ValueError, 1, "no samples"),
    (lambda: tarvel.Accumulator(0), ValueError, 1, "at least one channel"),
]


@pytest.mark.parametrize("call,error,code,words", ERRORS,
                         ids=[f"{row[1].__name__}: {row[3]}" for row in ERRORS])
def test_error(call, error, code, words, tmp_path, monkeypatch):
    files(tmp_path)
    monkeypatch.chdir(tmp_path)
    with pytest.raises(error) as raised:
        call()
    assert type(raised.value) is error
    assert words in str(raised.value)
    assert getattr(raised.value, "code", None) == code
    if isinstance(raised.value, OSError) and code is not None:
        assert raised.value.filename is not None


@pytest.mark.parametrize("call", ["tarvel.estimate(x)", "tarvel.Accumulator(16).add(x)"])
def test_ctrl_c_stops_a_long_call_soon(call):
    # A call of some 10 s, on one row read 5 * 10**7 times; a Python thread
    # sends SIGINT after 0.5 s, which it can only do if the call released
    # the GIL.
    script = textwrap.dedent(f"""
        import os, signal, threading, time
        import numpy as np, tarvel
        # Python's own Ctrl-C handler, even where the test was started with
        # SIGINT ignored (a shell's background job).
        signal.signal(signal.SIGINT, signal.default_int_handler)
        row = np.ones((1, 16), np.complex64)
        x = np.lib.stride_tricks.as_strided(row, shape=(50_000_000, 16), strides=(0, 8))
        sent = []
        threading.Timer(0.5, lambda: (sent.append(time.monotonic()),
                                      os.kill(os.getpid(), signal.SIGINT))).start()
        try:
            {call}
            print("not interrupted")
        except KeyboardInterrupt as e:
            print(e.code, time.monotonic() - sent[0])
    """)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          timeout=120)
    code, seconds = done.stdout.split()
    assert code == "9", done.stdout + done.stderr
    # About a second, with room for a busy machine.
    assert float(seconds) < 1.5, seconds
