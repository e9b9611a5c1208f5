#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a number of executions from
# its seeds in tests/fuzz/corpus/, all targets side by side:
#   scripts/fuzz.sh [runs] [target...]      runs: 10000000 by default
# What a run finds new goes to build-fuzz/fuzz-runs/<target>/ (the sources
# are never written); a fault leaves its input there as crash-* and fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh fuzz
runs=${1:-10000000}
shift || true

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DGW_FUZZ=ON -DGW_TESTS=OFF >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(sed -n 's/^gw_fuzz(\([a-z0-9_]*\) .*/\1/p' tests/fuzz/CMakeLists.txt)
fi
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]/%/_fuzz}"

pids=()
for t in "${targets[@]}"; do
  out=build-fuzz/fuzz-runs/$t
  mkdir -p "$out/corpus"
  UBSAN_OPTIONS=halt_on_error=1 build-fuzz/tests/fuzz/${t}_fuzz -runs="$runs" -max_len=4096 \
      -print_final_stats=1 -artifact_prefix="$out/" "$out/corpus" "tests/fuzz/corpus/$t" \
      >"$out/log" 2>&1 &
  pids+=($!)
done
failed=0
for i in "${!targets[@]}"; do
  t=${targets[$i]}
  if wait "${pids[$i]}"; then
    echo "$t: $(grep -m1 '^stat::number_of_executed_units' "build-fuzz/fuzz-runs/$t/log" | awk '{print $2}') executions, no finding"
  else
    echo "$t: FAILED, see build-fuzz/fuzz-runs/$t/log"
    failed=1
  fi
done
exit $failed
