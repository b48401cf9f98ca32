#!/usr/bin/env bash
# Sets everything up, builds and runs every test, in six phases, each build in
# a directory of its own, after installing what they need:
#   1. normal build (build/): the whole ctest suite but the valgrind runs and
#      the package
#   2. the same build under valgrind's memcheck (ctest -L valgrind)
#   3. the Debian package of that build, checked by packaging/check_deb.sh,
#      lintian included (ctest -L package)
#   4. AddressSanitizer + UndefinedBehaviorSanitizer build (build-asan/) of
#      what the tests need (target zem_tests): the whole ctest suite
#   5. ThreadSanitizer build (build-tsan/): calls from two threads through one
#      connection, the window's device thread, the probe run, the history's
#      thread
#   6. the libFuzzer targets (build-fuzz/), FUZZ_SECONDS each (default 40),
#      as many at once as there are cores
# Every phase runs even after a failure; the run ends with a summary of each
# phase's build and test time, whose last line counts tests (a fuzz target is
# one), and exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
start=$SECONDS

summary=()
total_passed=0
total_failed=0

# step <build|test> <command...>: one timed part of a phase.
step() {
    local kind=$1 t0=$SECONDS rc
    shift
    "$@"
    rc=$?
    echo "$kind $((SECONDS - t0))" >>"$logs/steps"
    return $rc
}

# phase <title> <command...>: runs the command, shows its output, and counts
# the tests from the closing line of ctest or scripts/fuzz.sh. A phase that
# ends without such a line (a failed build) counts as one failure.
phase() {
    local title=$1
    shift
    local log="$logs/phase.log" t0=$SECONDS rc passed failed line build=0 tests=0 kind secs
    echo
    echo "======== $title"
    : >"$logs/steps"
    "$@" 2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
    while read -r kind secs; do
        if [ "$kind" = build ]; then build=$((build + secs)); else tests=$((tests + secs)); fi
    done <"$logs/steps"
    if line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1) && [ -n "$line" ]; then
        failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
        passed=$(( $(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line") - failed ))
    elif line=$(grep -E '^fuzz: [0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1) && [ -n "$line" ]; then
        passed=$(sed -E 's/^fuzz: ([0-9]+) passed.*/\1/' <<<"$line")
        failed=$(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")
    else
        passed=0
        failed=0
    fi
    if ((rc != 0 && failed == 0)); then
        failed=1
    fi
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    summary+=("$(printf '%-38s %3d passed, %d failed  build %4d s  test %4d s  all %4d s%s' \
        "$title" "$passed" "$failed" "$build" "$tests" $((SECONDS - t0)) \
        "$( ((rc == 0)) || echo '  FAILED')")")
}

# valgrind, and clang for the fuzzers, on top of what every build needs.
export ZEM_EXTRA_PACKAGES="valgrind clang-14 libclang-rt-14-dev"
prerequisites() {
    step build scripts/setup.sh --install-only
}
normal() {
    step build env CMAKE_ARGS="-DZEM_PACKAGE_TEST=ON ${CMAKE_ARGS:-}" scripts/setup.sh &&
        step test ctest --test-dir "${BUILD_DIR:-build}" -LE 'valgrind|package' \
            --output-on-failure --timeout 600 -j "$jobs"
}
memcheck() {
    step test ctest --test-dir "${BUILD_DIR:-build}" -L valgrind --no-tests=error \
        --output-on-failure --timeout 900 -j "$jobs"
}
package() {
    step build scripts/packages.sh debootstrap &&
        step test ctest --test-dir "${BUILD_DIR:-build}" -L package --no-tests=error \
            --output-on-failure --timeout 600
}
# Only what the tests need is built: no bench, tool or screenshot.
sanitized() {
    step build cmake -S . -B build-asan -G Ninja -DZEM_SANITIZE=ON ${CMAKE_ARGS:-} &&
        step build cmake --build build-asan --parallel "$jobs" --target zem_tests &&
        step test ctest --test-dir build-asan --output-on-failure --timeout 900 -j "$jobs"
}

# The tests whose code runs on more than one thread: the device thread, the
# history's thread that the History and Signatures docks post to, and the
# machine's thread of the Prober panel.
threaded=(tst_connection tst_devicesession tst_curve_integration tst_proberun tst_history_dock
    tst_signaturesdock tst_signaturerun tst_proberpanel)
threads() {
    step build cmake -S . -B build-tsan -G Ninja -DZEM_TSAN=ON ${CMAKE_ARGS:-} &&
        step build cmake --build build-tsan --parallel "$jobs" --target "${threaded[@]}" &&
        step test ctest --test-dir build-tsan -R "^($(IFS='|'; echo "${threaded[*]}"))\$" \
            --no-tests=error --output-on-failure --timeout 900
}
fuzzers() {
    step build scripts/fuzz.sh build && step test scripts/fuzz.sh run "${FUZZ_SECONDS:-40}"
}

phase "install (apt-get)" prerequisites
phase "build + ctest" normal
phase "valgrind (ctest -L valgrind)" memcheck
phase ".deb + check_deb.sh + lintian" package
phase "ASan+UBSan build + ctest" sanitized
phase "TSan: device and history thread tests" threads
phase "fuzzers, ${FUZZ_SECONDS:-40} s each" fuzzers

echo
echo "======== summary"
printf '%s\n' "${summary[@]}"
echo "total wall time: $((SECONDS - start)) s"
echo "$total_passed passed, $total_failed failed"
((total_failed == 0))
