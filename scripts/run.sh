#!/usr/bin/env bash
# Sets everything up, builds and starts the window program on a URL and a
# board file, both optional: run.sh [URL | -u URL] [board.json]. Without a
# display it runs one complete measurement on the URL on the console instead.
# ZEM_PROGRAM=zem_bench starts the technician's window in the same way.
set -euo pipefail
cd "$(dirname "$0")/.."
url=
if [ "${1:-}" = -u ] || [ "${1:-}" = --url ]; then
    url=${2:?run.sh: -u needs a URL}
    shift 2
elif [ $# -gt 0 ] && [[ $1 == *://* ]]; then
    url=$1
    shift
fi
scripts/setup.sh
build=${BUILD_DIR:-build}
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    program=$build/app/zem_debugger
    [ "${ZEM_PROGRAM:-}" = zem_bench ] && program=$build/zembench/zem_bench
    exec "$program" ${url:+-u "$url"} "$@"
fi
echo "No display: running the console example instead."
echo "${url:-virtual://diode}" | "$build"/example/zem_example
