#!/usr/bin/env bash
# Builds the amd64 package, lints it, installs it, runs the installed tarvel
# from the PATH on a copy of the two-channel example and compares the report
# and output file byte for byte, finds its manual page, and removes it again.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -B build-package -DCMAKE_BUILD_TYPE=Release -DTARVEL_TESTS=OFF
cmake --build build-package -j2
rm -f build-package/tarvel_*.deb
(cd build-package && cpack)
package=$(ls build-package/tarvel_*_amd64.deb)
dpkg-deb --info "$package"
dpkg-deb --contents "$package"
lintian --fail-on error,warning "$package"

DEBIAN_FRONTEND=noninteractive apt-get install -y "./$package"
trap 'DEBIAN_FRONTEND=noninteractive apt-get remove -y tarvel' EXIT
[ "$(command -v tarvel)" = /usr/bin/tarvel ]
folder=$(mktemp -d)
cp examples/two.txt "$folder/"
(cd "$folder" && tarvel two.txt >report.txt)
cmp "$folder/report.txt" examples/expected/two_report.txt
cmp "$folder/two_out.txt" examples/expected/two_out.txt
man -w tarvel
rm -rf "$folder"
echo "package check passed: $package"
