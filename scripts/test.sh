#!/usr/bin/env bash
# Builds every test (AddressSanitizer and UndefinedBehaviorSanitizer) and runs
# them all under CTest. Installs missing Debian packages first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)
cmake -S . -B build -G Ninja -DGW_SANITIZE=ON -DGW_TESTS=ON >/dev/null
cmake --build build -j "$jobs"
cd build
ctest --output-on-failure -j "$jobs" --timeout 300
