#!/usr/bin/env bash
# make run: the wizard when a display is present; otherwise a silent install
# into a scratch Wine prefix and a short report of what it installed.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
setup="$root/build/setup.exe"
pf="Program Files (x86)"
# A kernel that runs no 32-bit code runs the 64-bit build instead (wine-bits.sh).
if [ "$("$root/scripts/wine-bits.sh")" = 64 ]; then
  setup="$root/build/win64/setup.exe" pf="Program Files"
  echo "This machine's kernel runs no 32-bit code (ia32_emulation off): running the 64-bit build, $setup" >&2
fi

if [ -n "${DISPLAY:-}" ]; then
  exec "$root/scripts/with-wine.sh" bash -c "wine '$setup'; echo \"setup.exe ended with exit code \$?\""
fi

export NORVANTA_WINEPREFIX="$root/build/run-prefix"
report() {
  set +e
  local c="$WINEPREFIX/drive_c" main="$WINEPREFIX/drive_c/$pf/Norvanta"
  # A fresh start: nothing of an earlier run.
  rm -rf "$main" "$c/ProgramData/Norvanta"
  find "$c" -name 'Traitement de texte Norvanta.lnk' -delete 2>/dev/null
  wine reg delete 'HKCU\Software\Norvanta Word Processor' /f >/dev/null 2>&1
  wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Norvanta Word Processor' /reg:32 /f >/dev/null 2>&1
  echo "No display: installing silently (setup.exe /S) into the scratch prefix $WINEPREFIX"
  wine "$setup" /S
  local code=$?
  echo "setup.exe /S ended with exit code $code"
  echo
  echo "== Installed into C:\\$pf\\Norvanta"
  ls -l "$main" 2>/dev/null | tail -n +2
  echo
  echo "== Shared documents in C:\\ProgramData\\Norvanta\\Public"
  echo "$(find "$c/ProgramData/Norvanta/Public" -type f 2>/dev/null | wc -l) files, e.g.:"
  find "$c/ProgramData/Norvanta/Public" -type f 2>/dev/null | sort | head -3 | sed "s|$c|C:|"
  echo
  echo "== Install.log"
  sed 's/\r$//' "$main/Install.log" 2>/dev/null
  echo
  echo "== Shortcuts"
  find "$c" -name 'Traitement de texte Norvanta.lnk' 2>/dev/null | sed "s|$c|C:|"
  echo
  echo "== Registry"
  wine reg query 'HKCU\Software\Norvanta Word Processor\Install' 2>/dev/null | sed 's/\r$//' | grep -v '^$'
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Norvanta Word Processor' /reg:32 2>/dev/null | sed 's/\r$//' | grep -v '^$'
  return $code
}
export -f report
export setup pf
exec "$root/scripts/with-wine.sh" bash -c report
