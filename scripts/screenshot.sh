#!/usr/bin/env bash
# Renders the README's pictures: docs/zem_debugger.png, the window connected to
# a virtual instrument, its Curve dock showing a diode over a held resistor
# curve; docs/calls_dock.png, the same with the Calls dock on top; and
# docs/signatures_test.png, the Signatures dock in Test mode,
# drawn by a real X server (Xvfb) so that it looks as it does on a desktop.
# Usage: scripts/screenshot.sh [build-dir]   (default: $BUILD_DIR or build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-${BUILD_DIR:-build}}
url='virtual://diode?seed=1'

scripts/packages.sh xvfb
if [ ! -f "$build/CMakeCache.txt" ]; then
    BUILD_DIR=$build scripts/setup.sh
fi
cmake --build "$build" --target zem_screenshot zem_signature_screenshot

# Xvfb picks a free display itself and writes its number to the given descriptor.
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; rm -f "$display_file"' EXIT
for _ in $(seq 100); do
    [ -s "$display_file" ] && break
    kill -0 "$xvfb" 2>/dev/null || { echo "Xvfb did not start" >&2; exit 1; }
    sleep 0.1
done
[ -s "$display_file" ] || { echo "Xvfb did not report its display" >&2; exit 1; }
display=:$(head -n1 "$display_file")

mkdir -p docs
# Its log files go to a scratch directory, not into the tree.
work=$(mktemp -d)
trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; rm -rf "$display_file" "$work"' EXIT
tools=$(realpath "$build/tools")
docs=$(realpath docs)
(
    cd "$work"
    export DISPLAY="$display" QT_QPA_PLATFORM=xcb
    "$tools/zem_screenshot" "$docs/zem_debugger.png" "$url"
    "$tools/zem_screenshot" "$docs/calls_dock.png" "$url" callsDock
    "$tools/zem_signature_screenshot" "$docs/signatures_test.png"
)
echo docs/zem_debugger.png docs/calls_dock.png docs/signatures_test.png
