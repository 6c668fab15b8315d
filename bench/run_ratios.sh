#!/bin/sh
# Runs the paired benchmarks pinned to one core, in interleaved repetitions, and
# prints the table of speed ratios (bench/ratios.py).
# Usage: bench/run_ratios.sh BUILD_DIR [CORE] [REPETITIONS] [MIN_TIME]
set -eu
build=$1
core=${2:-3}
repetitions=${3:-9}
minTime=${4:-0.1}
out=$(mktemp -d)
here=$(dirname "$0")
for bench in hash_bench gost_bench block_cipher_bench asym_bench pcsc_bench; do
    [ -x "$build/bench/$bench" ] || continue
    taskset -c "$core" "$build/bench/$bench" --benchmark_repetitions="$repetitions" \
        --benchmark_enable_random_interleaving=true --benchmark_min_time="$minTime" \
        --benchmark_report_aggregates_only=true --benchmark_out="$out/$bench.json" \
        --benchmark_out_format=json >/dev/null
done
python3 "$here/ratios.py" "$out"/*.json
rm -rf "$out"
