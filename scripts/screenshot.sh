#!/usr/bin/env bash
# Renders the guides' pictures: docs/zem_debugger.png, the window connected to
# a virtual instrument, its Curve dock showing a diode over a held resistor
# curve; docs/calls_dock.png, the same with the Calls dock on top; and
# docs/signatures_test.png, the Signatures dock in Test mode;
# docs/signatures_board.png, its Board tab halfway through a test, and
# docs/signatures_report.png, that test's HTML report as a browser shows it;
# docs/history_dock.png and docs/history_yield.png, the History dock over a
# made-up history of three weeks, a failed run opened and the yield per day;
# drawn by a real X server (Xvfb), and the report by headless Chromium, so
# that they look as they do on a desktop.
# Usage: scripts/screenshot.sh [build-dir]   (default: $BUILD_DIR or build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-${BUILD_DIR:-build}}
url='virtual://diode?seed=1'

scripts/packages.sh xvfb chromium
if [ ! -f "$build/CMakeCache.txt" ]; then
    BUILD_DIR=$build scripts/setup.sh
fi
cmake --build "$build" --target zem_screenshot zem_signature_screenshot zem_board_screenshot \
    zem_history_screenshot

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
    # Test runs the pictures make are kept in a scratch history, not the user's.
    export DISPLAY="$display" QT_QPA_PLATFORM=xcb XDG_DATA_HOME="$work"
    "$tools/zem_screenshot" "$docs/zem_debugger.png" "$url"
    "$tools/zem_screenshot" "$docs/calls_dock.png" "$url" callsDock
    "$tools/zem_signature_screenshot" "$docs/signatures_test.png"
    "$tools/zem_board_screenshot" "$docs/signatures_board.png" "$work/report.html"
    "$tools/zem_history_screenshot" "$docs/history_dock.png" "$docs/history_yield.png"
    chromium --headless=new --no-sandbox --disable-gpu --hide-scrollbars --window-size=1000,1000 \
        --screenshot="$docs/signatures_report.png" "file://$work/report.html" 2>/dev/null
)
echo docs/zem_debugger.png docs/calls_dock.png docs/signatures_test.png docs/signatures_board.png \
    docs/signatures_report.png docs/history_dock.png docs/history_yield.png
