#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/.

The seeds are the tricky inputs of the unit tests (the byte strings of the
tables in tests/input/*_test.cpp) and the example files, each prefixed with
the control bytes its target expects. Run it again after adding a case to one
of those tables; the fuzzers never write into these folders (run_fuzzers.sh
works on a copy).
"""

import fractions
import hashlib
import math
import pathlib
import shutil
import struct

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent.parent
CORPUS = HERE / "corpus"

def letters(count, letter=b"x"):
    return letter * count


# Whole files for the line reader and the first pass (line_reader_test.cpp,
# two_pass_reader_test.cpp CountLines).
LINE_FILES = [
    b"a b\nc d\n",
    b"a b\nc d",
    b"a b\r\nc d\r\n",
    b"a b\r\n\r\n",
    b"",
    b"\n",
    b"a b\n   ",
    b"a\rb\n",
    b"a b\r",
    b"a\rb\rc\r",
    b"ab\0cd\n",
    b"ab\0\0",
    b"x\x1ay\n",
    b"1 2\n\x1a",
    letters(1000) + b"\n",
    letters(510) + b"\ryyy\n",
    b"\xef\xbb\xbf1 2\n",
    letters(511) + b"\n",
    letters(511),
    letters(511) + b"\n\n",
    letters(512) + b"\n",
    letters(1022) + b"\r",
    b"a\r\r\n",
    letters(510) + b"\r\r\n",
    letters(509) + b"\r\r\n",
    letters(508) + b"\r\0\0b\n",
    letters(508) + b"\r\0\0\0b\n",
    b"a\r\0",
    letters(509) + b"\0\0b\n",
    letters(509) + b"\0\0\n",
    b"a\0b\0\n",
    b"\0" * 511 + b"b\n",
    b"\0" * 600,
    b"\0" * 511 + b"\r",
    b"ab\r\ncd",
    b"1 2\n" + letters(510) + b"\ryyy\n",
    b"1 2\n" + letters(511) + b"\n" + letters(511),
    b"1 2\n" + letters(509) + b"\r\r\n",
    b"1 2\n" + letters(510) + b"\r\r\n",
]

SIXTY_SEVEN = b"1" * 67

# Files for the field scanner (field_scanner_test.cpp).
SCANNER_FILES = [
    b"1 2",
    b"  1\t\t2  ",
    b"1,2",
    b"1 , 2",
    b"1\t,\t2",
    b"1 \n2",
    b"1 \r\n2",
    b"1 \r2",
    b"1\r2",
    b"1\r\r2",
    b"1\r\r\n2",
    b"1 \r\r\n2",
    b"1\n\n2",
    b"1\n \t\n2",
    b"1,,2",
    b"1,\n2",
    b"1 ,,2",
    b"1\n",
    b"1,",
    b",",
    b"\n",
    b"  \t",
    b"1\r",
    b"1 \r",
    b"1 ",
    b'"1 2"3',
    b'"1,5",2',
    b'"1\t5" 2',
    b'1"2 3',
    b'"""1"',
    b'"a\nb',
    b'"a\r\nb',
    b'"a\rb',
    b'""',
    b"1d5 1D5",
    b"1.5 1e5 1E5 &d &D &h1e &.5",
    b"1E&2 1e&d",
    b'"1.5"',
    SIXTY_SEVEN + b"2 3",
    SIXTY_SEVEN + b" 3",
    SIXTY_SEVEN + b",3",
    SIXTY_SEVEN + b"\n3",
    SIXTY_SEVEN,
    b'"' + SIXTY_SEVEN + b'"3',
    b"1" * 66 + b".5",
    b"a\0b\x80 c",
    b"1 \t\"2",
    b"12abc 1d - + . &17 &x12 & 0x1p3 &h1e &HFFFF.5 1E&2 1\"2 \"1,5\" 1D-3 -7 \"1 5\" &HFFFFFFFF",
    b'"1,5" 2.5,3\n',
    b"1 2.5",
]

# Files of samples (two_pass_reader_test.cpp ReadSamples).
SAMPLE_FILES = [
    b"0.5 1 2 3 4\n1.5 5 6 7 8\n",
    b"0.5,1,2,3,4\r\n1.5 , 5 ,6, 7,8\r\n",
    b"0.5 1 2 3 4",
    b"0.5 1 2 3\n4\n1.5 5 6 7 8\n",
    b"0.5 1 2 3 4 9\n1.5 5 6 7 8 9\n",
    b"0.5 1 2 3 4\n\n1.5 5 6 7 8\n",
    b"0.5 1 2 3 4\n1.5 5 6 7 8\n\n",
    b"0.5 1 2 3 4\r1.5 5 6 7 8\r",
    b"1D-3 &H1F &O17 &B101 -7\n",
    b'"1 2" 3,,4 x\n',
    b"0.5 1.5e 2e+ 3. .5\n",
    b"0,5 1 2 3 4\n",
    b"123456789 1234567890 16777217 1e39 -0\n",
    b"&HFFFFFFFF 1 2 3 4\n",
    b"\xef\xbb\xbf0.5 1 2 3 4\n",
    b"1" * 70 + b" 2 3 4 5 6\n",
    b"0 1 2\n1 3 4\n\n",
    b"0 1 2\n1 3 4\n\n\n",
    b"1 2 3 9\n4 5 6 9\n7 8 10 9\n",
    b"1 2 3\n\n4 5 6\n",
    b"1 2 3\n4 5\n7 8 9\n",
    b"1, 2, 3\n4, 5, 6\n",
    b"1 2 3\n4 5 6 7 8\n9 10 11 12 13\n",
]

FIELD_FILES = SCANNER_FILES + SAMPLE_FILES

# Single texts for the conversions (number_conversion_test.cpp), each a file
# of one field.
CONVERSION_TEXTS = [
    b"123456789", b"&HFFFFFFF", b"1234567890", b"123456789012345678",
    b"1234567890123456789", b"&H" + b"F" * 60, b" &H" + b"F" * 60, b"&H1",
    b"   ", b"--5", b"  -5", b" \t5", b"x5", b"&X12", b"&8", b"&H1F", b"&hff.5",
    b"&O17", b"&o178", b"&B101", b"&b1012", b"&H", b"&Hg", b" &H10", b"\t&H10",
    b"1e5", b"&H80000000", b"&H100000001", b"&HFFFFFFFFFFFFFFFF",
    b"&H8000000000000000", b"&H7FFFFFFFFFFFFFFF", b"&H10000000000000001",
    b"&B" + b"1" * 64, b"&1777777777777777777777", b"&2000000000000000000000",
    b"999999999999999999", b"-999999999999999999", b"0.5", b"1e", b"2e+", b"2e-",
    b"1.5e", b"3.", b".5", b"1.5e3x", b"1E-3", b"1e+5", b"1..5", b"0.1", b"+1.5",
    b"-1.5", b" \t\n1.5", b"-0", b"-0.0e5", b"e5", b"+-1", b"-+1", b"--1",
    b"1e400", b"-1e400", b"1e-400", b"-1e-400", b"4.9406564584124654e-324",
    b"2.5e-324", b"2.4e-324", b"1e-310", b"1.7976931348623158e308",
    b"1.7976931348623159e308", b"inf", b"-Infinity", b"INFx", b"in", b"-0x1.8p1",
    b"0X.8", b"0x1p", b"0x", b"-0x", b"0x-1", b"0xg", b"0x1p99999", b"0x1p-99999",
    b"nan", b"-NaN(123)x", b"9007199254740993", b"9007199254740995",
    b"16777217", b"16777219", b"18014399583223809", b"1.00000005960464477550",
    b"1.0000000596046448", b"1.0000000596046449", b"1e39", b"-1e39", b"1e-46",
    b"-0.0", b"9" * 20, b"1" * 67,
]

# First lines for the field count (two_pass_reader_test.cpp CountFields).
FIRST_LINES = [
    b"", b"   ", b"1", b"1 2", b"1 2 3", b"1 2 3 4", b"1 2 3 4 5",
    b"1 2 3 4 5 6 7", b" 1 2 3", b"  1 2 3", b"  12 34 56", b"1  2 3",
    b"1   2 3", b"1  2  3  4  5", b"1 2 3   ", b"1\t2\t3", b"1,2,3", b"1, 2, 3",
    b"1 2 3 \t", b"1 2 3\0 \0", b"1 2 3\0 4", b" " * 400 + b"1 2",
    b" " * 400 + b"12 3",
]

# Whole runs (the reading cases above that make a complete run, and the
# examples).
RUN_FILES = [
    b"0 1 2\n1 3 4\n\n",
    b"0 1 2\n1 3 4\n\n\n",
    b"1 2 3\n\n4 5 6\n",
    b"1\t2\t3\n4\t5\t6\n",
    b"1 2 3 9\n4 5 6 9\n7 8 10 9\n",
    b"0 1 1\r\n1 3 1\r\n",
    b"0 1 1\r1 3 1\r",
    b"0 1e39 -1e39\n1 0x1p3 nan\n",
    b"0 0 0\n1 0 0\n",
    b"0 1 2 3 4\n1 1 2 3 4\n",
]


# Sample views for the library (library_fuzzer.cpp): four control bytes (S - 1,
# K - 1 with the value coding and channel direction, the layout, the spoilt
# values), then the samples.
def raw_floats(values):
    return b"".join(struct.pack("<f", v) for v in values)


def raw_bits(words):
    return b"".join(struct.pack("<I", w) for w in words)


# examples/two.txt's samples: the report of the README.
TWO_SAMPLES = raw_floats([1, 0, 2, 1, 2, 1, 1, 0, 0, 0, 3, 2, 1, -1, 2, 1])
# Values at the edges of single precision: NaN with a payload and its sign
# set, infinities, zeros of both signs, the smallest and largest subnormals,
# the smallest normal, the largest finite value.
EDGE_SAMPLES = raw_bits([0x7fc00001, 0xffc12345, 0x7f800000, 0xff800000, 0x00000000,
                         0x80000000, 0x00000001, 0x807fffff, 0x00800000, 0x7f7fffff,
                         0x3f800000, 0xbf800000])
# Every layout bit on its own and a few together: channels inside, gaps,
# samples backwards, channel then sample stride 0.
LAYOUTS = [0x00, 0x01, 0x02, 0x06, 0x18, 0x1f, 0x20, 0x21, 0x3f, 0x40, 0x61, 0x80, 0xa6]


def library_seeds():
    seeds = []
    for i, layout in enumerate(LAYOUTS):
        backwards = 0x10 if i % 2 else 0
        seeds.append(bytes([3, 1 | backwards, layout, i]) + TWO_SAMPLES)
        seeds.append(bytes([2, 1 | backwards, layout, i]) + EDGE_SAMPLES)
        # 64 samples of 8 channels of small values, one byte each.
        small = bytes((n * 37 + n * n * 11 + 5) & 0xFF for n in range(64 * 8 * 2))
        seeds.append(bytes([63, 7 | 8 | backwards, layout, i]) + small)
    # One sample, one channel, and a file shorter than its samples.
    seeds.append(bytes([0, 0, 0, 0]) + raw_floats([3, -4]))
    seeds.append(bytes([9, 3, 0x21, 0]) + raw_floats([1, 2, 3]))
    return seeds


# Accumulator bytes, version 1 (accumulator_fuzzer.cpp): each written the way
# to_bytes writes the sums of its samples, with S and the length varied.
def exact_sum(value):
    v = int(value * 2**320)
    return (v % 2**672).to_bytes(84, "little")


def accumulator(samples, channels, count=None):
    def finite(v):  # exact, as the sums are
        return fractions.Fraction(v) if math.isfinite(v) else fractions.Fraction(0)

    out = b"tarvelAC" + struct.pack("<IIqq", 1, 21, channels, len(samples) if count is None else count)
    for k in range(channels):
        flags = 0
        for x in samples:
            for shift, v in ((0, x[k].real), (3, x[k].imag)):
                flags |= (1 if math.isnan(v) else 2 if v > 0 else 4 if v < 0 else 0) << shift \
                    if not math.isfinite(v) else 0
        out += bytes([flags])
    for k in range(channels):
        out += exact_sum(sum(finite(x[k].real) for x in samples))
        out += exact_sum(sum(finite(x[k].imag) for x in samples))
    for k in range(channels):
        for l in range(k, channels):
            a = [(finite(x[k].real), finite(x[k].imag), finite(x[l].real), finite(x[l].imag))
                 for x in samples]
            out += exact_sum(sum(p * q + r * s for p, r, q, s in a))
            out += exact_sum(sum(r * q - p * s for p, r, q, s in a))
    return out


def accumulator_seeds():
    nan, inf = float("nan"), float("inf")
    two = [[complex(1.5, -2), complex(nan, inf)], [complex(0.25, 0), complex(-inf, 1)],
           [complex(-8, 2**-149), complex(3, 4)]]
    wide = [[complex(2**127, -(2**-149)), complex(2.0**99, 1), complex(-(2.0**99), 0.5)],
            [complex(-(2**127), 3), complex(2**-126, 7), complex(0, -0.0)]]
    seeds = [
        accumulator([], 1),
        accumulator([[complex(1.5, -2)], [complex(0.25, 0)]], 1),
        accumulator(two, 2),
        accumulator(wide, 3),
        accumulator([[complex(k, -k) for k in range(5)]] * 3, 5),
        # The largest counts: one more sample, or the count doubled, passes 2^63 - 1.
        accumulator([[complex(1, 1)]], 1, count=2**63 - 1),
        accumulator([[complex(1, 1)]], 1, count=2**62),
    ]
    good = seeds[2]
    seeds += [good[:-1], good + b"\0", good[:8] + b"\2" + good[9:]]
    return seeds


def examples():
    return [p.read_bytes() for p in sorted((ROOT / "examples").glob("*.txt"))
            if not p.name.endswith("_out.txt")]


def write_corpus(target, seeds):
    # Inputs that once found a fault are named "regression-*" and kept.
    folder = CORPUS / target
    kept = {}
    if folder.exists():
        kept = {p.name: p.read_bytes() for p in folder.glob("regression-*")}
        shutil.rmtree(folder)
    folder.mkdir(parents=True)
    for name, seed in kept.items():
        (folder / name).write_bytes(seed)
    for seed in dict.fromkeys(seeds):  # unique, in order
        name = hashlib.sha1(seed).hexdigest()[:16]
        (folder / name).write_bytes(seed)
    print(f"{target}: {len(list(folder.iterdir()))} seeds")


def main():
    # The line reader: chunk size selector, two schedule bytes, the file. The
    # selectors cycle through the listed chunk sizes (0..21) and a few more.
    files = LINE_FILES + FIELD_FILES + examples()
    write_corpus("line_reader", [
        bytes([i % 26, (i * 7) & 0xFF, (i * 13) & 0xFF]) + f for i, f in enumerate(files)])
    # The field scanner: chunk size selector, channel count, two schedule bytes.
    files = FIELD_FILES + CONVERSION_TEXTS + examples()
    write_corpus("field_scanner", [
        bytes([i % 26, i & 3, (i * 7) & 0xFF, (i * 13) & 0xFF]) + f
        for i, f in enumerate(files)])
    write_corpus("count_fields", FIRST_LINES)
    write_corpus("run", RUN_FILES + SAMPLE_FILES + LINE_FILES[:17] + examples())
    write_corpus("library", library_seeds())
    write_corpus("accumulator", accumulator_seeds())


if __name__ == "__main__":
    main()
