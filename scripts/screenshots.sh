#!/usr/bin/env bash
# Makes docs/page*.png: the wizard's six pages as a user sees them, under Xvfb.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
tmp="$root/build/screenshots"
rm -rf "$tmp" && mkdir -p "$tmp"
"$root/scripts/with-wine.sh" bash -c "wine '$root/build/win32/tests/e2e/screenshots.exe' 'Z:${tmp//\//\\}'"
for f in "$tmp"/*.bmp; do convert "$f" "$root/docs/$(basename "${f%.bmp}").png"; done
ls "$root"/docs/page*.png
