#!/usr/bin/env bash
# Builds the toolkit and runs the program qxw; arguments are passed to it.
# Without arguments qxw starts on the built-in simulated card (#OSM): it shows
# the reader table and the card's ATR, powers the card off again and ends.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
exec build/release/qxw "$@"
