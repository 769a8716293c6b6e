#!/usr/bin/env bash
# Runs the built setup.exe under Wine in the build's prefix.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
exec "$here/with-wine.sh" bash -c 'wine "$NORVANTA_ROOT/build/setup.exe"; echo "setup.exe exited with code $?"'
