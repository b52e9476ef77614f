#!/usr/bin/env bash
# Builds the amd64 packages, tarvel, libtarvel-dev and python3-tarvel, and
# lints them. Installs the library with `cmake --install` into a folder and
# builds and runs the consumer project against it. Then installs the
# packages, runs the installed
# tarvel from the PATH on a copy of the two-channel example and compares the
# report and output file byte for byte, finds its manual page, builds and runs
# the consumer against the installed library with CMake and with pkg-config,
# imports the installed Python module from outside the source tree and runs
# the README's Python program against it, and removes the packages again.
set -euo pipefail
cd "$(dirname "$0")/.."

# The Python module is required here: .ci/run installs pybind11-dev,
# python3-dev and python3-numpy.
cmake -B build-package -DCMAKE_BUILD_TYPE=Release -DTARVEL_TESTS=OFF -DTARVEL_PYTHON=ON
cmake --build build-package -j2
rm -f build-package/tarvel_*.deb build-package/libtarvel-dev_*.deb build-package/python3-tarvel_*.deb
(cd build-package && cpack)
package=$(ls build-package/tarvel_*_amd64.deb)
library=$(ls build-package/libtarvel-dev_*_amd64.deb)
python_package=$(ls build-package/python3-tarvel_*_amd64.deb)
debs=("$package" "$library" "$python_package")
for deb in "${debs[@]}"; do
  dpkg-deb --info "$deb"
  dpkg-deb --contents "$deb"
done
lintian --fail-on error,warning "${debs[@]}"

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

DEBIAN_FRONTEND=noninteractive apt-get install -y "${debs[@]/#/./}"
trap 'DEBIAN_FRONTEND=noninteractive apt-get remove -y tarvel libtarvel-dev python3-tarvel' EXIT
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

# Debian's python3 finds the installed module from anywhere, and the README's
# program under "Use it from Python" prints the tool's report and writes its
# output file.
(cd /tmp && /usr/bin/python3 -c '
import numpy, tarvel
assert tarvel.__file__.startswith("/usr/lib/python3/dist-packages/"), tarvel.__file__
e = tarvel.estimate(numpy.array([[1, 2+1j], [2+1j, 1], [0, 3+2j], [1-1j, 2+1j]], numpy.complex64))
assert (e.reference, round(e.combined_snr_db, 4)) == (1, 20.0575), e
print("installed module:", tarvel.__file__, e)')
folder=$(mktemp -d)
awk '/^## Use it from Python/ { u = 1 } u && /^```python/ { c = 1; next } c && /^```/ { exit } c' \
  README.md >"$folder/use_it.py"
cp examples/two.txt "$folder/"
(cd "$folder" && /usr/bin/python3 use_it.py >python_report.txt)
head -c "$(stat -c %s examples/expected/two_report.txt)" "$folder/python_report.txt" |
  cmp - examples/expected/two_report.txt
cmp "$folder/two_out.txt" examples/expected/two_out.txt
rm -rf "$folder"
echo "package check passed: ${debs[*]}"
