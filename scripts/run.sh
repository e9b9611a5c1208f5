#!/usr/bin/env bash
# Builds the optimised server (Release, no sanitizers, in build-release/, a
# build folder of its own: the test build in build/ keeps its sanitizers)
# and starts it on the simulated board, port 20001 unless arguments say
# otherwise. Files the server writes (pid file, status dump, monitoring
# files) go below build-release/root instead of the system's folders, and the
# simulated board's control socket is board.sock there (GW_ROOT and
# GW_SIM_SOCKET, when set, choose others; relative ones are taken from the
# caller's folder). The server says where the socket is once it serves. One
# server runs per root: a second one on the same root refuses to start.
# GW_RUN_BUILD_ONLY=1 builds without starting it.
set -euo pipefail
# Relative paths are the caller's, not the checkout's.
for var in GW_ROOT GW_SIM_SOCKET; do
  value="${!var:-}"
  if [ -n "$value" ] && [ "${value#/}" = "$value" ]; then
    export "$var=$PWD/$value"
  fi
done
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DGW_SANITIZE=OFF -DGW_TESTS=OFF >/dev/null
cmake --build build-release -j "$(nproc)" --target server
[ "${GW_RUN_BUILD_ONLY:-0}" = 1 ] && exit 0
export GW_ROOT="${GW_ROOT:-$PWD/build-release/root}"
export GW_SIM_SOCKET="${GW_SIM_SOCKET:-$GW_ROOT/board.sock}"
mkdir -p "$GW_ROOT/var/run" "$GW_ROOT/var/log" "$GW_ROOT/usr/local/etc" "$GW_ROOT/dev/misc"
exec ./build-release/server "$@"
