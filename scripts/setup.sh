#!/usr/bin/env bash
# Installs, with apt-get, every Debian 12 package that the build, the tests,
# the fuzzers and the benchmarks need. Quiet and quick when all is there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev clang-format-14
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libssl-dev
  libpcsclite-dev pcscd vsmartcard-vpcd
  gcovr
  libengine-gost-openssl
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages: ${missing[*]}; run as root to install them" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
