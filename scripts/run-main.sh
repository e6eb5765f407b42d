#!/usr/bin/env bash
# The main job: installs what is needed, builds, installs lumba_run, liblumba-common and the site
# skeleton under /usr/local/oska, then runs the sample program in background mode.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
cmake --install build --prefix /usr/local
ldconfig

# Lay the site skeleton without overwriting what a site already has.
mkdir -p /usr/local/oska
cp -an site/. /usr/local/oska/
mkdir -p /usr/local/oska/{log,temp,crash,bin,apps/unit0}
chmod 1777 /usr/local/oska/temp

/usr/local/bin/lumba_run --version
