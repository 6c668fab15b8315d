#!/usr/bin/env bash
# Runs every libFuzzer target of build/fuzz for SECONDS each (default 30) with
# its seeds, at most FUZZ_JOBS at once (default: the number of cores), and
# prints each target's executions and result from libFuzzer's closing lines.
# Builds the targets with clang first (preset fuzz) unless FUZZ_NO_BUILD=1.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=${1:-30}
jobs=${FUZZ_JOBS:-$(nproc)}
build=build/fuzz

if [ "${FUZZ_NO_BUILD:-0}" != 1 ]; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$(nproc)"
fi
mapfile -t targets < <(find "$build/fuzz" -maxdepth 1 -type f -executable -name '*_fuzz' | sort)
[ "${#targets[@]}" -gt 0 ] || { echo "no fuzz targets in $build/fuzz"; exit 1; }

echo "== ${#targets[@]} fuzz targets, ${seconds}s each, ${jobs} at a time"
names=()
for t in "${targets[@]}"; do
  name=$(basename "$t")
  names+=("$name")
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/seeds/$name" ] && seeds=("fuzz/seeds/$name")
  rm -f "$build/$name.status"
  # Each run leaves its exit status in a file: a status kept by the shell for a
  # given pid can be gone by the time it is asked for.
  # Crash inputs go next to the log, not into the source tree.
  (
    status=0
    "$t" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/$name-" "$corpus" "${seeds[@]}" >"$build/$name.log" 2>&1 || status=$?
    echo "$status" >"$build/$name.status"
  ) &
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do sleep 1; done
done
wait

failed=0
for name in "${names[@]}"; do
  log="$build/$name.log"
  if [ "$(cat "$build/$name.status" 2>/dev/null)" = 0 ]; then result=ok; else result=FAILED; failed=1; fi
  # libFuzzer's final statistics: stat::number_of_executed_units.
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  last=$(grep -E '^(#[0-9]+|Done [0-9]+ runs)' "$log" | tail -n 1 || true)
  printf 'fuzz %-24s %-6s executions: %s  (%s)\n' "$name" "$result" "${runs:-?}" "$last"
  [ "$result" = ok ] || tail -n 40 "$log"
done
[ "$failed" -eq 0 ]
