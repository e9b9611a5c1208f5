#!/usr/bin/env bash
# Compiles an ASN.1 module with Erlang/OTP's BER coder into a scratch
# directory and checks a corpus of our encodings against it.
# A missing erlc is a failure, not a skip: the cross-check is required.
# usage: ber_check.sh <module.asn> <ModuleName> <corpus>
set -euo pipefail
src=${1:?usage: ber_check.sh <module.asn> <ModuleName> <corpus>}
module=${2:?}
corpus=${3:?}
command -v erlc >/dev/null || { echo "erlc not found (install erlang-asn1)" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# erlc names its output after the ASN.1 module, and wants the file so named.
cp "$src" "$work/$module.asn"
(cd "$work" && erlc -bber +maps "$module.asn")
escript "$here/ber_check.escript" "$module" "$work" "$corpus"
