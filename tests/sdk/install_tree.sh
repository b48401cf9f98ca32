#!/usr/bin/env bash
# Installs the build tree into a temporary prefix, builds the SDK example
# against it with pkg-config, and runs it with no help from the environment.
# Usage: install_tree.sh <build dir> <C compiler> <example.c>
set -euo pipefail
build=$1 cc=$2 source=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix/usr" >/dev/null
pc=$(find "$prefix" -name zem-virtual.pc)
flags=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags --libs zem-virtual)
"$cc" -Wall -Wextra -Werror -o "$prefix/serial" "$source" $flags
# The library found is the installed one in its private directory, through a RUNPATH.
library=$(env -u LD_LIBRARY_PATH ldd "$prefix/serial" | awk '$1 == "libzem.so" { print $3 }')
[[ "$(readlink -f "$library")" == "$prefix"/usr/lib/*/zem-tools/libzem.so ]] || {
    echo "serial resolves libzem.so to '$library'" >&2
    exit 1
}
readelf -d "$prefix/serial" | grep -q '(RUNPATH)' || { echo "serial has no RUNPATH" >&2; exit 1; }
# The installed programs find it the same way, under this prefix too.
env -u LD_LIBRARY_PATH "$prefix/usr/bin/zem_example" --version >/dev/null
output=$(cd "$prefix" && env -u LD_LIBRARY_PATH ./serial)
echo "$output"
grep -Eqx 'Serial number: [0-9]+' <<<"$output"
