#!/usr/bin/env python3
"""How tarvel's phases scale with processors, measured on 1 and 2 and
predicted beyond.

For each standard file, runs bench/phase_times under `taskset -c 0` (one
processor: no thread is started) and `taskset -c 0,1` (two), REPEAT times
each in a new process, best of each phase. From the two times of a phase, its serial fraction
s (the share that a second processor does not shorten, by Amdahl's law
T2 = T1 * (s + (1 - s) / 2)), and the speedup Amdahl's law predicts on P
processors, 1 / (s + (1 - s) / P), for P = 4, 8, 16 and 32. Only the 1- and
2-processor times are measured; the rest is prediction, which assumes the
parallel share keeps scaling as it did from one processor to two.

  scaling.py BUILD_DIR [--repeat N] [--work DIR] [--cpus A,B]

Prints a Markdown table per file and exits 1 when the whole run of the
S = 10^6, K = 4 file has a serial fraction above 10 %.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

FILES = [(1_000_000, 4), (1_000_000, 1), (200_000, 16)]
PHASES = ["count", "read", "statistics", "combining", "output"]
PREDICTED = [4, 8, 16, 32]


def phase_times(build, cpus, path, output, repeat):
    # A process per round, as the tool runs: its memory is new each time.
    best = None
    for _ in range(repeat):
        result = subprocess.run(["taskset", "-c", cpus,
                                 os.path.join(build, "bench", "phase_times"), path, output, "1"],
                                check=True, capture_output=True, text=True)
        fields = result.stdout.strip().splitlines()[-1].split()
        times = [float(f) for f in fields[1:]]
        best = times if best is None else [min(a, b) for a, b in zip(best, times)]
    return int(fields[0]), best


def serial_fraction(one, two):
    return min(1.0, max(0.0, 2 * two / one - 1))


def speedup(serial, processors):
    return 1 / (serial + (1 - serial) / processors)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--work", default=None, help="folder for the generated files (kept)")
    parser.add_argument("--cpus", default="0,1", help="the two processors to use")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    work = args.work or tempfile.mkdtemp(prefix="tarvel-scaling-")
    os.makedirs(work, exist_ok=True)
    first_cpu = args.cpus.split(",")[0]
    ok = True
    for samples, channels in FILES:
        path = os.path.join(work, f"s{samples}_k{channels}.txt")
        if not os.path.exists(path):
            subprocess.run([os.path.join(build, "bench", "generate_input"), str(samples),
                            str(channels), "1", path], check=True)
        output = os.path.join(work, "out.txt")
        workers_one, one = phase_times(build, first_cpu, path, output, args.repeat)
        workers_two, two = phase_times(build, args.cpus, path, output, args.repeat)
        print(f"\nS = {samples}, K = {channels} (workers {workers_one} and {workers_two})\n")
        print("| phase | 1 proc s | 2 procs s | serial | "
              + " | ".join(f"{p} procs (pred.)" for p in PREDICTED) + " |")
        print("|---|---:|---:|---:|" + "---:|" * len(PREDICTED))
        rows = list(zip(PHASES, one, two)) + [("whole run", sum(one), sum(two))]
        for name, t1, t2 in rows:
            s = serial_fraction(t1, t2)
            print(f"| {name} | {t1:.3f} | {t2:.3f} | {100 * s:.0f} % | "
                  + " | ".join(f"{speedup(s, p):.1f}x" for p in PREDICTED) + " |")
        whole = serial_fraction(sum(one), sum(two))
        if (samples, channels) == (1_000_000, 4) and whole > 0.10:
            ok = False
        sys.stdout.flush()
    if not args.work:
        shutil.rmtree(work)
    print("\nserial fraction of S = 10^6, K = 4 " + ("at most" if ok else "ABOVE") + " 10 %")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
