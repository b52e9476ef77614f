#!/usr/bin/env python3
"""Times tarvel against the parse floor on generated files, in one run.

For each file: one warm-up run of each program, then REPEAT alternating runs
of tarvel, the floor and the floor on two threads. Prints the median wall
time, MB/s of input, the ratios tarvel/floor and tarvel/two-thread floor, and
tarvel's peak resident memory against its budget of S x (16 + 8K) bytes +
8 MiB.

  run_bench.py BUILD_DIR [--repeat N] [--work DIR] [--linearity] [--smoke]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

FILES = [(1_000_000, 4), (1_000_000, 1), (200_000, 16)]
SMOKE_FILES = [(2_000, 4), (2_000, 1), (500, 16)]


def run_once(command, cwd):
    start = time.perf_counter()
    process = subprocess.Popen(command, cwd=cwd, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.perf_counter() - start
    err = process.stderr.read()
    process.stderr.close()
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit(f"{command[0]} failed with status {code}: {err.decode(errors='replace')}")
    return elapsed, usage.ru_maxrss * 1024


def generate(build, work, samples, channels):
    name = os.path.join(work, f"s{samples}_k{channels}.txt")
    if not os.path.exists(name):
        subprocess.run([os.path.join(build, "bench", "generate_input"), str(samples),
                        str(channels), "1", name], check=True)
    return name


def measure(build, work, samples, channels, repeat):
    path = generate(build, work, samples, channels)
    size = os.path.getsize(path)
    tarvel = [os.path.join(build, "tarvel"), os.path.basename(path)]
    floor = [os.path.join(build, "bench", "parse_floor"), os.path.basename(path)]
    floor2 = floor[:1] + ["--threads", "2"] + floor[1:]
    run_once(tarvel, work)
    run_once(floor, work)
    run_once(floor2, work)
    tarvel_times, floor_times, floor2_times, peak = [], [], [], 0
    for _ in range(repeat):
        elapsed, rss = run_once(tarvel, work)
        tarvel_times.append(elapsed)
        peak = max(peak, rss)
        floor_times.append(run_once(floor, work)[0])
        floor2_times.append(run_once(floor2, work)[0])
    t, f = statistics.median(tarvel_times), statistics.median(floor_times)
    f2 = statistics.median(floor2_times)
    budget = samples * (16 + 8 * channels) + 8 * 1024 * 1024
    return {"samples": samples, "channels": channels, "mb": size / 1e6, "tarvel": t, "floor": f,
            "ratio": t / f, "floor2": f2, "ratio2": t / f2, "peak": peak, "budget": budget}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--work", default=None, help="folder for the generated files (kept)")
    parser.add_argument("--linearity", action="store_true",
                        help="also time S = 10^7, K = 4 against ten times S = 10^6, K = 4")
    parser.add_argument("--smoke", action="store_true", help="tiny files, one repetition")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    work = args.work or tempfile.mkdtemp(prefix="tarvel-bench-")
    os.makedirs(work, exist_ok=True)
    files = SMOKE_FILES if args.smoke else FILES
    repeat = 1 if args.smoke else args.repeat

    print(f"{'S':>9} {'K':>3} {'MB':>8} {'tarvel s':>9} {'floor s':>8} {'MB/s':>7} "
          f"{'ratio':>6} {'floor2 s':>8} {'ratio2':>6} {'peak MiB':>9} {'budget MiB':>10}")
    rows = []
    for samples, channels in files:
        row = measure(build, work, samples, channels, repeat)
        rows.append(row)
        print(f"{samples:>9} {channels:>3} {row['mb']:>8.1f} {row['tarvel']:>9.3f} "
              f"{row['floor']:>8.3f} {row['mb'] / row['tarvel']:>7.0f} {row['ratio']:>6.2f} "
              f"{row['floor2']:>8.3f} {row['ratio2']:>6.2f} "
              f"{row['peak'] / 2**20:>9.1f} {row['budget'] / 2**20:>10.1f}", flush=True)
    ok = all(r["ratio"] <= 1.5 and r["peak"] <= r["budget"] for r in rows)
    if args.linearity and not args.smoke:
        small = rows[0]
        big = measure(build, work, 10_000_000, 4, max(1, repeat // 2))
        linear = big["tarvel"] / (10 * small["tarvel"])
        print(f"linearity: S=1e7 K=4 {big['tarvel']:.3f} s vs 10 x S=1e6 "
              f"{10 * small['tarvel']:.3f} s: {linear:.3f} (target <= 1.15); "
              f"peak {big['peak'] / 2**20:.1f} MiB of {big['budget'] / 2**20:.1f}")
        ok = ok and linear <= 1.15 and big["peak"] <= big["budget"]
    if not args.work:
        shutil.rmtree(work)
    if args.smoke:
        print("smoke run: ratios on tiny files are not meaningful")
        return 0
    print("targets met" if ok else "targets NOT met")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
