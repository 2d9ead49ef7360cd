#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz/ (clang, sanitizers) and runs
# each for SECONDS (default 600), one after the other, over a scratch copy of
# its seed corpus in build-fuzz/fuzz-runs/<target>/. Prints executions,
# coverage and crashes per target; exits 1 when any target found a crash.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     targets: fuzz_kvr fuzz_json fuzz_ini fuzz_codepage
#
# Findings are kept in build-fuzz/fuzz-runs/<target>/artifacts/; replay one
# with build-fuzz/fuzz/<target> <file>. The committed seeds are not changed.
set -euo pipefail
cd "$(dirname "$0")/.."

SECS=${1:-600}
shift || true
ALL=(fuzz_kvr fuzz_json fuzz_ini fuzz_codepage)
TARGETS=("$@")
[ ${#TARGETS[@]} -eq 0 ] && TARGETS=("${ALL[@]}")
BUILD=${KOVIRA_FUZZ_BUILD:-build-fuzz}
JOBS=${KOVIRA_JOBS:-2}

max_len() {
    case $1 in
        fuzz_kvr) echo 8192 ;;
        fuzz_json) echo 16384 ;;
        fuzz_ini) echo 4096 ;;
        fuzz_codepage) echo 4096 ;;
        *) echo "unknown target $1" >&2; exit 2 ;;
    esac
}
for t in "${TARGETS[@]}"; do max_len "$t" >/dev/null; done

cmake -S . -B "$BUILD" -DCMAKE_CXX_COMPILER="${CXX:-clang++}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKOVIRA_FUZZ=ON -DKOVIRA_BUILD_TESTS=OFF -DKOVIRA_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j"$JOBS" --target "${TARGETS[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1:suppressions=$PWD/fuzz/ubsan.supp}

RUNS=$BUILD/fuzz-runs
SUMMARY=()
FOUND=0
for t in "${TARGETS[@]}"; do
    dir=$RUNS/$t
    rm -rf "$dir"
    mkdir -p "$dir/corpus" "$dir/artifacts"
    cp fuzz/corpus/"$t"/* "$dir/corpus/"
    dict=()
    [ -f "fuzz/$t.dict" ] && dict=(-dict="fuzz/$t.dict")
    echo "== $t: ${SECS}s, max_len $(max_len "$t")"
    set +e
    "$BUILD/fuzz/$t" "$dir/corpus" "${dict[@]}" -max_total_time="$SECS" -max_len="$(max_len "$t")" \
        -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 -artifact_prefix="$dir/artifacts/" \
        >"$dir/log" 2>&1
    rc=$?
    set -e
    tail -n 25 "$dir/log"
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/log" | tail -1)
    rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$dir/log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' "$dir/log" | tail -1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$dir/log" | tail -1 | cut -d' ' -f2)
    files=$(find "$dir/corpus" -type f | wc -l)
    crashes=$(find "$dir/artifacts" -type f | wc -l)
    [ "$crashes" -gt 0 ] && FOUND=1
    SUMMARY+=("$(printf '%-14s %10s %8s %6s %7s %7s %7s %8s %3s' "$t" "${execs:--}" "${speed:--}" "${cov:--}" \
        "${ft:--}" "$files" "${rss:--}" "$crashes" "$rc")")
done

echo
printf '%-14s %10s %8s %6s %7s %7s %7s %8s %3s\n' target execs exec/s cov ft corpus rss_mb crashes rc
printf '%s\n' "${SUMMARY[@]}"
[ "$FOUND" -eq 0 ]
