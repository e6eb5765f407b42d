#!/usr/bin/env bash
# Installs every Debian package the build, the run and the tests need.
# Idempotent: a machine that already has them only pays for one package-list refresh.
set -euo pipefail

packages=(
  # tool chain
  build-essential cmake ninja-build pkg-config git make
  # libraries: the run-time's, and those of the intrinsics built next (URL encoding, passwords)
  libglib2.0-dev libgtk-4-dev zlib1g-dev libcurl4-openssl-dev libcrypt-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # fuzzing
  clang libclang-rt-14-dev
  # test tools
  xvfb xdotool python3 util-linux
  # the debugger whose stack trace fatal reports carry
  gdb
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
