#!/usr/bin/env bash
# Builds and runs every test: the host build under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the board's build (32-bit big-endian
# PowerPC, UndefinedBehaviorSanitizer) under qemu-ppc, the end-to-end tests
# once more against that build's server under qemu-ppc, the board's own build
# (real driver backend: compiled and linked, it cannot run here), and a short
# run of every fuzz target. Installs missing Debian packages first.
# GW_SKIP_PPC=1 skips both board builds, GW_SKIP_FUZZ=1 the fuzzing.
set -euo pipefail
cd "$(dirname "$0")/.."
extras=()
[ "${GW_SKIP_PPC:-0}" = 1 ] || extras+=(ppc)
[ "${GW_SKIP_FUZZ:-0}" = 1 ] || extras+=(fuzz)
bash scripts/deps.sh "${extras[@]}"
jobs=$(nproc)
# The test builds keep line tables only: a sanitizer's report needs no more,
# and full debug information is a fifth of their compile time. The board's
# own build keeps the build type's full -g.
lines=(-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG")

# The sources keep the one style of .clang-format.
bash scripts/format.sh --check

# The benchmarks are compiled here too (not run), so none falls behind the code it measures.
cmake -S . -B build -G Ninja -DGW_SANITIZE=ON -DGW_TESTS=ON -DGW_BENCH=ON "${lines[@]}" >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs" --timeout 300)

if [ "${GW_SKIP_PPC:-0}" != 1 ]; then
  cmake -S . -B build-ppc -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-ppc.cmake \
        -DGW_SANITIZE=ON -DGW_SANITIZERS=undefined -DGW_TESTS=ON "${lines[@]}" >/dev/null
  cmake --build build-ppc -j "$jobs"
  (cd build-ppc && ctest --output-on-failure -j "$jobs" --timeout 600 -LE host-only)
  # The end-to-end tests and golden transcripts once more, the host's test
  # programs against the board build's server under qemu-ppc: a byte-order
  # fault that only shows end to end is caught here. Tests that need
  # libfaketime skip, saying why.
  ppc=$PWD/build-ppc
  (cd build && GW_SERVER="$ppc/server" \
     GW_SERVER_PREFIX="qemu-ppc -L /usr/powerpc-linux-gnu -E LD_PRELOAD=$ppc/tests/libgw_qemu_shim.so" \
     ctest --output-on-failure -j "$jobs" --timeout 600 -L e2e)
fi

# No test may leave a server behind.
if pgrep -af "$PWD/build(-ppc)?/server( |$)"; then
  echo "server processes left running" >&2
  exit 1
fi

if [ "${GW_SKIP_PPC:-0}" != 1 ]; then
  # The server as it goes onto the board: the kernel drivers' backend, no
  # sanitizers, no tests.
  cmake -S . -B build-board -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-ppc.cmake \
        -DGW_SIMULATED_BOARD=OFF -DGW_SANITIZE=OFF -DGW_TESTS=OFF >/dev/null
  cmake --build build-board -j "$jobs" --target server
fi

if [ "${GW_SKIP_FUZZ:-0}" != 1 ]; then
  # Each fuzz target for its short budget (its seeds, then GW_FUZZ_RUNS
  # executions or GW_FUZZ_SECONDS seconds); scripts/fuzz.sh is the long run.
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DGW_FUZZ=ON -DGW_TESTS=OFF "${lines[@]}" >/dev/null
  cmake --build build-fuzz -j "$jobs" --target gw_fuzz_targets
  (cd build-fuzz && ctest --output-on-failure -j "$jobs" --timeout 600 -L fuzz)
fi
