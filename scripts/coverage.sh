#!/usr/bin/env bash
# Builds with gcov instrumentation into build/coverage, runs every test and
# prints gcovr's line and function summary of src/; the per-file table goes to
# build/coverage/coverage.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh

build=build/coverage
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZORVIK_BENCH=OFF \
  -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage >/dev/null
# Counts of an earlier run would be added to this one.
find "$build" -name '*.gcda' -delete 2>/dev/null || true
cmake --build "$build" -j "$(nproc)"
find "$build" -name '*.gcda' -delete
# One test at a time: test programs and qxw share objects, and their counts
# were seen lost when several processes merged the same .gcda files at once.
ctest --test-dir "$build" -j 1 --timeout 600 --output-on-failure >"$build/ctest.log" ||
  { tail -n 60 "$build/ctest.log"; exit 1; }
tail -n 3 "$build/ctest.log"
gcovr --root . --filter 'src/' "$build" --print-summary --output "$build/coverage.txt"
