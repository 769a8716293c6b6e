#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks for building and testing the setup.
# Silent and quick when everything is already present.
set -euo pipefail

need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1

pkgs=(
  cmake ninja-build make g++ clang-format
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  libz-mingw-w64-dev zlib1g-dev googletest
  wine wine64 wine32:i386 fonts-wine fonts-liberation xvfb xauth x11-utils imagemagick
  clang libclang-rt-dev python3 git osslsigncode openssl
)
[ "${BOOTSTRAP_EXTRA:-}" ] && pkgs+=(${BOOTSTRAP_EXTRA})

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ "$need_i386" = 0 ] && [ ${#missing[@]} = 0 ] && exit 0

SUDO=""
[ "$(id -u)" = 0 ] || SUDO="sudo"
echo "bootstrap: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
if [ "$need_i386" = 1 ]; then
  $SUDO dpkg --add-architecture i386
fi
# A mirror in mid-sync fails one index now and then; try again, and if it
# still fails go on with the lists there are: the install says if one is missing.
for try in 1 2 3; do
  $SUDO apt-get update -qq >/dev/null && break
  echo "bootstrap: apt-get update failed (try $try of 3)" >&2
  [ "$try" = 3 ] || sleep 10
done
# A name this release does not have stops here, named, rather than in apt's own words.
unavailable=()
for p in "${missing[@]}"; do
  cand=$(apt-cache policy "$p" 2>/dev/null | awk '/Candidate:/ { print $2 }')
  [ -n "$cand" ] && [ "$cand" != "(none)" ] || unavailable+=("$p")
done
if [ ${#unavailable[@]} != 0 ]; then
  release=$(. /etc/os-release && echo "${PRETTY_NAME:-this system}")
  echo "bootstrap: not available from this machine's package sources ($release): ${unavailable[*]}" >&2
  echo "bootstrap: add a source that has them, or install them by hand, then run make again" >&2
  exit 1
fi
install() { $SUDO apt-get install -y -qq --no-install-recommends "$@" "${missing[@]}" >/dev/null; }
if ! install; then
  # wine32:i386 needs its libraries at the same version as the amd64 ones. When
  # one architecture's security index failed to load, the release's own suite
  # still has both at one version: prefer it.
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ "$codename" ] || exit 1
  echo "bootstrap: retrying with the packages of $codename itself" >&2
  install -t "$codename" || { echo "bootstrap: could not install: ${missing[*]}" >&2; exit 1; }
fi
