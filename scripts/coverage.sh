#!/usr/bin/env bash
# Builds with gcov instrumentation into build/coverage (preset coverage), runs every test and
# prints gcovr's line and function summary of src/; the per-file table goes to
# build/coverage/coverage.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh

build=build/coverage
cmake --preset coverage >/dev/null
# Counts of an earlier run would be added to this one.
find "$build" -name '*.gcda' -delete 2>/dev/null || true
cmake --build --preset coverage -j "$(nproc)"
find "$build" -name '*.gcda' -delete
# Objects of sources that are gone, and their notes, would count as lines never run.
ninja -C "$build" -t cleandead >/dev/null
find "$build" -name '*.gcno' | while read -r notes; do [ -f "${notes%.gcno}.o" ] || rm -f "$notes"; done
# One test at a time (the preset's): test programs and qxw share objects, and
# their counts were seen lost when several processes merged the same .gcda files at once.
ctest --preset coverage >"$build/ctest.log" ||
  { tail -n 60 "$build/ctest.log"; exit 1; }
tail -n 3 "$build/ctest.log"
gcovr --root . --filter 'src/' "$build" --print-summary --output "$build/coverage.txt"
