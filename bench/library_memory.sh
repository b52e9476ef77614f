#!/usr/bin/env bash
# The library's estimate over a capture larger than the process may allocate:
# writes a raw interleaved complex64 capture of CHANNELS x SAMPLES (by default
# 4 x 2^26, 2 GiB) into a temporary folder, then runs library_estimate_file on
# it, memory-mapped, under a data limit of LIMIT_MIB (default 256) and prints
# its report and peak resident memory. For contrast, the same program reading
# the file into its own memory instead runs under the same limit, where it
# cannot have the room. The folder is removed at the end, whatever happens.
#
#   bench/library_memory.sh BUILD_DIR [SAMPLES] [CHANNELS] [LIMIT_MIB]
#
# BUILD_DIR is a build with -DTARVEL_BENCH=ON. The capture goes under TMPDIR
# (default /tmp), which must have room for it. Exits non-zero when the mapped
# run fails or when the read-in run succeeds under the limit.
set -euo pipefail

build=${1:?usage: bench/library_memory.sh BUILD_DIR [SAMPLES] [CHANNELS] [LIMIT_MIB]}
samples=${2:-$((1 << 26))}
channels=${3:-4}
limit_mib=${4:-256}
bytes=$((samples * channels * 8))
limit=$((limit_mib * 1024 * 1024))
tmp=${TMPDIR:-/tmp}

for tool in write_capture library_estimate_file; do
  if [ ! -x "$build/bench/$tool" ]; then
    echo "library_memory.sh: $build/bench/$tool is not built (configure with -DTARVEL_BENCH=ON)" >&2
    exit 2
  fi
done

# Room for the capture and a margin of 1 GiB.
avail=$(($(df --output=avail -B1 "$tmp" | tail -n 1)))
if [ "$avail" -lt $((bytes + (1 << 30))) ]; then
  echo "library_memory.sh: $tmp has $((avail >> 20)) MiB free, the capture needs $((bytes >> 20)) MiB" >&2
  exit 2
fi

folder=$(mktemp -d "$tmp/tarvel-library-memory-XXXXXX")
trap 'rm -rf "$folder"' EXIT
capture=$folder/capture.cf32

echo "== writing $capture: $channels channels x $samples samples, $((bytes >> 20)) MiB"
start=$(date +%s%N)
"$build/bench/write_capture" "$samples" "$channels" 20261207 "$capture"
echo "written in $((($(date +%s%N) - start) / 1000000)) ms"
ls -l "$capture"

# Runs library_estimate_file under the limit; prints the peak resident memory
# and wall time from GNU time, where it is installed, and returns the status.
run_limited() {
  local log=$folder/time.log status=0 timer=()
  rm -f "$log"
  if [ -x /usr/bin/time ]; then timer=(/usr/bin/time -v -o "$log"); fi
  prlimit --data="$limit" "${timer[@]}" "$build/bench/library_estimate_file" "$@" || status=$?
  if [ -s "$log" ]; then
    grep -E 'Maximum resident set size|Elapsed \(wall clock\)|Exit status' "$log" | sed 's/^\s*/  /'
  fi
  return "$status"
}

echo
echo "== estimate over the mapped capture, data limit $limit_mib MiB"
mapped=0
run_limited "$capture" "$channels" || mapped=$?
echo "exit status $mapped"

echo
echo "== estimate over the capture read into memory, data limit $limit_mib MiB"
read_in=0
run_limited "$capture" "$channels" --read || read_in=$?
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
echo "mapped: estimated under the $limit_mib MiB data limit; read in: refused under it, as expected"
