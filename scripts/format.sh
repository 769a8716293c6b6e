#!/usr/bin/env bash
# Applies the house style (.clang-format), or with --check fails on any file that differs.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h' | while read -r f; do [ -f "$f" ] && echo "$f"; done)
[ ${#files[@]} = 0 ] && exit 0
if [ "${1:-}" = --check ]; then
  bad=0
  for f in "${files[@]}"; do
    if ! clang-format --style=file "$f" | cmp -s - "$f"; then echo "not formatted: $f" >&2; bad=1; fi
  done
  [ $bad = 0 ] || { echo "run 'make format' to apply the house style" >&2; exit 1; }
else
  clang-format --style=file -i "${files[@]}"
fi
