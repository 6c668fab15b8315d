#!/usr/bin/env bash
# Builds the toolkit and runs the program qxw; arguments are passed to it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DZORVIK_TESTS=OFF -DZORVIK_BENCH=OFF >/dev/null
cmake --build build/release -j "$(nproc)"
if [ -x build/release/qxw ]; then
  exec build/release/qxw "$@"
fi
echo "built; the program qxw is not part of this build yet"
