#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang into build-fuzz/ and runs
# each for a bounded time on a copy of its seed corpus (fuzz/corpus/<target>/),
# as many at once as there are cores.
# Usage: scripts/fuzz.sh [build|run] [seconds per target]   (default: both, 60 s)
# A crash, a sanitizer report, a leak, a failed check or a hang fails the run;
# the input that did it is kept in build-fuzz/artifacts/<target>/ and can be
# replayed with: build-fuzz/fuzz/<target> <file>
set -euo pipefail
cd "$(dirname "$0")/.."
step=all
case "${1:-}" in build | run) step=$1; shift ;; esac
seconds=${1:-60}
build=${FUZZ_BUILD_DIR:-build-fuzz}
targets=(fuzz_url fuzz_profile fuzz_intcheck fuzz_intarray fuzz_codec fuzz_callfile fuzz_signature
    fuzz_dburl fuzz_shell fuzz_ipcd356 fuzz_positions fuzz_bom)

if [ "$step" != run ]; then
    # libFuzzer and clang's sanitizer runtimes; scripts/test.sh has already
    # installed them, this is for a run on its own.
    scripts/packages.sh clang-14 libclang-rt-14-dev
    cmake -S . -B "$build" -G Ninja -DZEM_FUZZ=ON \
        -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
    cmake --build "$build" --parallel "$(nproc)" --target "${targets[@]}"
fi
[ "$step" != build ] || exit 0

export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# fuzz <target>: one run; its verdict goes to <target>.status, its report to
# <target>.log, so that runs side by side do not mix their output.
fuzz() {
    local t=$1 work="$build/corpus/$1" artifacts="$build/artifacts/$1" log="$build/$1.log"
    rm -rf "$work"
    mkdir -p "$artifacts" "$(dirname "$work")"
    cp -r "fuzz/corpus/$t" "$work"
    if "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" >"$log" 2>&1; then
        echo passed >"$build/$t.status"
    else
        echo failed >"$build/$t.status"
    fi
}

echo "fuzzing ${#targets[@]} targets, ${seconds} s each, $(nproc) at a time"
running=0
for t in "${targets[@]}"; do
    rm -f "$build/$t.status"
    if ((running >= $(nproc))); then
        wait -n || true
        running=$((running - 1))
    fi
    fuzz "$t" &
    running=$((running + 1))
done
wait || true

passed=0
failed=0
for t in "${targets[@]}"; do
    log="$build/$t.log"
    if [ "$(cat "$build/$t.status" 2>/dev/null)" = passed ]; then
        echo "== $t: $(grep -E '^stat::number_of_executed_units' "$log" | sed 's/.*: *//') runs," \
            "coverage $(grep -oE 'cov: [0-9]+' "$log" | tail -n 1 | sed 's/cov: //')"
        passed=$((passed + 1))
    else
        echo "== $t: FAILED; the end of its log ($log):"
        grep -v '^#' "$log" | tail -n 40 | sed 's/^/   /'
        failed=$((failed + 1))
    fi
done
echo "fuzz: $passed passed, $failed failed"
((failed == 0))
