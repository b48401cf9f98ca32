#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang into build-fuzz/ and runs
# each for a bounded time on a copy of its seed corpus (fuzz/corpus/<target>/).
# Usage: scripts/fuzz.sh [seconds per target]   (default 60)
# A crash, a sanitizer report, a leak, a failed check or a hang fails the run;
# the input that did it is kept in build-fuzz/artifacts/<target>/ and can be
# replayed with: build-fuzz/fuzz/<target> <file>
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${FUZZ_BUILD_DIR:-build-fuzz}
targets=(fuzz_url fuzz_profile fuzz_intcheck fuzz_intarray fuzz_codec fuzz_callfile fuzz_signature
    fuzz_dburl fuzz_shell fuzz_ipcd356 fuzz_positions fuzz_bom)

# libFuzzer and clang's sanitizer runtimes; scripts/test.sh has already
# installed them, this is for a run on its own.
scripts/packages.sh clang-14 libclang-rt-14-dev

cmake -S . -B "$build" -G Ninja -DZEM_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target "${targets[@]}"

export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
passed=0
failed=0
for t in "${targets[@]}"; do
    work="$build/corpus/$t"
    artifacts="$build/artifacts/$t"
    rm -rf "$work"
    mkdir -p "$artifacts" "$(dirname "$work")"
    cp -r "fuzz/corpus/$t" "$work"
    log="$build/$t.log"
    echo "== $t: ${seconds} s"
    if "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" >"$log" 2>&1; then
        grep -E "^stat::number_of_executed_units" "$log" | sed 's/^/   /'
        passed=$((passed + 1))
    else
        echo "   FAILED; the end of its log ($log):"
        grep -v '^#' "$log" | tail -n 40 | sed 's/^/   /'
        failed=$((failed + 1))
    fi
done
echo "fuzz: $passed passed, $failed failed"
((failed == 0))
