#!/usr/bin/env bash
# Compiles the Erlang variant of the protocol modules with Erlang/OTP's asn1
# compiler: aligned PER into per/, BER into ber/. Modules are compiled in
# import order so that each finds the .asn1db of the modules it imports.
# A missing erlc is a failure, not a skip: the cross-check is required.
set -euo pipefail
dir=${1:?usage: compile.sh <generated erlang dir>}
command -v erlc >/dev/null || { echo "erlc not found (install erlang-asn1)" >&2; exit 1; }
cd "$dir"
for rule in per ber; do
  rm -rf "$rule"
  mkdir -p "$rule"
  while read -r module; do
    [ -n "$module" ] || continue
    erlc "-b$rule" +maps -I "$rule" -o "$rule" "$module.asn"
  done < order.txt
done
echo "compiled: $(tr '\n' ' ' < order.txt)"
