"""The table the Python benchmarks print: each timing's best and median of
its repetitions, then the ratios of pairs of timings against their goals."""

import statistics


def print_ratios(times, ratios, width):
    """times: {name: [seconds, ...]}; ratios: [(label, (a, b), goal)], a / b
    of each pair's best and median, with the goal it should not pass."""
    print(f"{'':{width}} {'best s':>9} {'median s':>9}")
    for name, values in times.items():
        print(f"{name:{width}} {min(values):9.4f} {statistics.median(values):9.4f}")
    best = {name: min(values) for name, values in times.items()}
    median = {name: statistics.median(values) for name, values in times.items()}
    for label, (a, b), goal in ratios:
        print(f"{label:{width}} best {best[a] / best[b]:.3f}, median {median[a] / median[b]:.3f} "
              f"(goal <= {goal})")
