#!/usr/bin/env bash
# Formats the tracked C++ sources with .clang-format; "--check" only reports
# the files that differ and fails when there is one (what CI runs).
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.hpp' '*.h' '*.c')
if [ "${1:-}" = --check ]; then
  clang-format --dry-run -Werror "${files[@]}"
else
  clang-format -i "${files[@]}"
fi
