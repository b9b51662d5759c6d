#!/usr/bin/env bash
# Runs libFuzzer targets for a while each, several at once, over scratch copies of their corpora.
# Usage: run.sh BUILD_DIR SECONDS JOBS TARGET...
# Inputs found stay under BUILD_DIR/fuzz-work/<target>/corpus and are built on by the next run;
# crash inputs and the log of the last run are kept beside it.
set -u
build=$1 seconds=$2 jobs=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)

run_one() {
    local target=$1 work="$build/fuzz-work/$1"
    mkdir -p "$work/corpus" && rm -f "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*
    cp "$here/corpus/$target"/* "$work/corpus/"
    if "$build/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$work/" "$work/corpus" >"$work/log" 2>&1; then
        local runs=$(grep -o 'number_of_executed_units: *[0-9]*' "$work/log" | grep -o '[0-9]*$')
        echo "ok     $target: ${seconds}s, $runs runs, corpus $(ls "$work/corpus" | wc -l)"
    else
        echo "FAILED $target: see $work/log and the input it names; once fixed, keep that input" \
            "in tests/fuzz/corpus/$target"
        return 1
    fi
}
export -f run_one
export build seconds here

printf '%s\n' "$@" | xargs -P "$jobs" -I{} bash -c 'run_one {}'
