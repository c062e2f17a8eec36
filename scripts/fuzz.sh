#!/usr/bin/env bash
# Builds the pure rules for Linux with clang, AddressSanitizer,
# UndefinedBehaviorSanitizer and libFuzzer (in build/native, beside and apart
# from the cross build) and runs every fuzz target.
#
#   bash scripts/fuzz.sh                   bounded: FUZZ_RUNS runs per target (100000), fixed seed
#   FUZZ_SECONDS=600 bash scripts/fuzz.sh  long: each target for that many seconds, random seed,
#                                          a corpus kept in build/native/corpus/TARGET
#
# Prints the executions of each target; exits non-zero on any finding (the
# input that found it is left in build/native as crash-*/leak-*/timeout-*).
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
native="${NATIVE_BUILD_DIR:-$src/build/native}"
runs="${FUZZ_RUNS:-100000}"
seconds="${FUZZ_SECONDS:-}"

cmake -S "$src/tests/fuzz" -B "$native" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
      -DFUZZ_RUNS="$runs" >/dev/null
cmake --build "$native" -j 2 >/dev/null

targets=$(cd "$native" && ls *_fuzz)
total=0
findings=0
for target in $targets; do
    log="$native/$target.log"
    if [ -n "$seconds" ]; then
        mkdir -p "$native/corpus/$target"
        args=(-max_total_time="$seconds" "$native/corpus/$target")
    else
        args=(-runs="$runs" -seed=1)
    fi
    status=0
    (cd "$native" && "./$target" "${args[@]}" -max_len=320 -print_final_stats=1) >"$log" 2>&1 || status=$?
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    if [ "$status" -ne 0 ]; then
        findings=$((findings + 1))
        echo "$target: FINDING after ${executions:-?} executions (log: $log)"
        grep -E 'ERROR|disagree|runtime error' "$log" | head -5 || true
    else
        echo "$target: ${executions} executions, 0 findings"
    fi
    total=$((total + ${executions:-0}))
done
echo "Fuzzing: $(echo $targets | wc -w) targets, $total executions, $findings findings."
[ "$findings" -eq 0 ]
