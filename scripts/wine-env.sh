# Sourced by the Wine scripts: the build's own prefix, never the user's.
_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export NORVANTA_ROOT="$_root"
export WINEPREFIX="${NORVANTA_WINEPREFIX:-$_root/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Wine maps the per-user shell folders into HOME: keep them inside the build.
export HOME="$WINEPREFIX.home"
unset WINELOADERNOEXEC
