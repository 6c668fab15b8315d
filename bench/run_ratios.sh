#!/bin/sh
# Runs each pair of bench/ratios.py (ours and its reference) by itself, pinned to
# one core, in interleaved repetitions, and prints the table of speed ratios.
# A pair run alone alternates between its two sides only, so that a burst of
# load on a shared machine falls on both alike.
# Usage: bench/run_ratios.sh BUILD_DIR [CORE] [REPETITIONS] [MIN_TIME]
set -eu
build=$1
core=${2:-3}
repetitions=${3:-15}
minTime=${4:-0.1}
here=$(dirname "$0")
out=$(mktemp -d)
row=0
python3 "$here/ratios.py" --plan | while IFS="$(printf '\t')" read -r program filter; do
    row=$((row + 1))
    [ -x "$build/bench/$program" ] || continue
    taskset -c "$core" "$build/bench/$program" --benchmark_filter="$filter" \
        --benchmark_repetitions="$repetitions" --benchmark_enable_random_interleaving=true \
        --benchmark_min_time="$minTime" --benchmark_report_aggregates_only=true \
        --benchmark_out="$out/row$row.json" --benchmark_out_format=json >/dev/null
done
python3 "$here/ratios.py" "$out"/*.json
rm -rf "$out"
