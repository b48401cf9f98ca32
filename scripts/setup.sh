#!/usr/bin/env bash
# Installs what the build and the tests need (Debian 12, as root), then
# configures and builds into ./build. Safe to run again: installs only what
# is missing and rebuilds incrementally.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    nlohmann-json3-dev libgtest-dev libgmock-dev
)
# Tools that only the full test run needs (valgrind, clang for the fuzzers).
read -r -a extra <<<"${ZEM_EXTRA_PACKAGES:-}"
packages+=("${extra[@]}")
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "Run as root (or install these packages first): ${missing[*]}" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi

build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja ${CMAKE_ARGS:-}
cmake --build "$build_dir" --parallel "$(nproc)"
