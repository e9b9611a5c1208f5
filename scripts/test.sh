#!/usr/bin/env bash
# Builds and runs every test: the host build under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the board's build (32-bit big-endian
# PowerPC, UndefinedBehaviorSanitizer) under qemu-ppc. Installs missing Debian
# packages first. GW_SKIP_PPC=1 runs the host suite only.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${GW_SKIP_PPC:-0}" = 1 ]; then
  bash scripts/deps.sh
else
  bash scripts/deps.sh ppc
fi
jobs=$(nproc)

cmake -S . -B build -G Ninja -DGW_SANITIZE=ON -DGW_TESTS=ON >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs" --timeout 300)

if [ "${GW_SKIP_PPC:-0}" != 1 ]; then
  cmake -S . -B build-ppc -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-ppc.cmake \
        -DGW_SANITIZE=ON -DGW_SANITIZERS=undefined -DGW_TESTS=ON >/dev/null
  cmake --build build-ppc -j "$jobs"
  (cd build-ppc && ctest --output-on-failure -j "$jobs" --timeout 600 -LE host-only)
fi
