#!/usr/bin/env bash
# Builds and runs the soak test: the window against a virtual instrument that
# keeps dropping the device, get_measurement and get_status every 10 ms, two
# fields plotted, Reconnect on. Prints the longest event-loop gap and the
# memory growth.
# Usage: scripts/soak.sh [seconds]   (default 1800, half an hour)
# Its own build directory (SOAK_BUILD_DIR, default build-soak): the option it
# turns on would otherwise put the soak test into every later plain ctest run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-1800}
build=${SOAK_BUILD_DIR:-build-soak}
if [ ! -f "$build/CMakeCache.txt" ]; then
    BUILD_DIR=$build CMAKE_ARGS="-DZEM_SOAK=ON ${CMAKE_ARGS:-}" scripts/setup.sh
fi
cmake -S . -B "$build" -DZEM_SOAK=ON >/dev/null
cmake --build "$build" --target tst_soak
ZEM_SOAK_SECONDS=$seconds ctest --test-dir "$build" -L soak --output-on-failure --verbose \
    --timeout $((seconds + 300))
