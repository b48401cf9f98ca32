#!/usr/bin/env bash
# Sets everything up, builds and runs one complete measurement against the
# virtual instrument (the URL can be given as the first argument).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
url=${1:-virtual://diode}
echo "$url" | "${BUILD_DIR:-build}"/example/zem_example
