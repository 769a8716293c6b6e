#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's prefix (the tests' emulator).
source "$(dirname "$0")/wine-env.sh"
"$NORVANTA_ROOT/scripts/wine-prefix.sh" || exit 1
exec wine "$@"
