#!/usr/bin/env bash
# Builds the Debian package (zem-tools_<version>_<arch>.deb) into build-pkg,
# checks its content and that the unpacked programs run, and prints its path
# (the only line on standard output).
# Install it with: apt-get install ./build-pkg/zem-tools_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-pkg}

# CPack finds the package's dependencies with dpkg-shlibdeps and file.
scripts/packages.sh dpkg-dev file >&2

# The package ships a plain optimised build, whatever else the tree is set to.
BUILD_DIR=$build CMAKE_ARGS="-DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEM_SANITIZE=OFF ${CMAKE_ARGS:-}" \
    scripts/setup.sh >&2
rm -f "$build"/zem-tools_*.deb
(cd "$build" && cpack -G DEB) >&2
deb=$(ls "$build"/zem-tools_*.deb)
bash packaging/check_deb.sh "$deb" >&2
realpath "$deb"
