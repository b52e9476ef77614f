#!/usr/bin/env bash
# check_consumer.sh COMMAND...: runs a build of tests/consumer/main.cpp (the
# command, with an emulator before it where needed) on the two-channel example
# as a raw capture, and compares its report with the tool's report on the
# example's text; then with K = 0, which the library must refuse with code 1.
set -euo pipefail
cd "$(dirname "$0")/.."
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT

# The samples of examples/two.txt, the time left out, as little-endian floats.
perl -ane 'print pack("f<*", @F[1 .. $#F])' examples/two.txt >"$folder/two.cf32"
awk '/^signals:/ { p = 1 } p { print } p && /^combined signal:/ { getline; print; exit }' \
  examples/expected/two_report.txt >"$folder/expected.txt"
# Windows' text-mode standard output puts a CR before the LF of each line of
# the report, which ends in CR LF already.
(cd "$folder" && "$@" two.cf32 2) | sed 's/\r\r$/\r/' >"$folder/report.txt"
cmp "$folder/expected.txt" "$folder/report.txt"

status=0
(cd "$folder" && "$@" two.cf32 0) 2>"$folder/error.txt" || status=$?
[ "$status" -eq 1 ] || { echo "K = 0 ended with status $status, not 1" >&2; exit 1; }
[ -s "$folder/error.txt" ] || { echo "K = 0 gave no message" >&2; exit 1; }
echo "consumer check passed: $*: $(cat "$folder/error.txt")"
