#!/usr/bin/env bash
# Our aligned-PER decode + re-encode of LGCP messages against Erlang/OTP's
# compiled aligned PER of the same schema, measured in one run: the two
# alternate for ROUNDS rounds (5 by default) and each side's median is kept.
#   bench/lgcp_erlang_compare.sh [HEX...]
# Without arguments: the create rtp message, a tonec signal and a
# 16-packet protoVeze signal. Prints per message both times, the ratio
# (Erlang's time over ours) and our allocator calls per decode.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${GW_BENCH_BUILD:-build-bench}
rounds=${ROUNDS:-5}
ms=${MS:-100}

names=()
hexes=()
if [ $# -eq 0 ]; then
  names=(create-rtp tonec protoVeze16)
  hexes=(
    C00204D2001108214CF0C00D3139322E3136382E31302E32309C400C3139322E3136382E31302E319C42011401509C123456783FB8A186
    400003810203E800A0
    40000992001000011801000010024401000001012001000140010C010800011801010010024401000001012001010140010C010800011801020010024401000001012001020140010C010800011801030010024401000001012001030140010C010800011801040010024401000001012001040140010C010800011801050010024401000001012001050140010C010800011801060010024401000001012001060140010C010800011801070010024401000001012001070140010C010800011801080010024401000001012001080140010C010800011801090010024401000001012001090140010C0108000118010A00100244010000010120010A0140010C0108000118010B00100244010000010120010B0140010C0108000118010C00100244010000010120010C0140010C0108000118010D00100244010000010120010D0140010C0108000118010E00100244010000010120010E0140010C0108000118010F00100244010000010120010F0140010C0108
  )
else
  for h in "$@"; do names+=("${h:0:12}"); hexes+=("$h"); done
fi

command -v erlc >/dev/null || { echo "erlc not found (install erlang-asn1)" >&2; exit 1; }
cmake -S . -B "$build" -G Ninja -DGW_SANITIZE=OFF -DGW_TESTS=OFF -DGW_BENCH=ON \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j 3 --target lgcp_roundtrip_bench >/dev/null

erl=$(mktemp -d)
trap 'rm -rf "$erl"' EXIT
cp "$build"/gen/asn1/modules/erlang/*.asn "$build"/gen/asn1/modules/erlang/order.txt "$erl"/
bash tests/asn1/erlang/compile.sh "$erl" >/dev/null

for ((r = 0; r < rounds; r++)); do
  "$build"/bench/lgcp_roundtrip_bench --ms "$ms" "${hexes[@]}" | sed 's/^/ours /'
  escript bench/lgcp_per_erlang.escript "$erl/per" "$ms" "${hexes[@]}" | sed 's/^/erlang /'
done >"$erl/results"

python3 - "$erl/results" "${names[@]}" -- "${hexes[@]}" <<'PY'
import statistics, sys
args = sys.argv[2:]
cut = args.index("--")
names, hexes = args[:cut], args[cut + 1:]
ours, erl, allocs = {}, {}, {}
for line in open(sys.argv[1]):
    words = line.split()
    if words[0] == "ours":
        ours.setdefault(words[1], []).append(float(words[2]))
        allocs[words[1]] = words[3]
    else:
        erl.setdefault(words[1], []).append(float(words[2]))
print(f"{'message':14} {'ours ns':>9} {'erlang ns':>10} {'ratio':>7} {'allocs/decode':>14}")
for name, hexa in zip(names, hexes):
    a, b = statistics.median(ours[hexa]), statistics.median(erl[hexa])
    print(f"{name:14} {a:9.0f} {b:10.0f} {b / a:6.1f}x {allocs[hexa]:>14}")
PY
