#!/usr/bin/env bash
# Checks the format of every tracked source; builds with warnings as errors and
# runs every test; rebuilds with AddressSanitizer + UndefinedBehaviorSanitizer
# and runs them again; rebuilds with ThreadSanitizer and runs the programs whose
# tests start threads; then builds the libFuzzer targets with clang and runs
# each briefly.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh

jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-30}

echo "== format"
bash scripts/format.sh --check

echo "== build (warnings as errors)"
cmake -S . -B build/ci -G Ninja -DZORVIK_WERROR=ON >/dev/null
cmake --build build/ci -j "$jobs"
echo "== tests"
ctest --test-dir build/ci --output-on-failure -j "$jobs" --timeout 300 | tee build/ci/ctest.log

echo "== build (ASan + UBSan)"
cmake -S . -B build/asan -G Ninja -DZORVIK_WERROR=ON -DZORVIK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/asan -j "$jobs"
echo "== tests under ASan + UBSan"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs" --timeout 600 | tee build/asan/ctest.log

echo "== build (ThreadSanitizer)"
# ThreadSanitizer cannot share a build with AddressSanitizer: a folder of its own.
cmake -S . -B build/tsan -G Ninja -DZORVIK_WERROR=ON -DZORVIK_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/tsan -j "$jobs" --target qxw service_tests sc_tests apps_tests
echo "== tests under ThreadSanitizer"
# The stream socket with its event thread, the servers and device emulators of
# tests/support, the pcscd fixture and qxw over them live in these programs; the
# crypto library starts no thread. The TLV test of a million siblings starts
# none either and only crawls under ThreadSanitizer's allocator.
TSAN_OPTIONS="suppressions=$root/tests/support/tsan.supp" \
  ctest --test-dir build/tsan --output-on-failure -j "$jobs" --timeout 600 \
    -L '^(service_tests|sc_tests|apps_tests)$' -E '^TLVParse\.LongSiblingChainIsReleasedWithoutDeepRecursion$' \
  | tee build/tsan/ctest.log

echo "== fuzz targets (clang, ${fuzz_seconds}s each)"
bash scripts/fuzz.sh "$fuzz_seconds"
# One closing line over the test runs (ctest's own totals, plain and sanitized).
logs=(build/ci/ctest.log build/asan/ctest.log build/tsan/ctest.log)
passed=$(cat "${logs[@]}" | grep -c -E 'Test +#[0-9]+: .* Passed ')
skipped=$(cat "${logs[@]}" | grep -c -E 'Test +#[0-9]+: .*Skipped ' || true)
echo "== all checks passed"
echo "tests: ${passed} passed, 0 failed, ${skipped} skipped"
