#!/usr/bin/env bash
# Times the silent uninstall, "qrd.exe -ui /S", after a silent installation:
# RUNS rounds (10 by default) of install then uninstall in the build's Wine
# prefix, each uninstall timed from inside one launcher process
# (bench-launch, bench/launcher.cpp), then the median and the range; beside
# it the same for a program that does nothing (bench/noop.cpp), the floor.
#   make && bash bench/uninstall-time.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export RUNS="${RUNS:-10}" ROOT="$root"
exec env -u DISPLAY bash "$root/scripts/with-wine.sh" bash -c '
  set -euo pipefail
  launch="$ROOT/build/win32/bench/bench-launch.exe"
  setup="$(winepath -w "$ROOT/build/setup.exe")"
  noop="$ROOT/build/win32/bench/noop.exe"
  times=() floor=()
  for i in $(seq 1 "$RUNS"); do
    line="$(wine "$launch" run -- "$setup" /S </dev/null | tr -d "\r")"
    [[ "$line" == exit=0\ * ]] || { echo "install $i: $line" >&2; exit 1; }
    for pf in "Program Files (x86)" "Program Files"; do
      [ -e "$WINEPREFIX/drive_c/$pf/Norvanta/qrd.exe" ] && break
    done
    line="$(wine "$launch" run -- "C:\\$pf\\Norvanta\\qrd.exe" -ui /S </dev/null | tr -d "\r")"
    [[ "$line" == exit=0\ * ]] || { echo "uninstall $i: $line" >&2; exit 1; }
    [ ! -e "$WINEPREFIX/drive_c/$pf/Norvanta" ] || { echo "uninstall $i left the folder" >&2; exit 1; }
    ms="${line#*wall_ms=}"; times+=("${ms%% *}")
    line="$(wine "$launch" run -- "$noop" </dev/null | tr -d "\r")"
    ms="${line#*wall_ms=}"; floor+=("${ms%% *}")
  done
  python3 -c "
import statistics, sys
for name, words in ((\"silent uninstall\", sys.argv[1]), (\"no-op program\", sys.argv[2])):
    t = sorted(float(x) for x in words.split())
    print(f\"{name}, {len(t)} runs: median {statistics.median(t):.1f} ms (min {t[0]:.1f}, max {t[-1]:.1f})\")
" "${times[*]}" "${floor[*]}"
'
