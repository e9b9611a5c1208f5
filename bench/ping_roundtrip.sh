#!/usr/bin/env bash
# Ping round trips of the optimised server (build-release/, as scripts/run.sh
# builds it) against a bare poll-loop TPKT echo, with the switch refresh
# running on the simulated board and with "/dev/hal" absent, in one run;
# then the server's resident memory. Arguments go to bench/ping_roundtrip
# (--rounds R --pings N --cpu N).
set -euo pipefail
cd "$(dirname "$0")/.."
GW_RUN_BUILD_ONLY=1 bash scripts/run.sh
cmake -S . -B build-bench -G Ninja -DGW_SANITIZE=OFF -DGW_TESTS=OFF -DGW_BENCH=ON \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j 3 --target ping_roundtrip >/dev/null
exec build-bench/bench/ping_roundtrip "$PWD/build-release/server" "$@"
