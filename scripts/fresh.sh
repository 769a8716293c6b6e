#!/usr/bin/env bash
# make fresh DIST=<codename>: the README's two commands on a fresh minbase Debian.
# Makes the system with debootstrap (this machine's mirror), clones the checkout's
# HEAD into it, runs `make run` and `make test` there from `env -i` with PATH only,
# and prints each command's result and time. Needs root and the package mirror.
# FRESH_ROOT=<folder> puts the tree elsewhere; FRESH_KEEP=1 keeps it afterwards.
set -uo pipefail
dist="${1:?usage: fresh.sh <codename> (bookworm, trixie)}"
src="$(cd "$(dirname "$0")/.." && pwd)"
base="${FRESH_ROOT:-/var/tmp/norvanta-fresh}"
tree="$base/$dist"
say() { printf 'fresh %s: %s\n' "$dist" "$*"; }
die() { say "$*" >&2; exit 1; }

[ "$(id -u)" = 0 ] || die "needs root (debootstrap, chroot, mounts)"
if ! command -v debootstrap >/dev/null; then
  say "installing debootstrap"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null ||
    die "debootstrap could not be installed"
fi

# The first Debian mirror of this machine's sources (deb822 or one-line form).
mirror=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
  awk '/^URIs:/ { for (i = 2; i <= NF; i++) if ($i !~ /security/) { print $i; exit } }')
[ "$mirror" ] || mirror=$(grep -hE '^deb ' /etc/apt/sources.list 2>/dev/null | awk '$0 !~ /security/ { print $2; exit }')
[ "$mirror" ] || die "no Debian mirror found in /etc/apt/sources.list*"
security=$(cat /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null | grep -v '^[[:space:]]*#' |
  grep -oE 'https?://[^ ]*debian-security' | head -1)

mounted=()
unmount_all() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" 2>/dev/null
  done
  mounted=()
}
# What is still mounted below the tree (a test's own tmpfs included).
mounts_below() { awk -v t="$tree/" 'index($2 "/", t) == 1 { print $2 }' /proc/self/mounts; }
remove_tree() {
  local left
  left=$(mounts_below)
  if [ "$left" ]; then
    say "NOT removing $tree: still mounted there: $(echo $left)" >&2
    return 1
  fi
  rm -rf --one-file-system "$tree"
}
cleanup() {
  unmount_all
  # Mounts a test left behind, deepest first.
  mounts_below | sort -r | while read -r m; do umount "$m" 2>/dev/null || umount -l "$m"; done
  if [ "${FRESH_KEEP:-}" = 1 ]; then say "kept $tree"; else remove_tree; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ -e "$tree" ]; then remove_tree || exit 1; fi
mkdir -p "$base"
say "debootstrap --variant=minbase $dist from $mirror"
t0=$SECONDS
debootstrap --variant=minbase "$dist" "$tree" "$mirror" >"$base/$dist-debootstrap.log" 2>&1 ||
  die "debootstrap failed (see $base/$dist-debootstrap.log)"
{
  printf 'Types: deb\nURIs: %s\nSuites: %s %s-updates\nComponents: main\n' "$mirror" "$dist" "$dist"
  [ "$security" ] && printf '\nTypes: deb\nURIs: %s\nSuites: %s-security\nComponents: main\n' "$security" "$dist"
} >"$tree/etc/apt/sources.list.d/debian.sources"
rm -f "$tree/etc/apt/sources.list"
cp -L /etc/resolv.conf "$tree/etc/resolv.conf" 2>/dev/null
say "base system made in $((SECONDS - t0)) s"

bind() { mkdir -p "$tree$2" && mount "${@:3}" "$1" "$tree$2" && mounted+=("$tree$2"); }
bind proc /proc -t proc || die "cannot mount /proc"
bind sysfs /sys -t sysfs || die "cannot mount /sys"
bind /dev /dev --bind || die "cannot bind /dev"
bind devpts /dev/pts -t devpts -o newinstance,ptmxmode=0666 || die "cannot mount /dev/pts"
bind tmpfs /dev/shm -t tmpfs -o mode=1777 || die "cannot mount /dev/shm"

in_tree() { chroot "$tree" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }
# As the issue's new user: git and make, nothing else.
in_tree bash -c 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq git make' \
  >"$base/$dist-apt.log" 2>&1 || die "git and make could not be installed (see $base/$dist-apt.log)"
git clone -q "$src" "$tree/root/norvanta" || die "cannot clone $src"
say "cloned $(git -C "$src" rev-parse --short HEAD) into /root/norvanta"

results=()
for cmd in "make run" "make test"; do
  log="$base/$dist-${cmd// /-}.log"
  t0=$SECONDS
  # The shell of a fresh container: no locale, no terminal, nothing but PATH.
  in_tree bash -c "cd /root/norvanta && $cmd" </dev/null >"$log" 2>&1
  rc=$?
  results+=("fresh $dist: $cmd: exit $rc in $((SECONDS - t0)) s (log: $log)")
  say "$cmd: exit $rc in $((SECONDS - t0)) s"
  tail -n 25 "$log" | sed 's/^/    /'
done
printf '%s\n' "${results[@]}"
wine_version=$(in_tree wine --version 2>/dev/null || in_tree /usr/lib/wine/wine64 --version 2>/dev/null)
say "Debian $(cat "$tree/etc/debian_version"), ${wine_version:-no wine}"
for r in "${results[@]}"; do [[ "$r" == *": exit 0 in "* ]] || exit 1; done
