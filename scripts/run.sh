#!/usr/bin/env bash
# Sets everything up, builds and starts the window program. Without a display
# it runs one complete measurement on the console instead (the URL can be
# given as the first argument). The technician's window is started the same
# way with ZEM_PROGRAM=zem_bench (its arguments: [-u URL] [board.json]).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${BUILD_DIR:-build}
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    if [ "${ZEM_PROGRAM:-}" = zem_bench ]; then
        exec "$build"/zembench/zem_bench "$@"
    fi
    exec "$build"/app/zem_debugger
fi
echo "No display: running the console example instead."
echo "${1:-virtual://diode}" | "$build"/example/zem_example
