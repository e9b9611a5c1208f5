#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that
# are missing, so that a machine that already has them pays nothing.
set -euo pipefail

packages=(
  cmake ninja-build g++ python3
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libboost-dev libloki-dev
  erlang-base erlang-asn1 erlang-dev
  tshark faketime openssl iproute2 nftables snmptrapd ppp
  clang-format
  # Independent link-layer peers of the interoperability tests (host build
  # only: no board build looks for them).
  libpri-dev libosmo-abis-dev libosmocore-dev libss7-dev pkg-config
)
# Extra groups are asked for by name: "$0 ppc fuzz".
for extra in "$@"; do
  case "$extra" in
    ppc)  packages+=(g++-powerpc-linux-gnu qemu-user) ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
SUDO=
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
