#!/usr/bin/env bash
# Builds the server and starts it on the simulated board, port 20001 unless
# arguments say otherwise. Files the server writes (pid file, status dump,
# monitoring files) go below build/root instead of the system's folders.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target server
export GW_ROOT="${GW_ROOT:-$PWD/build/root}"
mkdir -p "$GW_ROOT/var/run" "$GW_ROOT/var/log" "$GW_ROOT/usr/local/etc" "$GW_ROOT/dev/misc"
exec ./build/server "$@"
