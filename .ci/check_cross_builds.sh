#!/usr/bin/env bash
# check_cross_builds.sh aarch64|windows: cross-builds tarvel with the target's
# toolchain file, runs its whole suite under the target's emulator (CTest runs
# every test program through it), runs the tool on the two-channel example and
# compares the bytes, and makes and inspects the target's packages: the
# library in them is the target's, and the consumer program built against it
# with pkg-config runs under the emulator.
set -euo pipefail
cd "$(dirname "$0")/.."
target=$1
example() {  # example COMMAND...: the command run on a copy of two.txt, compared
  local folder
  folder=$(mktemp -d)
  cp examples/two.txt "$folder/"
  (cd "$folder" && "$@" two.txt >report.txt)
  cmp "$folder/report.txt" examples/expected/two_report.txt
  cmp "$folder/two_out.txt" examples/expected/two_out.txt
  rm -rf "$folder"
}
# consumer PROGRAM COMPILER PKGCONFIG_FOLDER EMULATOR...: tests/consumer/main.cpp
# built with COMPILER into PROGRAM against an unpacked package's tarvel.pc, and
# checked under the emulator.
consumer() {
  local program=$1 compiler=$2 flags
  flags=$(PKG_CONFIG_LIBDIR=$3 pkg-config --cflags --libs tarvel)
  shift 3
  # shellcheck disable=SC2086  # the compiler's options and pkg-config's flags are words
  $compiler -std=c++20 -Wall -Wextra -Werror -o "$program" tests/consumer/main.cpp $flags
  .ci/check_consumer.sh "$@" "$program"
}

case "$target" in
  aarch64)
    build=build-aarch64
    toolchain=cmake/toolchains/aarch64-linux-gnu.cmake
    ;;
  windows)
    build=build-windows
    toolchain=cmake/toolchains/mingw-w64-x86_64.cmake
    # Wine's diagnostics would mix with the standard error the tests compare.
    export WINEDEBUG=-all
    wineboot --init >/dev/null 2>&1 </dev/null || true
    # Wine's server kept for the whole script, and its services started here,
    # away from the tests: else the first test program starts them, they
    # inherit its output pipe, and CTest counts that test as running (against
    # its timeout) until the last Wine process of the suite has ended.
    wineserver -w
    wineserver -p
    trap 'wineserver -k' EXIT
    wineboot >/dev/null 2>&1 </dev/null || true
    ;;
  *) echo "usage: $0 aarch64|windows" >&2; exit 2 ;;
esac

cmake -B "$build" --toolchain "$toolchain" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j2
if ! ctest --test-dir "$build" -j2 --timeout 300 --output-on-failure; then
  [ "$target" = windows ] || exit 1
  # Now and then Wine fails to start a test program at all: it fails at once
  # with no output, and passes when run again. The failed tests once more,
  # alone, tell that apart from a fault, which fails again.
  echo "== rerunning the failed tests once under Wine"
  ctest --test-dir "$build" --rerun-failed --timeout 300 --output-on-failure
fi
rm -f "$build"/tarvel_*.deb "$build"/libtarvel-dev_*.deb "$build"/tarvel-*.zip
(cd "$build" && cpack)

case "$target" in
  aarch64)
    example qemu-aarch64 -L /usr/aarch64-linux-gnu "$PWD/$build/tarvel"
    package=$(ls "$build"/tarvel_*_arm64.deb)
    dpkg-deb --contents "$package"
    [ "$(dpkg-deb --field "$package" Architecture)" = arm64 ]
    unpacked=$(mktemp -d)
    dpkg-deb --extract "$package" "$unpacked"
    file "$unpacked/usr/bin/tarvel" | grep -q 'ARM aarch64'
    example qemu-aarch64 -L /usr/aarch64-linux-gnu "$unpacked/usr/bin/tarvel"
    rm -rf "$unpacked"

    library=$(ls "$build"/libtarvel-dev_*_arm64.deb)
    dpkg-deb --contents "$library"
    [ "$(dpkg-deb --field "$library" Architecture)" = arm64 ]
    unpacked=$(mktemp -d)
    dpkg-deb --extract "$library" "$unpacked"
    # Every object in the archive is aarch64's, and there is at least one.
    aarch64-linux-gnu-objdump -f "$unpacked/usr/lib/aarch64-linux-gnu/libtarvel.a" |
      awk '/file format/ { n++; if ($NF != "elf64-littleaarch64") other++ } END { exit !(n && !other) }'
    consumer "$unpacked/capture_report" aarch64-linux-gnu-g++ \
      "$unpacked/usr/lib/aarch64-linux-gnu/pkgconfig" qemu-aarch64 -L /usr/aarch64-linux-gnu
    rm -rf "$unpacked"
    ;;
  windows)
    package=$(ls "$build"/tarvel-*-windows-x86_64.zip)
    unzip -l "$package"
    unpacked=$(mktemp -d)
    unzip -q "$package" -d "$unpacked"
    file "$unpacked/tarvel.exe" | grep -q 'PE32+ executable.*x86-64'
    example wine "$unpacked/tarvel.exe"
    [ -f "$unpacked/include/tarvel/tarvel.h" ]
    [ -f "$unpacked/lib/libtarvel.a" ]
    # The manual as text Windows can show: CR LF lines, its name section.
    grep -q $'^NAME\r$' "$unpacked/tarvel.txt"
    # The run-times linked in, as in the tool, so that Wine needs no DLL of them.
    consumer "$unpacked/capture_report.exe" "x86_64-w64-mingw32-g++-posix -static" \
      "$unpacked/lib/pkgconfig" wine
    rm -rf "$unpacked"
    ;;
esac
echo "$target: suite, example and package checked"
