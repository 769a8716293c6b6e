#!/usr/bin/env bash
# Runs a command with the build's Wine prefix ready, its wineserver kept up, and
# a virtual display when none is present; stops what it started afterwards.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/wine-prefix.sh" || exit 1
source "$here/wine-env.sh"

xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    break
  done
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
