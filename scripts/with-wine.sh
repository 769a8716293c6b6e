#!/usr/bin/env bash
# Runs a command with the build's Wine prefix ready, its wineserver kept up, and
# a virtual display when none is present; stops what it started afterwards.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/wine-prefix.sh" || exit 1
source "$here/wine-env.sh"

xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
  # Xvfb picks a free display itself (-displayfd): a lock file is only seen in its own
  # /tmp, while the socket it binds is shared with every chroot and container of the
  # machine, and two runs side by side must not share a display.
  number="$(mktemp)"
  Xvfb -displayfd 3 -screen 0 "${NORVANTA_SCREEN:-1024x768}x24" -nolisten tcp 3>"$number" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 100); do [ -s "$number" ] && break; sleep 0.1; done
  [ -s "$number" ] && export DISPLAY=":$(tr -dc 0-9 <"$number")"
  rm -f "$number"
  [ -n "${DISPLAY:-}" ] || { echo "with-wine: Xvfb did not start" >&2; exit 1; }
fi

wineserver -p >/dev/null 2>&1
# Start the prefix's services now, with output to nowhere: they inherit it.
wine cmd /c exit >/dev/null 2>&1 </dev/null

"$@"
rc=$?

wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
exit $rc
