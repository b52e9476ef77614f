#!/usr/bin/env bash
# The Python module's combine over a capture larger than the process may
# allocate: writes a raw interleaved complex64 capture of CHANNELS x SAMPLES
# (by default 4 x 2^26, 2 GiB) into a temporary folder, then, under a data
# limit of LIMIT_MIB (default 512), opens it with numpy.memmap and runs
# tarvel.combine with `out` another memmap (SAMPLES x 8 bytes), and prints
# the report, the combined file's first values, the peak resident memory and
# how much of what is resident is mapped file and how much its own.
# For contrast, the same with the capture read into memory (numpy.fromfile)
# runs under the same limit, where it cannot have the room. The folder is
# removed at the end, whatever happens.
#
#   bench/python_memory.sh BUILD_DIR [SAMPLES] [CHANNELS] [LIMIT_MIB]
#
# BUILD_DIR is a build with -DTARVEL_BENCH=ON and the Python module. Exits
# non-zero when the mapped run fails or the read-in run succeeds under the
# limit.
set -euo pipefail

build=${1:?usage: bench/python_memory.sh BUILD_DIR [SAMPLES] [CHANNELS] [LIMIT_MIB]}
samples=${2:-$((1 << 26))}
channels=${3:-4}
limit_mib=${4:-512}
python=${PYTHON:-/usr/bin/python3}
bytes=$((samples * channels * 8))
tmp=${TMPDIR:-/tmp}
build=$(realpath "$build")
if [ ! -x "$build/bench/write_capture" ] || ! ls "$build"/src/python/tarvel.*.so >/dev/null 2>&1; then
  echo "python_memory.sh: build $build/bench/write_capture and the module first" \
    "(-DTARVEL_BENCH=ON, the module built)" >&2
  exit 2
fi
avail=$(($(df --output=avail -B1 "$tmp" | tail -n 1)))
if [ "$avail" -lt $((bytes + samples * 8 + (1 << 30))) ]; then
  echo "python_memory.sh: $tmp has $((avail >> 20)) MiB free, too little for the capture" >&2
  exit 2
fi

folder=$(mktemp -d "$tmp/tarvel-python-memory-XXXXXX")
trap 'rm -rf "$folder"' EXIT
capture=$folder/capture.cf32
echo "== writing $capture: $channels channels x $samples samples, $((bytes >> 20)) MiB"
"$build/bench/write_capture" "$samples" "$channels" 20261207 "$capture"

# MODE is memmap or fromfile; prints the report and the peak resident memory.
cat >"$folder/combine.py" <<'PYTHON'
import resource, sys
import numpy as np
import tarvel

capture, channels, mode = sys.argv[1], int(sys.argv[2]), sys.argv[3]
if mode == "memmap":
    x = np.memmap(capture, dtype=np.complex64, mode="r").reshape(-1, channels)
else:
    x = np.fromfile(capture, dtype=np.complex64).reshape(-1, channels)
out = np.memmap(capture + ".combined", dtype=np.complex64, mode="w+", shape=(len(x),))
e, y = tarvel.combine(x, out=out)
y.flush()
print(e.report().replace("\r\n", "\n"), end="")
print("first combined values:", y[:3])
print(f"peak resident memory {resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024:.1f} MiB")
# Of what is resident now, the mapped files (page cache, reclaimable) and the
# process's own memory.
with open("/proc/self/status") as status:
    print(" ".join(line.strip().replace("\t", " ") for line in status
                   if line.startswith(("RssAnon", "RssFile"))))
PYTHON

run_limited() {
  local status=0
  PYTHONPATH=$build/src/python prlimit --data=$((limit_mib * 1024 * 1024)) \
    "$python" "$folder/combine.py" "$capture" "$channels" "$1" || status=$?
  return "$status"
}

echo
echo "== tarvel.combine on numpy.memmap, out a memmap, data limit $limit_mib MiB"
mapped=0
start=$(date +%s%N)
run_limited memmap || mapped=$?
echo "exit status $mapped, $((($(date +%s%N) - start) / 1000000)) ms"
ls -l "$capture.combined"

echo
echo "== tarvel.combine on numpy.fromfile, data limit $limit_mib MiB"
read_in=0
run_limited fromfile >"$folder/fromfile.log" 2>&1 || read_in=$?
tail -n 1 "$folder/fromfile.log"
echo "exit status $read_in"

echo
if [ "$mapped" -ne 0 ]; then
  echo "the mapped run failed under the limit" >&2
  exit 1
fi
if [ "$read_in" -eq 0 ]; then
  echo "the read-in run succeeded under the limit: the limit is not binding" >&2
  exit 1
fi
echo "memmap: combined under the $limit_mib MiB data limit; fromfile: refused under it, as expected"
