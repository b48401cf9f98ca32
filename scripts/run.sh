#!/usr/bin/env bash
# Sets everything up, builds and starts the window program. Without a display
# it runs one complete measurement on the console instead (the URL can be
# given as the first argument).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${BUILD_DIR:-build}
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec "$build"/app/zem_debugger
fi
echo "No display: running the console example instead."
echo "${1:-virtual://diode}" | "$build"/example/zem_example
