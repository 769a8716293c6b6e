#!/usr/bin/env bash
# Creates the build's Wine prefix once; later calls return at once.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
[ -f "$WINEPREFIX/.norvanta-ready" ] && exit 0
rm -rf "$WINEPREFIX" "$HOME"
mkdir -p "$HOME"
echo "wine: creating prefix $WINEPREFIX" >&2
wineboot -i >/dev/null 2>&1 || true
wineserver -w || true
# Per-user shell folders that Wine made as links become real folders of the prefix.
users="$WINEPREFIX/drive_c/users"
for d in "$users"/*/; do
  for l in "$d"* "$d"AppData/Roaming/Microsoft/Windows/*; do
    if [ -L "$l" ]; then rm -f "$l"; mkdir -p "$l"; fi
  done
done
touch "$WINEPREFIX/.norvanta-ready"
