#!/usr/bin/env bash
# Checks the format of every tracked source; builds with warnings as errors and
# runs every test; rebuilds with AddressSanitizer + UndefinedBehaviorSanitizer
# and runs them again; rebuilds with ThreadSanitizer and runs the programs whose
# tests start threads; then builds the libFuzzer targets with clang and runs
# each briefly. Each build is a preset of CMakePresets.json (build/<preset>).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh

jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-30}

echo "== format"
bash scripts/format.sh --check

echo "== build (warnings as errors)"
cmake --preset ci >/dev/null
cmake --build --preset ci -j "$jobs"
echo "== tests"
ctest --preset ci -j "$jobs" | tee build/ci/ctest.log

echo "== build (ASan + UBSan)"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
echo "== tests under ASan + UBSan"
ctest --preset asan -j "$jobs" | tee build/asan/ctest.log

echo "== build (ThreadSanitizer)"
# ThreadSanitizer cannot share a build with AddressSanitizer: a folder of its
# own, with qxw and the test programs below.
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
echo "== tests under ThreadSanitizer"
# The stream socket with its event thread, the servers and device emulators of
# tests/support, the pcscd fixture and qxw over them live in these programs; the
# crypto library starts no thread. The TLV test of a million siblings starts
# none either and only crawls under ThreadSanitizer's allocator (the preset
# leaves it out).
ctest --preset tsan -j "$jobs" | tee build/tsan/ctest.log

echo "== fuzz targets (clang, ${fuzz_seconds}s each)"
bash scripts/fuzz.sh "$fuzz_seconds"
# One closing line over the test runs (ctest's own totals, plain and sanitized).
logs=(build/ci/ctest.log build/asan/ctest.log build/tsan/ctest.log)
passed=$(cat "${logs[@]}" | grep -c -E 'Test +#[0-9]+: .* Passed ')
skipped=$(cat "${logs[@]}" | grep -c -E 'Test +#[0-9]+: .*Skipped ' || true)
echo "== all checks passed"
echo "tests: ${passed} passed, 0 failed, ${skipped} skipped"
