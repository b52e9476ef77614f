#!/usr/bin/env bash
# A SigMF capture larger than the process may allocate, estimated,
# block-estimated and combined through tarvel.open_capture: writes a ci16_le
# recording of CHANNELS x SAMPLES (by default 4 x 2^27, 2 GiB) into a
# temporary folder, then, under a data limit of LIMIT_MIB (default 256),
# opens it (numpy.memmap, nothing read), runs tarvel.estimate,
# tarvel.estimate_blocks (blocks of 2^20 samples, hop a quarter of that) and
# tarvel.combine with `out` a memmap, and prints the reports, each call's
# time, the peak resident memory and how much of what is resident is mapped
# file and how much its own. Then `python3 -m tarvel --block --out` on the
# same capture under the same limit. For contrast, the capture read into
# memory (numpy.fromfile) runs under the same limit, where it cannot have
# the room. The folder is removed at the end, whatever happens.
#
#   bench/capture_memory.sh BUILD_DIR [SAMPLES] [CHANNELS] [LIMIT_MIB]
#
# BUILD_DIR is a build with the Python module. Exits non-zero when a mapped
# run fails or the read-in run succeeds under the limit.
set -euo pipefail

build=${1:?usage: bench/capture_memory.sh BUILD_DIR [SAMPLES] [CHANNELS] [LIMIT_MIB]}
samples=${2:-$((1 << 27))}
channels=${3:-4}
limit_mib=${4:-256}
python=${PYTHON:-/usr/bin/python3}
bytes=$((samples * channels * 4))
tmp=${TMPDIR:-/tmp}
build=$(realpath "$build")
if ! ls "$build"/src/python/tarvel/_tarvel.*.so >/dev/null 2>&1; then
  echo "capture_memory.sh: build the Python module in $build first" >&2
  exit 2
fi
avail=$(($(df --output=avail -B1 "$tmp" | tail -n 1)))
if [ "$avail" -lt $((bytes + 2 * samples * 8 + (1 << 30))) ]; then
  echo "capture_memory.sh: $tmp has $((avail >> 20)) MiB free, too little for the capture" >&2
  exit 2
fi
export PYTHONPATH=$build/src/python

folder=$(mktemp -d "$tmp/tarvel-capture-memory-XXXXXX")
trap 'rm -rf "$folder"' EXIT
capture=$folder/rx.sigmf-meta
echo "== writing $folder/rx.sigmf-data: ci16_le, $channels channels x $samples samples," \
  "$((bytes >> 20)) MiB"
# A constant carrier per channel under Gaussian noise, partly shared, written
# a piece at a time.
"$python" - "$folder" "$samples" "$channels" <<'PYTHON'
import json, sys
import numpy as np

folder, samples, channels = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = np.random.default_rng(20261209)
carrier = 40 * np.exp(1j * rng.uniform(0, 2 * np.pi, channels))
with open(f"{folder}/rx.sigmf-data", "wb") as data:
    for first in range(0, samples, 1 << 22):
        n = min(1 << 22, samples - first)
        shared = rng.normal(0, 30, (n, 1)) + 1j * rng.normal(0, 30, (n, 1))
        x = carrier + shared + rng.normal(0, 100, (n, channels)) + 1j * rng.normal(0, 100, (n, channels))
        pairs = np.stack([x.real, x.imag], axis=-1).round().astype("<i2")
        data.write(pairs.tobytes())
json.dump({"global": {"core:datatype": "ci16_le", "core:num_channels": channels,
                      "core:sample_rate": 1e6, "core:version": "1.0.0"},
           "captures": [{"core:sample_start": 0}], "annotations": []},
          open(f"{folder}/rx.sigmf-meta", "w"))
PYTHON

# MODE is capture or fromfile; prints the reports, the times and the memory.
cat >"$folder/calls.py" <<'PYTHON'
import resource, sys, time
import numpy as np
import tarvel

capture, mode = sys.argv[1], sys.argv[2]
c = tarvel.open_capture(capture)
if mode == "fromfile":
    x = np.fromfile(c.files[0], dtype="<i2").reshape(len(c), c.channels, 2)
else:
    x = c
print(c)
start = time.perf_counter()
e = tarvel.estimate(x)
print(f"estimate: {time.perf_counter() - start:.2f} s")
print(e.report().replace("\r\n", "\n"), end="")
block = 1 << 20
start = time.perf_counter()
blocks = tarvel.estimate_blocks(x, block, block // 4)
print(f"estimate_blocks, block {block}, hop {block // 4}: {len(blocks)} blocks, "
      f"{time.perf_counter() - start:.2f} s; combined SNR from "
      f"{blocks.combined_snr_db.min():.3f} to {blocks.combined_snr_db.max():.3f} dB")
out = np.memmap(capture + ".combined", dtype=np.complex64, mode="w+", shape=(len(c),))
start = time.perf_counter()
e2, y = tarvel.combine(x, out=out)
y.flush()
print(f"combine into a memmap: {time.perf_counter() - start:.2f} s, the same estimate: "
      f"{e2.report() == e.report()}; first combined values: {y[:2]}")
print(f"peak resident memory {resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024:.1f} MiB")
# Of what is resident now, the mapped files (page cache, reclaimable) and the
# process's own memory.
with open("/proc/self/status") as status:
    print(" ".join(line.strip().replace("\t", " ") for line in status
                   if line.startswith(("RssAnon", "RssFile"))))
PYTHON

limited() {
  prlimit --data=$((limit_mib * 1024 * 1024)) "$@"
}

echo
echo "== tarvel.open_capture: estimate, estimate_blocks, combine into a memmap; data limit" \
  "$limit_mib MiB"
mapped=0
start=$(date +%s%N)
limited "$python" "$folder/calls.py" "$capture" capture || mapped=$?
echo "exit status $mapped, $((($(date +%s%N) - start) / 1000000)) ms"

echo
echo "== python3 -m tarvel $capture --block 1048576 --out ...; data limit $limit_mib MiB"
command=0
start=$(date +%s%N)
limited "$python" -m tarvel "$capture" --block 1048576 --out "$folder/combined.sigmf-data" \
  >"$folder/command.log" 2>&1 || command=$?
head -n 3 "$folder/command.log"
echo "... $(wc -l <"$folder/command.log") lines"
echo "exit status $command, $((($(date +%s%N) - start) / 1000000)) ms"
ls -l "$folder/combined.sigmf-data" "$folder/combined.sigmf-meta"

echo
echo "== the same calls on numpy.fromfile, data limit $limit_mib MiB"
read_in=0
limited "$python" "$folder/calls.py" "$capture" fromfile >"$folder/fromfile.log" 2>&1 ||
  read_in=$?
tail -n 1 "$folder/fromfile.log"
echo "exit status $read_in"

echo
if [ "$mapped" -ne 0 ] || [ "$command" -ne 0 ]; then
  echo "a mapped run failed under the limit" >&2
  exit 1
fi
if [ "$read_in" -eq 0 ]; then
  echo "the read-in run succeeded under the limit: the limit is not binding" >&2
  exit 1
fi
echo "open_capture: estimated, block-estimated and combined under the $limit_mib MiB data limit;" \
  "fromfile: refused under it, as expected"
