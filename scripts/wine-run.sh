#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's prefix (the tests' emulator).
source "$(dirname "$0")/wine-env.sh"
[ -f "$WINEPREFIX/.norvanta-ready" ] || "$NORVANTA_ROOT/scripts/wine-prefix.sh"
exec wine "$@"
