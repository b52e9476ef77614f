#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each of them for SECONDS
# (default 30) on a copy of its seed corpus, one after the other on one core.
# Exits non-zero when a build fails or any target finds a crash, a sanitizer
# report, a divergence from its reference, a timeout or a leak; the input that
# did it is kept in BUILD_DIR/fuzz-artifacts/TARGET/.
#
#   tests/fuzz/run_fuzzers.sh [SECONDS] [BUILD_DIR]
#
# BUILD_DIR defaults to build-fuzz. The committed corpus is never written to:
# new inputs land in BUILD_DIR/fuzz-corpus/TARGET/, which a later run of the
# same folder starts from again. Set TARVEL_FUZZ_TARGETS to a space-separated
# subset (line_reader field_scanner count_fields run library accumulator) to run
# only those.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${1:-30}
build=${2:-build-fuzz}
targets=${TARVEL_FUZZ_TARGETS:-line_reader field_scanner count_fields run library accumulator}

# clang++ comes with Debian's clang package, clang++-14 with clang-14 alone.
cxx=$(command -v clang++ || command -v clang++-14 || true)
cc=$(command -v clang || command -v clang-14 || true)
if [ -z "$cxx" ] || [ -z "$cc" ]; then
  echo "run_fuzzers.sh: clang is needed (apt-get install clang-14 libclang-rt-14-dev)" >&2
  exit 2
fi

CC=$cc CXX=$cxx cmake -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVEL_FUZZ=ON -DTARVEL_TESTS=OFF -DTARVEL_BENCH=OFF
cmake --build "$build" -j "${TARVEL_FUZZ_JOBS:-2}"

# The longest input each target is given: lines past a few 511-byte pieces,
# fields past the 67-byte limit, whole runs that stay fast, and the library's
# four control bytes with 64 samples of 8 channels as raw floats, and the
# accumulator's bytes for up to 6 channels.
max_len() {
  case $1 in
    line_reader) echo 4096 ;;
    field_scanner) echo 2048 ;;
    count_fields) echo 4096 ;;
    run) echo 1024 ;;
    library) echo 4100 ;;
    accumulator) echo 4608 ;;
  esac
}

export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
summary=()
for target in $targets; do
  binary="$build/tests/fuzz/${target}_fuzzer"
  corpus="$build/fuzz-corpus/$target"
  artifacts="$build/fuzz-artifacts/$target"
  log="$build/fuzz-logs/$target.log"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  cp -n tests/fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true
  echo "== $target: $seconds s, inputs up to $(max_len "$target") bytes"
  status=0
  "$binary" "$corpus" -max_total_time="$seconds" -max_len="$(max_len "$target")" \
    -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  if [ "$status" -ne 0 ]; then
    failed+=("$target")
    summary+=("$target: FAILED (exit $status) after ${runs:-?} runs; log $log")
    # The finding: the report and the input that produced it.
    grep -v -e '^#' -e '^INFO:' "$log" | tail -n 60 >&2 || true
    ls -l "$artifacts" >&2 || true
  else
    summary+=("$target: ${runs:-?} runs, ${rate:-?} exec/s, no finding")
  fi
done

echo "== fuzzing summary"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "findings in: ${failed[*]}" >&2
  exit 1
fi
