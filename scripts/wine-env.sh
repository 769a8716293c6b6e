# Sourced by the Wine scripts: the build's own prefix, never the user's.
_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export NORVANTA_ROOT="$_root"
export WINEPREFIX="${NORVANTA_WINEPREFIX:-$_root/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Wine maps the per-user shell folders into HOME: keep them inside the build.
export HOME="$WINEPREFIX.home"
unset WINELOADERNOEXEC
# Wine names files in the locale's character set: without UTF-8 it cannot make
# "Modèles de document". One locale whatever the caller's shell has (C.UTF-8 is in
# the C library of every supported release), so that every shell gets the same run.
export LC_ALL=C.UTF-8
unset LANGUAGE
# Where the kernel runs no 32-bit code (wine-bits.sh), the Windows tests run the 64-bit
# build under the 64-bit loader, which Debian's wrapper does not pick while wine32 is
# installed: "wine", and the tools that start through "wine-stable", go to wine64.
NORVANTA_WINE_BITS="$("$_root/scripts/wine-bits.sh")"
export NORVANTA_WINE_BITS
if [ "$NORVANTA_WINE_BITS" = 64 ] && [ -x /usr/lib/wine/wine64 ]; then
  _shim="$_root/build/wine64-loader"
  if [ ! -x "$_shim/wine-stable" ]; then
    mkdir -p "$_shim"
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$_shim/wine"
    chmod +x "$_shim/wine"
    ln -sf wine "$_shim/wine-stable"
  fi
  case ":$PATH:" in *":$_shim:"*) ;; *) export PATH="$_shim:$PATH" ;; esac
  export WINELOADER=/usr/lib/wine/wine64
fi
