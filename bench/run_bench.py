#!/usr/bin/env python3
"""Times tarvel against the parse floor on generated files, in one run.

For each file: one warm-up run of each program, then REPEAT alternating runs
of tarvel, the floor and the floor on two threads. Prints the median wall
time, MB/s of input, the ratios tarvel/floor and tarvel/two-thread floor, and
tarvel's peak resident memory against its budget of S x (16 + 8K) bytes +
8 MiB.

With --baseline TARVEL, another build of the tool is timed in the same
alternation, and each row also gives tarvel/baseline. With --workers N, the
tool runs with N workers forced (bench/tarvel_workers), and with --cpus LIST
every program runs under `taskset -c LIST`.

  run_bench.py BUILD_DIR [--repeat N] [--work DIR] [--linearity] [--smoke]
               [--baseline TARVEL] [--workers N] [--cpus LIST]
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


def measure(build, work, samples, channels, repeat, args):
    path = generate(build, work, samples, channels)
    size = os.path.getsize(path)
    prefix = ["taskset", "-c", args.cpus] if args.cpus else []
    if args.workers:
        tarvel = prefix + [os.path.join(build, "bench", "tarvel_workers"), str(args.workers)]
    else:
        tarvel = prefix + [os.path.join(build, "tarvel")]
    programs = {
        "tarvel": tarvel + [os.path.basename(path)],
        "floor": prefix + [os.path.join(build, "bench", "parse_floor"), os.path.basename(path)],
        "floor2": prefix + [os.path.join(build, "bench", "parse_floor"), "--threads", "2",
                            os.path.basename(path)],
    }
    if args.baseline:
        programs["baseline"] = prefix + [os.path.abspath(args.baseline), os.path.basename(path)]
    for command in programs.values():
        run_once(command, work)
    times = {name: [] for name in programs}
    peak = 0
    for _ in range(repeat):
        for name, command in programs.items():
            elapsed, rss = run_once(command, work)
            times[name].append(elapsed)
            if name == "tarvel":
                peak = max(peak, rss)
    t, f, f2 = (statistics.median(times[name]) for name in ("tarvel", "floor", "floor2"))
    budget = samples * (16 + 8 * channels) + 8 * 1024 * 1024
    row = {"samples": samples, "channels": channels, "mb": size / 1e6, "tarvel": t, "floor": f,
           "ratio": t / f, "floor2": f2, "ratio2": t / f2, "peak": peak, "budget": budget}
    if args.baseline:
        row["baseline"] = statistics.median(times["baseline"])
    return row


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--work", default=None, help="folder for the generated files (kept)")
    parser.add_argument("--linearity", action="store_true",
                        help="also time S = 10^7, K = 4 against ten times S = 10^6, K = 4")
    parser.add_argument("--smoke", action="store_true", help="tiny files, one repetition")
    parser.add_argument("--baseline", help="another tarvel binary, timed in the same run")
    parser.add_argument("--workers", type=int, default=0, help="force the tool's workers")
    parser.add_argument("--cpus", help="run every program under taskset -c CPUS")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    work = args.work or tempfile.mkdtemp(prefix="tarvel-bench-")
    os.makedirs(work, exist_ok=True)
    files = SMOKE_FILES if args.smoke else FILES
    repeat = 1 if args.smoke else args.repeat

    print(f"{'S':>9} {'K':>3} {'MB':>8} {'tarvel s':>9} {'floor s':>8} {'MB/s':>7} "
          f"{'ratio':>6} {'floor2 s':>8} {'ratio2':>6} {'peak MiB':>9} {'budget MiB':>10}"
          + (f" {'base s':>7} {'vs base':>7}" if args.baseline else ""))
    rows = []
    for samples, channels in files:
        row = measure(build, work, samples, channels, repeat, args)
        rows.append(row)
        baseline = (f" {row['baseline']:>7.3f} {row['tarvel'] / row['baseline']:>7.2f}"
                    if args.baseline else "")
        print(f"{samples:>9} {channels:>3} {row['mb']:>8.1f} {row['tarvel']:>9.3f} "
              f"{row['floor']:>8.3f} {row['mb'] / row['tarvel']:>7.0f} {row['ratio']:>6.2f} "
              f"{row['floor2']:>8.3f} {row['ratio2']:>6.2f} "
              f"{row['peak'] / 2**20:>9.1f} {row['budget'] / 2**20:>10.1f}{baseline}", flush=True)
    ok = all(r["ratio"] <= 1.5 and r["peak"] <= r["budget"] for r in rows)
    if args.linearity and not args.smoke:
        small = rows[0]
        big = measure(build, work, 10_000_000, 4, max(1, repeat // 2), args)
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
