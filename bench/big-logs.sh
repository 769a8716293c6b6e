#!/usr/bin/env bash
# A silent install over an earlier Install.log of SIZE_MB (600 by default) and an
# Update.log of a tenth of that, timed and measured by bench-launch (wall time,
# peak working set, peak pagefile use), then a check that every earlier byte is
# still there. By hand, not in make test (it writes some GB):
#   bash scripts/with-wine.sh bash bench/big-logs.sh [SIZE_MB] [setup.exe]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$here/../build"
size_mb="${1:-600}"
setup="$(realpath "${2:-$build/setup.exe}")"
launcher="$build/win32/bench/bench-launch.exe"
[ -n "${WINEPREFIX:-}" ] || { echo "run it under scripts/with-wine.sh" >&2; exit 2; }
winpath() { echo "Z:$(realpath -m "$1" | tr / '\\')"; }

work="$(mktemp -d "$build/big-logs.XXXXXX")"
shared="$WINEPREFIX/drive_c/ProgramData/Norvanta"
trap 'rm -rf "$work" "$shared"' EXIT
mkdir -p "$work/Norvanta" "$shared"
python3 - "$work/Norvanta/Install.log" "$shared/Update.log" "$size_mb" <<'EOF'
import sys
install, update, mb = sys.argv[1], sys.argv[2], int(sys.argv[3])
def write(path, size, line, stamp_every):
    with open(path, "wb") as f:
        n = written = 0
        while written < size:
            chunk = b"".join((b"*%016X\r\n" % (i // stamp_every) if stamp_every and i % stamp_every == 0 else b"")
                             + line % i for i in range(n, n + 10000))
            f.write(chunk)
            written += len(chunk)
            n += 10000
write(install, mb << 20, b"File Copy: C:\\Ancien\\Programme\\Fichier %09d.dat\r\n", 0)
write(update, (mb << 20) // 10, b"C:\\ProgramData\\Norvanta\\Public\\Ancien\\Mod\xc3\xa8le %09d.rtf\t!\r\n", 1000)
EOF
cp "$work/Norvanta/Install.log" "$work/Install.before"
cp "$shared/Update.log" "$work/Update.before"
echo "Install.log $(stat -c %s "$work/Install.before") bytes, Update.log $(stat -c %s "$work/Update.before") bytes"
wine "$launcher" run --timeout 1200000 -- "$(winpath "$setup")" /S "/D$(winpath "$work/Norvanta")" </dev/null 2>/dev/null |
  tr -d '\r'
for log in Install Update; do
  before="$work/$log.before"
  after="$work/Norvanta/$log.log"
  [ $log = Update ] && after="$shared/Update.log"
  if cmp -s -n "$(stat -c %s "$before")" "$before" "$after"; then kept=yes; else kept=NO; fi
  echo "$log.log: $(stat -c %s "$after") bytes after, earlier bytes kept: $kept"
done
