#!/usr/bin/env bash
# Creates the build's Wine prefix once; later calls return at once.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
# Bump when the prefix's configuration below changes: older prefixes are remade.
version=5
[ "$(cat "$WINEPREFIX/.norvanta-ready" 2>/dev/null)" = "$version" ] && exit 0
wineserver -k >/dev/null 2>&1 || true
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
# A drive that cannot be written to, for the tests of a read-only destination
# (tests run as root on Linux, where permission bits do not stop a write).
ln -sfn /proc "$WINEPREFIX/dosdevices/r:"
# One virtual desktop for every window: Wine draws the frames itself and no
# window manager is waited for (message boxes return at once under Xvfb).
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
# A program that crashes ends at once, its backtrace on its standard error, instead
# of waiting under Xvfb on a crash dialog that nobody will close.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
wineserver -w || true
echo "$version" > "$WINEPREFIX/.norvanta-ready"
