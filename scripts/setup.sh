#!/usr/bin/env bash
# Installs what the build and the tests need (Debian 12, as root), then
# configures and builds into ./build (BUILD_DIR). Safe to run again: installs
# only what is missing and rebuilds incrementally.
# Usage: scripts/setup.sh [--install-only]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    nlohmann-json3-dev libgtest-dev libgmock-dev
    qt6-charts-dev libqt6opengl6-dev qt6-svg-dev qt6-serialport-dev libcli11-dev libedit-dev help2man lintian
    appstream desktop-file-utils
    libqt6sql6-sqlite libqt6sql6-psql postgresql zlib1g-dev
    libngspice0-dev
    pybind11-dev python3-dev python3-numpy python3-pytest python3-junitparser
)
# Tools that only the full test run needs (valgrind, clang for the fuzzers).
read -r -a extra <<<"${ZEM_EXTRA_PACKAGES:-}"
packages+=("${extra[@]}")
scripts/packages.sh "${packages[@]}"
[ "${1:-}" != --install-only ] || exit 0

build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja ${CMAKE_ARGS:-}
cmake --build "$build_dir" --parallel "$(nproc)"
