#!/usr/bin/env bash
# Makes docs/page*.png and docs/question-fermeture.png: the wizard's six pages as
# a user sees them, under Xvfb, at 100 % (96 pixels per inch), 150 % and 200 %
# (files named -150 and -200), and at 100 % its close question and the
# uninstaller's confirmation (docs/uninstall-confirmation.png).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
tmp="$root/build/screenshots"
rm -rf "$tmp" && mkdir -p "$tmp"
tree=win32
# A kernel that runs no 32-bit code shows the 64-bit build (wine-bits.sh).
[ "$("$root/scripts/wine-bits.sh")" = 64 ] && tree=win64
shots="$root/build/$tree/tests/e2e/screenshots.exe"
# A screen of 2048 by 1536 pixels, as a person who sets 200 % has: the wizard at 200 %
# is larger than 1024 by 768 (under Wine 10) and would not be seen whole.
desktops='HKCU\Software\Wine\Explorer\Desktops'
NORVANTA_SCREEN=2048x1536 "$root/scripts/with-wine.sh" bash -c "
  wine reg add '$desktops' /v Default /d 2048x1536 /f >/dev/null 2>&1
  wine '$shots' 'Z:${tmp//\//\\}' && wine '$shots' 'Z:${tmp//\//\\}' 144 -150 &&
    wine '$shots' 'Z:${tmp//\//\\}' 192 -200
  rc=\$?
  wine reg add '$desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  exit \$rc"
for f in "$tmp"/*.bmp; do convert "$f" "$root/docs/$(basename "${f%.bmp}").png"; done
ls "$root"/docs/page*.png "$root"/docs/question-fermeture.png "$root"/docs/uninstall-confirmation.png "$root"/docs/attente-verrou.png
