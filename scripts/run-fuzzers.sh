#!/usr/bin/env bash
# Runs every libFuzzer target for SECONDS each (default 20), starting from the
# committed seed corpus. New inputs go to a scratch directory, so the
# committed corpus only changes when you copy findings into it.
#   scripts/run-fuzzers.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for seeds in fuzz/corpus/*/; do targets+=("$(basename "$seeds")"); done
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for target in "${targets[@]}"; do
    echo "== $target for ${seconds}s"
    mkdir -p "$scratch/$target"
    status=0
    "build/fuzz/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$scratch/$target-" "$scratch/$target" "fuzz/corpus/$target" \
        >"$scratch/$target.log" 2>&1 || status=$?
    grep -E '^stat::number_of_executed_units' "$scratch/$target.log" || true
    if [ "$status" -ne 0 ]; then
        echo "$target failed (status $status):" >&2
        grep -E -A30 '==[0-9]+==ERROR|deadly signal' "$scratch/$target.log" | head -60 >&2 || true
        for found in "$scratch/$target"-*; do
            [ -f "$found" ] && od -c "$found" | head -20 >&2
        done
        exit 1
    fi
done
