#!/usr/bin/env bash
# Runs libFuzzer targets for a while each, several at once, over scratch copies of their corpora.
# Usage: run.sh BUILD_DIR SECONDS JOBS TARGET...
# New corpus entries and crash inputs stay under BUILD_DIR/fuzz-work/<target>/.
set -u
build=$1 seconds=$2 jobs=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)

run_one() {
    local target=$1 work="$build/fuzz-work/$1"
    rm -rf "$work" && mkdir -p "$work/corpus"
    cp "$here/corpus/$target"/* "$work/corpus/" 2>/dev/null
    if "$build/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$work/" "$work/corpus" >"$work/log" 2>&1; then
        echo "ok     $target ($(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$work/log" | grep -o '[0-9]*$') runs)"
    else
        echo "CRASH  $target: see $work/log and $work/crash-* (add the input to tests/fuzz/corpus/$target once fixed)"
        return 1
    fi
}
export -f run_one
export build seconds here

printf '%s\n' "$@" | xargs -P "$jobs" -I{} bash -c 'run_one {}'
