#!/usr/bin/env bash
# Builds the amd64 packages, tarvel and libtarvel-dev, and lints them. Installs
# the library with `cmake --install` into a folder and builds and runs the
# consumer project against it. Then installs both packages, runs the installed
# tarvel from the PATH on a copy of the two-channel example and compares the
# report and output file byte for byte, finds its manual page, builds and runs
# the consumer against the installed library with CMake and with pkg-config,
# and removes the packages again.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -B build-package -DCMAKE_BUILD_TYPE=Release -DTARVEL_TESTS=OFF
cmake --build build-package -j2
rm -f build-package/tarvel_*.deb build-package/libtarvel-dev_*.deb
(cd build-package && cpack)
package=$(ls build-package/tarvel_*_amd64.deb)
library=$(ls build-package/libtarvel-dev_*_amd64.deb)
for deb in "$package" "$library"; do
  dpkg-deb --info "$deb"
  dpkg-deb --contents "$deb"
done
lintian --fail-on error,warning "$package" "$library"

# consumer FOLDER TARVEL_DIR [CMAKE OPTION...]: configures and builds
# tests/consumer in FOLDER, checks that find_package took the tarvel in
# TARVEL_DIR, and runs the program.
consumer() {
  local folder=$1 expected_dir=$2
  shift 2
  cmake -S tests/consumer -B "$folder" "$@"
  grep -qx "tarvel_DIR:PATH=$expected_dir" "$folder/CMakeCache.txt"
  cmake --build "$folder"
  .ci/check_consumer.sh "$folder/capture_report"
}
libdir=lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)

# No root needed: the library installed into a folder and found there.
prefix=$(mktemp -d)
cmake --install build-package --prefix "$prefix"
consumer "$prefix/consumer" "$prefix/$libdir/cmake/tarvel" -DCMAKE_PREFIX_PATH="$prefix"
rm -rf "$prefix"

DEBIAN_FRONTEND=noninteractive apt-get install -y "./$package" "./$library"
trap 'DEBIAN_FRONTEND=noninteractive apt-get remove -y tarvel libtarvel-dev' EXIT
[ "$(command -v tarvel)" = /usr/bin/tarvel ]
folder=$(mktemp -d)
cp examples/two.txt "$folder/"
(cd "$folder" && tarvel two.txt >report.txt)
cmp "$folder/report.txt" examples/expected/two_report.txt
cmp "$folder/two_out.txt" examples/expected/two_out.txt
man -w tarvel

consumer "$folder/consumer" "/usr/$libdir/cmake/tarvel"
# shellcheck disable=SC2046  # pkg-config's flags are separate words
g++ -std=c++20 -Wall -Wextra -Werror -o "$folder/capture_report" tests/consumer/main.cpp \
  $(pkg-config --cflags --libs tarvel)
.ci/check_consumer.sh "$folder/capture_report"
rm -rf "$folder"
echo "package check passed: $package $library"
